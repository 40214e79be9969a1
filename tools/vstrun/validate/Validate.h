// `vstrun validate`: runs every check group against a module, each in a
// child process of its own with a time limit, and reports what it saw.
#pragma once

#include <cstdio>
#include <string>

#include "validate/Report.h"

namespace validate {

struct Arguments {
  Options options;  // options.only and options.skip: comma-separated group and check names
  bool seedGiven = false;
  bool json = false;
  std::string junit;       // a JUnit XML report to write, or ""
  std::string childGroup;  // set in a child process (Windows): run this group only
};

// The whole validation; returns the exit status (0 only when nothing failed).
// Throws std::runtime_error for bad arguments.
int run(Arguments args, std::FILE* out);

// In a child process: one group's result lines on out.
int runChild(const Arguments& args, std::FILE* out);

// Every check's name, level and description, one a line.
void listChecks(std::FILE* out);

}  // namespace validate
