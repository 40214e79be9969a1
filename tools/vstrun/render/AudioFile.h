// WAV files through libsndfile: a reader, and a writer that builds the file
// under a temporary name beside its destination and renames it only when
// complete, so a failed render never leaves a partial file behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef struct sf_private_tag SNDFILE;

namespace vstrun {

enum class SampleFormat { Pcm16, Pcm24, Float, Other };

// "pcm16", "pcm24", "float"; throws std::runtime_error for anything else.
SampleFormat parseSampleFormat(const std::string& name);
const char* sampleFormatName(SampleFormat format);

class AudioReader {
 public:
  // Throws std::runtime_error when the file is missing, unreadable or not
  // audio that libsndfile understands.
  explicit AudioReader(const std::string& path);
  ~AudioReader();
  AudioReader(const AudioReader&) = delete;
  AudioReader& operator=(const AudioReader&) = delete;

  int channels() const { return channels_; }
  double sampleRate() const { return sampleRate_; }
  int64_t frames() const { return frames_; }
  // The file's sample format, Other when it is none of the three.
  SampleFormat format() const { return format_; }
  int subtype() const { return subtype_; }

  // Reads up to frames interleaved frames; returns how many it read (0 at
  // the end). Throws on a read error.
  int64_t read(float* interleaved, int64_t frames);
  void close();

 private:
  std::string path_;
  SNDFILE* file_ = nullptr;
  int channels_ = 0;
  double sampleRate_ = 0;
  int64_t frames_ = 0;
  int subtype_ = 0;
  SampleFormat format_ = SampleFormat::Other;
};

class AudioWriter {
 public:
  // Creates the temporary file beside path. Format Other keeps sfSubtype
  // (a libsndfile WAV subtype) when WAV can hold it, else writes float.
  // Throws std::runtime_error when the file cannot be created.
  AudioWriter(const std::string& path, int channels, int sampleRate, SampleFormat format, int sfSubtype = 0);
  // Without commit(), removes the temporary file.
  ~AudioWriter();
  AudioWriter(const AudioWriter&) = delete;
  AudioWriter& operator=(const AudioWriter&) = delete;

  // Writes interleaved frames. Non-finite samples are written as 0 and
  // counted; PCM output clips at full scale rather than wrapping.
  void write(const float* interleaved, int64_t frames);
  // Closes the file and moves it to its destination.
  void commit();
  // Closes and removes the temporary file; the destination is not touched.
  void discard() { abandon(); }

  int64_t nonFiniteSamples() const { return nonFinite_; }
  const std::string& temporaryPath() const { return temp_; }

 private:
  void abandon();

  std::string path_, temp_;
  SNDFILE* file_ = nullptr;
  int channels_ = 0;
  int64_t nonFinite_ = 0;
  std::vector<float> scratch_;
};

}  // namespace vstrun
