#include "validate/Buffers.h"

#include <cstring>
#include <string>

#include "validate/Report.h"

namespace validate {

namespace {
constexpr char kGuardByte = static_cast<char>(0xA5);
}

GuardedBuffer::GuardedBuffer(size_t size) : size_(size), storage_(size + 2 * kGuard, kGuardByte) {
  std::memset(data(), 0, size);
}

size_t GuardedBuffer::overrun() const {
  const char* end = storage_.data() + kGuard + size_;
  for (size_t i = kGuard; i > 0; --i)
    if (end[i - 1] != kGuardByte) return i;
  return 0;
}

size_t GuardedBuffer::underrun() const {
  for (size_t i = 0; i < kGuard; ++i)
    if (storage_[i] != kGuardByte) return kGuard - i;
  return 0;
}

std::string GuardedBuffer::fault() const {
  if (const size_t n = overrun())
    return format("wrote %zu byte%s past the %zu-byte buffer", n, n == 1 ? "" : "s", size_);
  if (const size_t n = underrun())
    return format("wrote %zu byte%s before the start of the %zu-byte buffer", n, n == 1 ? "" : "s", size_);
  return "";
}

bool GuardedBuffer::terminated() const { return std::memchr(storage_.data() + kGuard, 0, size_) != nullptr; }

size_t GuardedBuffer::textLength() const {
  const char* p = storage_.data() + kGuard;
  const void* z = std::memchr(p, 0, size_);
  return z ? static_cast<size_t>(static_cast<const char*>(z) - p) : size_;
}

AudioBuffers::AudioBuffers(int channels, int frames) : frames_(frames) {
  for (int c = 0; c < channels; ++c) {
    storage_.emplace_back(static_cast<size_t>(frames + 2 * kGuard), kGuardValue);
    ptrs_.push_back(storage_.back().data() + kGuard);
  }
  fill(0.0f);
}

void AudioBuffers::fill(float v) { fill(v, frames_); }

void AudioBuffers::fill(float v, int frames) {
  for (float* p : ptrs_)
    for (int i = 0; i < frames; ++i) p[i] = v;
}

int AudioBuffers::overrunChannel() const {
  for (size_t c = 0; c < storage_.size(); ++c)
    for (int i = 0; i < kGuard; ++i)
      if (storage_[c][static_cast<size_t>(i)] != kGuardValue ||
          storage_[c][static_cast<size_t>(kGuard + frames_ + i)] != kGuardValue)
        return static_cast<int>(c);
  return -1;
}

}  // namespace validate
