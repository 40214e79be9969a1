// Standard MIDI Files (types 0 and 1) read into timed channel messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vstrun {

struct TimedMidi {
  double seconds = 0.0;   // from the start of the file, tempo changes applied
  uint8_t bytes[3] = {};  // status and up to two data bytes
  int size = 0;           // 2 or 3
};

// Reads a Standard MIDI File from memory: type 0 or 1, ticks per quarter
// note or SMPTE timing, tempo changes from any track, running status.
// Meta events and system exclusive messages are skipped. Messages come out
// ordered by time; at equal times, by track and then by their order in it.
// Throws std::runtime_error with a one-line reason for anything malformed.
std::vector<TimedMidi> parseMidiFile(const std::vector<uint8_t>& data);

// Reads the file at path, then parses it as above.
std::vector<TimedMidi> readMidiFile(const std::string& path);

}  // namespace vstrun
