// Every check the validator makes, by a stable name ("group.what") that
// --list prints, --only and --skip accept, and the JSON and JUnit reports
// carry. The level is the worst result the check can give.
#pragma once

#include <string>
#include <vector>

namespace validate {

struct Check {
  const char* name;
  const char* level;  // "FAIL" or "WARN"
  const char* description;
};

// In the order they run.
const std::vector<Check>& checks();
const Check* findCheck(const std::string& name);

// "processing" of "processing.in-place".
std::string groupOf(const std::string& checkName);

// Whether a check runs under --only and --skip, each a comma-separated list
// of group and check names (an empty --only chooses everything).
bool selected(const std::string& check, const std::string& only, const std::string& skip);

}  // namespace validate
