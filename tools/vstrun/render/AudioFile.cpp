#include "render/AudioFile.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#include <process.h>
#define vstrun_getpid _getpid
#else
#include <unistd.h>
#define vstrun_getpid getpid
#endif

#include <sndfile.h>

#include "vsthost/Files.h"

namespace vstrun {

SampleFormat parseSampleFormat(const std::string& name) {
  if (name == "pcm16") return SampleFormat::Pcm16;
  if (name == "pcm24") return SampleFormat::Pcm24;
  if (name == "float") return SampleFormat::Float;
  throw std::runtime_error("unknown sample format \"" + name + "\" (expected pcm16, pcm24 or float)");
}

const char* sampleFormatName(SampleFormat format) {
  switch (format) {
    case SampleFormat::Pcm16: return "pcm16";
    case SampleFormat::Pcm24: return "pcm24";
    case SampleFormat::Float: return "float";
    default: return "other";
  }
}

namespace {

using vsthost::isDirectory;
using vsthost::removeFile;

SNDFILE* openSoundFile(const std::string& path, int mode, SF_INFO* info) {
#ifdef _WIN32
  return sf_wchar_open(vsthost::widen(path).c_str(), mode, info);
#else
  return sf_open(path.c_str(), mode, info);
#endif
}

}  // namespace

AudioReader::AudioReader(const std::string& path) : path_(path) {
  if (std::FILE* f = vsthost::openFile(path, "rb")) {
    std::fclose(f);
  } else {
    throw std::runtime_error(path + ": cannot open the input file");
  }
  if (isDirectory(path)) throw std::runtime_error(path + ": is a folder, not an audio file");
  SF_INFO info{};
  file_ = openSoundFile(path, SFM_READ, &info);
  if (!file_) throw std::runtime_error(path + ": not an audio file this program reads (" + sf_strerror(nullptr) + ")");
  if (info.channels < 1 || info.samplerate < 1) {
    sf_close(file_);
    file_ = nullptr;
    throw std::runtime_error(path + ": the audio file has no channels or no sample rate");
  }
  channels_ = info.channels;
  sampleRate_ = info.samplerate;
  frames_ = info.frames;
  subtype_ = info.format & SF_FORMAT_SUBMASK;
  switch (subtype_) {
    case SF_FORMAT_PCM_16: format_ = SampleFormat::Pcm16; break;
    case SF_FORMAT_PCM_24: format_ = SampleFormat::Pcm24; break;
    case SF_FORMAT_FLOAT: format_ = SampleFormat::Float; break;
    default: format_ = SampleFormat::Other; break;
  }
}

AudioReader::~AudioReader() { close(); }

void AudioReader::close() {
  if (file_) sf_close(file_);
  file_ = nullptr;
}

int64_t AudioReader::read(float* interleaved, int64_t frames) {
  if (!file_) return 0;
  const sf_count_t n = sf_readf_float(file_, interleaved, frames);
  if (n < 0 || (n < frames && sf_error(file_) != SF_ERR_NO_ERROR))
    throw std::runtime_error(path_ + ": read error (" + sf_strerror(file_) + ")");
  return n;
}

AudioWriter::AudioWriter(const std::string& path, int channels, int sampleRate, SampleFormat format, int sfSubtype)
    : path_(path), channels_(channels) {
  if (path.empty()) throw std::runtime_error("no output file given");
  if (isDirectory(path)) throw std::runtime_error(path + ": is a folder; name the output file");
  // Beside the destination, so the final rename stays on one file system.
  const size_t slash = path.find_last_of("/\\");
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  temp_ = dir + "." + base + ".vstrun-" + std::to_string(vstrun_getpid()) + ".tmp";

  int subtype = SF_FORMAT_FLOAT;
  switch (format) {
    case SampleFormat::Pcm16: subtype = SF_FORMAT_PCM_16; break;
    case SampleFormat::Pcm24: subtype = SF_FORMAT_PCM_24; break;
    case SampleFormat::Float: subtype = SF_FORMAT_FLOAT; break;
    case SampleFormat::Other: {
      SF_INFO probe{};
      probe.channels = channels;
      probe.samplerate = sampleRate;
      probe.format = SF_FORMAT_WAV | sfSubtype;
      subtype = sfSubtype && sf_format_check(&probe) ? sfSubtype : SF_FORMAT_FLOAT;
      break;
    }
  }
  SF_INFO info{};
  info.channels = channels;
  info.samplerate = sampleRate;
  info.format = SF_FORMAT_WAV | subtype;
  if (!sf_format_check(&info)) throw std::runtime_error(path + ": WAV cannot hold this many channels or this rate");
  file_ = openSoundFile(temp_, SFM_WRITE, &info);
  if (!file_) {
    removeFile(temp_);
    throw std::runtime_error(path + ": cannot write the output file (" + sf_strerror(nullptr) + ")");
  }
  // Without this, libsndfile wraps samples beyond full scale around.
  sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

AudioWriter::~AudioWriter() { abandon(); }

void AudioWriter::abandon() {
  if (file_) {
    sf_close(file_);
    file_ = nullptr;
  }
  if (!temp_.empty()) {
    removeFile(temp_);
    temp_.clear();
  }
}

void AudioWriter::write(const float* interleaved, int64_t frames) {
  if (!file_) throw std::runtime_error(path_ + ": the output file is closed");
  const size_t count = static_cast<size_t>(frames) * static_cast<size_t>(channels_);
  const float* data = interleaved;
  for (size_t i = 0; i < count; ++i) {
    if (!std::isfinite(interleaved[i])) {
      scratch_.assign(interleaved, interleaved + count);
      for (float& s : scratch_)
        if (!std::isfinite(s)) {
          s = 0.0f;
          ++nonFinite_;
        }
      data = scratch_.data();
      break;
    }
  }
  if (sf_writef_float(file_, data, frames) != frames)
    throw std::runtime_error(path_ + ": write error (" + sf_strerror(file_) + ")");
}

void AudioWriter::commit() {
  if (!file_) throw std::runtime_error(path_ + ": the output file is closed");
  sf_write_sync(file_);
  const int closeError = sf_close(file_);
  file_ = nullptr;
  if (closeError != 0) {
    abandon();
    throw std::runtime_error(path_ + ": cannot finish the output file");
  }
  if (!vsthost::replaceFile(temp_, path_)) {
    abandon();
    throw std::runtime_error(path_ + ": cannot move the finished file into place");
  }
  temp_.clear();
}

}  // namespace vstrun
