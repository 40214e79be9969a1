// Running one check group in a child process of its own: forked on Linux,
// vstrun started again with --child on Windows. The child writes result
// lines; the parent reads them, watches for a hang and tells how the child
// ended.
#pragma once

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "validate/Groups.h"

namespace validate {

struct Result {
  char kind;  // 'P', 'W', 'F'
  std::string text;
  std::string check;  // the check it belongs to; empty for the group as a whole
};

// What a child said, line by line; remembers the last step and check.
struct ChildOutput {
  std::string pending, lastStep, lastCheck;
  std::set<std::string> checksStarted;
  bool finished = false;
  std::vector<Result> results;
  std::chrono::steady_clock::time_point lastActivity = std::chrono::steady_clock::now();
  void feed(const char* data, size_t n) {
    lastActivity = std::chrono::steady_clock::now();
    pending.append(data, n);
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();  // a Windows child's text-mode output
      if (line.size() < 2 || line[1] != '\t') continue;
      const std::string text = line.substr(2);
      switch (line[0]) {
        case 'S': lastStep = text; break;
        case 'C':
          lastCheck = text;
          checksStarted.insert(text);
          break;
        case 'E': finished = true; break;
        case 'P':
        case 'W':
        case 'F': results.push_back({line[0], text, lastCheck}); break;
        default: break;
      }
    }
  }
};

// How a child ended.
struct Ending {
  bool timedOut = false;
  bool crashed = false;
  long code = 0;  // exit status, signal or exception code
};

// Decides when a child is hung. It is fed the wall time that passed and the
// part of it that was the child's own (the time it ran, or was blocked with
// nothing to run; not the time it waited for a processor). No step for
// limit s of its own time, or 10 x limit s of its own time for the whole
// group, is a hang; so are 10 x limit s on the clock without a step and
// 40 x limit s on the clock for the group, however starved the child was.
class HangWatch {
 public:
  explicit HangWatch(int limitSeconds) : limit_(limitSeconds) {}
  void advance(double wall, double credited, std::chrono::steady_clock::time_point lastLine);
  bool overdue() const;

 private:
  double limit_, silentOwn_ = 0, silentWall_ = 0, totalOwn_ = 0, totalWall_ = 0;
  std::chrono::steady_clock::time_point lastLine_{};
};

// Runs the group in this process, writing its lines on out; catches what the
// group throws. Each group gets a seed of its own, derived from o.seed.
void runGroupHere(const Group& g, const Options& o, std::FILE* out);

// Runs the group in a child process; kills it when it hangs.
Ending runChildProcess(const Group& g, const Options& o, int limitSeconds, ChildOutput& output);

// "crashed (signal 11, Segmentation fault)", "ended early with status 3".
std::string describeEnding(const Ending& e);

// In a Windows child: no error dialogs; a crash ends the process with the
// exception code as its status.
void prepareChild();

}  // namespace validate
