#include "validate/Checks.h"

#include <sstream>

namespace validate {

const std::vector<Check>& checks() {
  static const std::vector<Check> list = {
      {"identity.magic", "FAIL", "the record starts with the VstP magic"},
      {"identity.counts", "FAIL", "no negative pin, parameter or program count (WARN: more than 64 pins)"},
      {"identity.entries", "FAIL", "dispatcher, setParameter and getParameter are set"},
      {"identity.replacing", "FAIL",
       "CanReplacing comes with a processReplacing entry (WARN: no CanReplacing flag, or no process entry)"},
      {"identity.flags", "WARN", "no unknown flag bits"},
      {"identity.io-ratio", "WARN", "ioRatio is 1 or 1.0"},
      {"identity.unique-id", "WARN", "a unique id other than 0"},
      {"identity.instances", "FAIL", "calling the entry twice gives two independent instances"},
      {"texts.strings", "FAIL",
       "names, labels, displays and strings stay within the buffer and are terminated (WARN: longer than the "
       "conventional length)"},
      {"texts.pins", "FAIL", "pin records stay within 128 bytes, labels terminated (WARN: short label unterminated)"},
      {"parameters.values", "FAIL",
       "parameters set to 0, 0.5, 1, -0.5 and 1.5 read back finite (WARN: outside 0..1 after a value in range); "
       "display texts in bounds"},
      {"parameters.bad-indices", "FAIL", "out-of-range parameter indices are harmless"},
      {"parameters.output", "FAIL", "finite output after the parameter sweep"},
      {"programs.switching", "FAIL",
       "every program selected, its name in bounds (WARN: effGetProgram does not follow effSetProgram)"},
      {"programs.bad-numbers", "FAIL",
       "out-of-range program numbers are harmless (WARN: one becomes the current program)"},
      {"programs.rename", "FAIL", "a program renamed reads back within bounds"},
      {"programs.output", "FAIL", "finite output after program changes"},
      {"processing.block-sizes", "FAIL", "blocks of 1 to 8192 frames: finite output, nothing written past the block"},
      {"processing.oversized-block", "WARN", "a block larger than announced is handled"},
      {"processing.sample-rates", "FAIL",
       "sample rates 8000 to 384000 Hz give finite output (WARN: only below 22050 or above 192000 Hz)"},
      {"processing.accumulating", "FAIL",
       "process adds to the outputs (WARN instead when the plug-in declares it can replace)"},
      {"processing.denormal-output", "FAIL", "no denormal output from the first block after the input falls silent"},
      {"processing.twins", "WARN", "two instances fed the same input give the same output"},
      {"processing.in-place", "FAIL", "in-place buffers give the output of separate ones"},
      {"processing.block-independence", "WARN", "the same output whatever the block size"},
      {"realtime.audio-thread", "FAIL",
       "no allocation, lock or system call on the audio thread after the first blocks (WARN: in the first blocks only)"},
      {"floatstate.control-word", "FAIL", "every call leaves the caller's MXCSR and x87 control word as they were"},
      {"floatstate.foreign-modes", "WARN", "output under flush-to-zero and rounding toward zero matches the default's"},
      {"floatstate.denormal-input", "WARN", "denormal input costs at most twice normal input"},
      {"threads.concurrent", "FAIL", "processing stays finite while other threads change parameters and idle the editor"},
      {"midi.empty", "FAIL", "empty event lists, then finite output"},
      {"midi.one-note", "FAIL", "one note per list, then finite output"},
      {"midi.long", "FAIL", "lists of 1000 events, then finite output"},
      {"midi.out-of-order", "FAIL", "events with falling deltaFrames, then finite output"},
      {"midi.outside-block", "FAIL", "deltaFrames outside the block, then finite output"},
      {"midi.sysex", "FAIL", "SysEx entries, then finite output"},
      {"midi.random-bytes", "FAIL", "events of random bytes, then finite output"},
      {"editor.rect-before", "WARN", "effEditGetRect gives a plausible size before opening"},
      {"editor.open-close", "WARN",
       "the editor opens on a real parent window, gives its size, idles and closes, 20 times"},
      {"editor.while-processing", "FAIL", "opening and closing the editor while another thread processes"},
      {"lifecycle.memory", "FAIL",
       "resident memory does not keep growing over instance cycles or over load cycles (WARN: grows by more than 16 MiB in "
       "all)"},
      {"lifecycle.handles", "FAIL",
       "open files or handles do not keep growing over instance cycles or over load cycles (WARN: more than 4 in all)"},
      {"lifecycle.close-with-editor", "FAIL", "an instance closed and unloaded with its editor open"},
      {"fuzz.dispatcher", "FAIL", "seeded random dispatcher calls, blocks and parameter changes without a fault"},
  };
  return list;
}

const Check* findCheck(const std::string& name) {
  for (const Check& c : checks())
    if (name == c.name) return &c;
  return nullptr;
}

std::string groupOf(const std::string& checkName) { return checkName.substr(0, checkName.find('.')); }

namespace {
bool listed(const std::string& check, const std::string& list) {
  std::stringstream names(list);
  for (std::string name; std::getline(names, name, ',');)
    if (name == check || name == groupOf(check)) return true;
  return false;
}
}  // namespace

bool selected(const std::string& check, const std::string& only, const std::string& skip) {
  return (only.empty() || listed(check, only)) && !listed(check, skip);
}

}  // namespace validate
