// The plug-in's requests worth a line in a host's log, recorded where they
// arrive (any thread, the audio thread too) without allocating, locking or
// formatting, and read back later on the thread that prints them.
#pragma once

#include <atomic>
#include <cstddef>

#include "host/DAEffectX.h"

namespace vsthost {

struct Request {
  VstInt32 opcode = 0;
  VstInt32 index = 0;
  float opt = 0.0f;
  char text[64] = {};  // a can-do question, cut to fit
};

// A bounded queue of requests: many threads add, one reads. When it is
// full, requests are counted as dropped instead of waiting.
class RequestLog {
 public:
  static constexpr size_t kCapacity = 256;
  RequestLog();
  // Copies text (may be null) into the record. Any thread.
  void add(VstInt32 opcode, VstInt32 index, float opt, const char* text = nullptr);
  // The oldest request not read yet; false when there is none. One thread.
  bool take(Request& out);
  // Requests lost to a full queue since the last call.
  long takeDropped() { return dropped_.exchange(0); }

 private:
  struct Slot {
    std::atomic<size_t> sequence;
    Request request;
  };
  Slot slots_[kCapacity];
  std::atomic<size_t> head_{0}, tail_{0};
  std::atomic<long> dropped_{0};
};

}  // namespace vsthost
