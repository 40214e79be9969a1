#include "validate/Checks.h"

#include <sstream>

namespace validate {

const std::vector<Check>& checks() {
  static const std::vector<Check> list = {
      {"identity.magic", "FAIL", "the record starts with the VstP magic"},
      {"identity.counts", "FAIL", "no negative pin, parameter or program count (WARN: more than 64 pins)"},
      {"identity.entries", "FAIL", "dispatcher, setParameter and getParameter are set"},
      {"identity.replacing", "FAIL",
       "CanReplacing comes with a processReplacing entry, and there is an entry to process with (WARN: no "
       "CanReplacing flag, no processReplacing, or no process entry)"},
      {"identity.flags", "WARN", "no unknown flag bits"},
      {"identity.io-ratio", "WARN", "ioRatio is 1 or 1.0"},
      {"identity.unique-id", "WARN", "a unique id other than 0"},
      {"identity.instances", "FAIL", "calling the entry twice gives two independent instances"},
      {"texts.strings", "FAIL",
       "names, labels, displays and strings stay within the buffer and are terminated (WARN: longer than the "
       "conventional length)"},
      {"texts.pins", "FAIL", "pin records stay within 128 bytes, labels terminated (WARN: short label unterminated)"},
      {"parameters.values", "FAIL",
       "parameters set to 0, 0.5 and 1 read back finite (WARN: outside 0..1); display texts in bounds"},
      {"parameters.output", "FAIL", "finite output after the parameter sweep"},
      {"programs.switching", "FAIL",
       "every program selected, its name in bounds (WARN: effGetProgram does not follow effSetProgram)"},
      {"programs.rename", "FAIL", "a program renamed reads back within bounds"},
      {"programs.output", "FAIL", "finite output after program changes"},
      {"processing.block-sizes", "FAIL", "blocks of 1 to 8192 frames: finite output, nothing written past the block"},
      {"processing.sample-rates", "FAIL",
       "sample rates 8000 to 384000 Hz give finite output (WARN: only below 22050 or above 192000 Hz)"},
      {"processing.accumulating", "FAIL",
       "process adds to the outputs, in a plug-in that does not declare it can replace (hosts call its process)"},
      {"processing.denormal-output", "FAIL",
       "after the input falls silent, no block whose output is 1/64 or more denormal (WARN: stray denormals)"},
      {"processing.twins", "WARN", "two instances fed the same input give the same output"},
      {"processing.in-place", "FAIL", "in-place buffers give the output of separate ones"},
      {"processing.block-independence", "WARN", "the same output whatever the block size"},
      {"realtime.audio-thread", "FAIL",
       "no allocation, lock or system call on the audio thread after the first blocks (WARN: in the first blocks "
       "only; a slot that could not be watched)"},
      {"floatstate.control-word", "FAIL", "every call leaves the caller's MXCSR and x87 control word as they were"},
      {"floatstate.foreign-modes", "WARN", "output under flush-to-zero and rounding toward zero matches the default's"},
      {"floatstate.denormal-input", "WARN", "denormal input costs at most twice normal input"},
      {"threads.concurrent", "FAIL",
       "processing with MIDI stays finite while other threads change parameters and programs and idle the editor"},
      {"midi.empty", "FAIL", "empty event lists, then finite output"},
      {"midi.one-note", "FAIL", "one note per list, then finite output"},
      {"midi.long", "FAIL", "lists of 1000 events in time order, then finite output"},
      {"midi.sysex", "FAIL", "SysEx entries with a note, then finite output"},
      {"midi.random-messages", "FAIL", "lists of random channel messages in time order, then finite output"},
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
      {"fuzz.dispatcher", "FAIL",
       "seeded random dispatcher calls hosts send, blocks and parameter changes, without a fault"},
      {"robustness.parameter-indices", "WARN", "parameter indices outside the count set, read and asked for texts"},
      {"robustness.parameter-values", "WARN", "parameters set to -0.5 and 1.5"},
      {"robustness.program-numbers", "WARN", "program numbers outside the count selected and asked for names"},
      {"robustness.oversized-block", "WARN", "a block larger than announced"},
      {"robustness.accumulating", "WARN", "process adds to the outputs, in a plug-in that declares it can replace"},
      {"robustness.midi-order", "WARN", "events with falling deltaFrames"},
      {"robustness.midi-outside-block", "WARN", "deltaFrames outside the block"},
      {"robustness.midi-bytes", "WARN", "an empty SysEx and events of random bytes"},
      {"robustness.call-order", "WARN", "effOpen to an open instance, effEditIdle without an open editor"},
      {"robustness.fuzz", "WARN",
       "seeded random calls of every opcode, undefined ones too, with random indices, values and buffers"},
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
