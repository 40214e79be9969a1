// Memory handed to the plug-in with guards around it: text buffers and
// records, and planar audio.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "vsthost/Host.h"

namespace validate {

// A buffer handed to the plug-in, with guard bytes before and after it that
// must stay untouched. The usable part is zero-filled, as hosts do. Text
// requests get kTextSize bytes, what every host buffer of vstrun holds.
class GuardedBuffer {
 public:
  static constexpr size_t kGuard = 64;
  static constexpr size_t kTextSize = vsthost::kTextBufferSize;
  explicit GuardedBuffer(size_t size = kTextSize);
  char* data() { return storage_.data() + kGuard; }
  size_t size() const { return size_; }
  // Bytes written past the end (the furthest changed guard byte, counted
  // from the end of the usable part); 0 when the guard is intact.
  size_t overrun() const;
  // Bytes written before the start (the furthest changed guard byte,
  // counted back from the start); 0 when the guard is intact.
  size_t underrun() const;
  // What went outside, as "wrote N bytes past the N-byte buffer" or "wrote
  // N bytes before the start of the N-byte buffer"; empty when nothing did.
  std::string fault() const;
  bool terminated() const;  // a zero byte within the usable part
  size_t textLength() const;

 private:
  size_t size_;
  std::vector<char> storage_;
};

// Planar audio for one call: channel pointers into guard-banded storage.
class AudioBuffers {
 public:
  AudioBuffers(int channels, int frames);
  float** pointers() { return ptrs_.empty() ? nullptr : ptrs_.data(); }
  float* channel(int c) { return ptrs_[static_cast<size_t>(c)]; }
  int channels() const { return static_cast<int>(ptrs_.size()); }
  int frames() const { return frames_; }
  void fill(float v);
  void fill(float v, int frames);  // the first frames of every channel
  // The first channel whose guard before or after the block changed, or -1.
  int overrunChannel() const;

 private:
  static constexpr int kGuard = 16;
  static constexpr float kGuardValue = -12345.678f;
  int frames_;
  std::vector<std::vector<float>> storage_;
  std::vector<float*> ptrs_;
};

}  // namespace validate
