// The validator's check groups. Each runs in a child process of its own and
// writes its results to a Report; a crash or hang there is the parent's to
// report.
#pragma once

#include <string>
#include <vector>

#include "validate/Support.h"

namespace validate {

struct Group {
  const char* name;
  void (*run)(const Options&, Report&);
  int timeLimitSeconds;  // at level 5; scaled with the level above it
};

// In the order they run.
const std::vector<Group>& groups();

void checkIdentity(const Options&, Report&);
void checkTexts(const Options&, Report&);
void checkParameters(const Options&, Report&);
void checkPrograms(const Options&, Report&);
void checkProcessing(const Options&, Report&);
void checkRealtime(const Options&, Report&);
void checkFloatState(const Options&, Report&);
void checkThreads(const Options&, Report&);
void checkMidi(const Options&, Report&);
void checkEditor(const Options&, Report&);
void checkLifecycle(const Options&, Report&);
void checkFuzz(const Options&, Report&);

// Whether the real-time interception works in this build; the counters of
// calls made while a thread's audio flag is set.
namespace rt {
bool available();
void begin();  // before the plug-in loads: the modules already there stay unwatched
void watch();  // after it started: watches its module and those that came with it
void setAudioThread(bool on);  // this thread's flag
void reset();
long allocations();
long locks();
long systemCalls();
std::string first();  // the first call counted and where it came from, or ""
}  // namespace rt

}  // namespace validate
