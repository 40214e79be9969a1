// What a group's child process works from (the options) and what it writes
// (the report), and the words and seeds the parent and children share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace validate {

// How deep the checks go and what they work on; shared by the parent and
// every group's child process.
struct Options {
  std::string module;
  int level = 5;
  uint64_t seed = 0;
  std::string only, skip;  // comma-separated group and check names
};

// "PASS", "WARN" or "FAIL" for a result line's letter.
const char* word(char kind);

// A seed for one part of the run (a group, a check) from the run's seed and
// the part's name, so that the part sees the same numbers however it is
// chosen.
uint64_t derivedSeed(uint64_t seed, const std::string& name);

// printf into a std::string.
#if defined(__MINGW_PRINTF_FORMAT)
#define VALIDATE_PRINTF __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)))
#elif defined(__GNUC__)
#define VALIDATE_PRINTF __attribute__((format(printf, 1, 2)))
#else
#define VALIDATE_PRINTF
#endif
std::string format(const char* fmt, ...) VALIDATE_PRINTF;

// A group's child writes one line per result: "P", "W" or "F", a tab and the
// text; "S", a tab and the step it is about to take, so that a crash can be
// told with what the plug-in was doing; "C", a tab and the name of the check
// that the following lines belong to.
class Report {
 public:
  Report(std::FILE* out, const Options& o) : out_(out), options_(o) {}
  // Runs body as the named check unless --only or --skip leave it out.
  template <class Body>
  void check(const char* name, Body&& body) {
    if (begin(name)) body();
  }
  // Announces the check; false when it is not selected. Throws
  // std::logic_error for a name that is not in the list of checks.
  bool begin(const char* name);
  // A generator seeded from the run's seed and the current check's name, so
  // that a check run on its own sees the same numbers.
  std::mt19937 rng() const;
  void pass(const std::string& text) { line('P', text); }
  void warn(const std::string& text) { line('W', text); }
  void fail(const std::string& text) { line('F', text); }
  void step(const std::string& text) { line('S', text + stepNote_); }
  // Appended to every later step, so that a crash also tells what went
  // wrong just before (an X display that could not be reached).
  void noteSteps(const std::string& note) { stepNote_ = note; }
  int failures() const { return failures_; }

 private:
  void line(char kind, const std::string& text);
  std::FILE* out_;
  const Options& options_;
  std::string current_, stepNote_;
  int failures_ = 0;
};

}  // namespace validate
