// Running the built vstrun binary from a test, and the files it reads and
// writes (WAV through libsndfile, MIDI bytes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vtest {

struct ProcessResult {
  int status = -1;  // the exit status; -1 when it could not run
  std::string out, err;
};

// Runs vstrun (through the build's emulator when there is one) with args.
ProcessResult runVstrun(const std::vector<std::string>& args);

// A fresh, empty folder for one test's files (removed and re-created).
std::string scratchDir(const std::string& name);
// The files in a folder, by name.
std::vector<std::string> listDir(const std::string& dir);
bool fileExists(const std::string& path);
// Creates a folder (any letters in its name, UTF-8 like every path here).
void makeDir(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);

// A test fixture module by name ("Probe", "NoEntry", ...), as this program
// names it.
std::string fixturePath(const std::string& name);

struct Wav {
  int channels = 0;
  int rate = 0;
  int subtype = 0;            // libsndfile's SF_FORMAT_PCM_16 etc.
  std::vector<float> samples;  // interleaved
  int64_t frames() const { return channels ? static_cast<int64_t>(samples.size()) / channels : 0; }
  float at(int64_t frame, int channel) const { return samples[static_cast<size_t>(frame * channels + channel)]; }
};

// Writes a WAV; subtype is SF_FORMAT_PCM_16, SF_FORMAT_PCM_24 or SF_FORMAT_FLOAT.
void writeWav(const std::string& path, const Wav& wav);
// Reads a WAV; ok false when it cannot.
Wav readWav(const std::string& path, bool* ok);

// Standard MIDI File bytes: a header and tracks given as raw event bytes
// (delta times included).
std::string midiFile(int format, int division, const std::vector<std::string>& tracks);

}  // namespace vtest
