// Reads a fuzz input as a stream of small decisions; past its end every
// read gives 0, so any input is a complete program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  template <typename T>
  T value() {
    T v{};
    const size_t n = size_ - pos_ < sizeof v ? size_ - pos_ : sizeof v;
    std::memcpy(&v, data_ + pos_, n);
    pos_ += n;
    return v;
  }
  // Up to max bytes, as many as the next byte says.
  std::string bytes(size_t max) {
    size_t n = byte() % (max + 1);
    if (n > size_ - pos_) n = size_ - pos_;
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};
