// The validator's report as JUnit XML, which CI systems show: one test
// suite per group, one test case per check.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "validate/Child.h"

namespace validate {

// What one group's child reported.
struct GroupRun {
  std::string name;
  std::vector<Result> results;
  double seconds = 0.0;
  std::set<std::string> started;  // the checks it began
  bool crashed = false;            // its child ended by a signal or an exception
};

std::string junitXml(const Options& o, const std::vector<GroupRun>& runs);

// Throws std::runtime_error when the file cannot be written.
void writeJunit(const std::string& path, const Options& o, const std::vector<GroupRun>& runs);

}  // namespace validate
