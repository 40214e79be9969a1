// What `vstrun info` prints about an instance: text for people, or one JSON
// object for programs.
#pragma once

#include <cstdio>
#include <string>

#include "vsthost/Plugin.h"

namespace vstrun {

void printInfoText(std::FILE* out, const std::string& path, const std::string& entry, const vsthost::FullInfo& info);
void printInfoJson(std::FILE* out, const std::string& path, const std::string& entry, const vsthost::FullInfo& info);

}  // namespace vstrun
