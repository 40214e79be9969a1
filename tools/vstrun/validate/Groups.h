// The validator's check groups. Each runs in a child process of its own and
// writes its results to a Report; a crash or hang there is the parent's to
// report.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "validate/Buffers.h"
#include "validate/EventList.h"
#include "validate/Instance.h"
#include "validate/Opcodes.h"
#include "validate/Report.h"
#include "validate/Samples.h"

namespace validate {

struct Group {
  const char* name;
  void (*run)(const Options&, Report&);
  int timeLimitSeconds;  // at level 5; scaled with the level above it
  // A group of calls no host sends: each check runs in a child of its own,
  // and whatever the plug-in does to them (a crash, a hang) is a WARN.
  bool hostile = false;
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
void checkRobustness(const Options&, Report&);

// Shared by the groups that ask for texts: one request into a guarded,
// zeroed buffer of the size every host buffer of vstrun has, its faults told
// (a write outside the buffer, no terminator: a FAIL, or a WARN where fault
// is false) and its length tallied against the convention, per opcode.
struct TextTally {
  int asked = 0, long_ = 0, longestIndex = -1;
  size_t longest = 0;
  bool failed = false;
};
using TextTallies = std::map<VstInt32, TextTally>;
void askText(const char* group, Instance& inst, Report& report, TextTallies& tallies, VstInt32 op, VstInt32 index,
             VstIntPtr value = 0, bool fault = true);
// One line per opcode asked: a WARN for texts longer than the convention,
// else a PASS.
void reportTexts(Report& report, const char* group, const TextTallies& tallies);

// One block through the entry hosts call after a group's changes; a FAIL
// (or a WARN where fault is false) when the output is not finite.
void finiteAfterwards(Instance& inst, Report& report, const char* group, const char* after, bool fault = true);

// Pieces the robustness group shares with the groups of calls hosts send,
// there with a WARN where those FAIL.
void oversizedBlock(const Options& o, Report& report);
void accumulating(const Options& o, Report& report, bool hostsCallProcess);
struct MidiKind {
  const char* check;
  const char* what;  // "of one note"
  void (*fill)(EventList& list, std::mt19937& rng);
};
void midiLists(const Options& o, Report& report, const MidiKind* kinds, size_t count, bool fault);
void fuzz(const Options& o, Report& report, bool hostile);

}  // namespace validate
