// Any bytes as a Standard MIDI File: either a one-line refusal or messages
// in time order, each a channel message of its proper length.
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "FuzzCheck.h"
#include "render/MidiFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<vstrun::TimedMidi> messages;
  try {
    messages = vstrun::parseMidiFile(std::vector<uint8_t>(data, data + size));
  } catch (const std::runtime_error&) {
    return 0;
  }
  double last = 0.0;
  for (const vstrun::TimedMidi& m : messages) {
    FUZZ_CHECK(m.seconds >= last && !std::isnan(m.seconds));
    last = m.seconds;
    FUZZ_CHECK(m.bytes[0] >= 0x80 && m.bytes[0] < 0xF0);
    const int kind = m.bytes[0] & 0xF0;
    FUZZ_CHECK(m.size == ((kind == 0xC0 || kind == 0xD0) ? 2 : 3));
    for (int i = 1; i < m.size; ++i) FUZZ_CHECK(m.bytes[i] < 0x80);
  }
  return 0;
}
