#include "vsthost/RequestLog.h"

namespace vsthost {

// Each slot's sequence tells whose turn it is: equal to a writer's position
// when the slot is free for it, one past it when the request is there to
// read.
RequestLog::RequestLog() {
  for (size_t i = 0; i < kCapacity; ++i) slots_[i].sequence.store(i, std::memory_order_relaxed);
}

void RequestLog::add(VstInt32 opcode, VstInt32 index, float opt, const char* text) {
  size_t pos = head_.load(std::memory_order_relaxed);
  Slot* slot = nullptr;
  for (;;) {
    slot = &slots_[pos % kCapacity];
    const size_t seq = slot->sequence.load(std::memory_order_acquire);
    if (seq == pos) {
      if (head_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) break;
    } else if (seq < pos) {
      dropped_.fetch_add(1, std::memory_order_relaxed);  // full: the reader is a whole queue behind
      return;
    } else {
      pos = head_.load(std::memory_order_relaxed);
    }
  }
  Request& r = slot->request;
  r.opcode = opcode;
  r.index = index;
  r.opt = opt;
  size_t n = 0;
  for (; text && text[n] && n + 1 < sizeof r.text; ++n) r.text[n] = text[n];
  r.text[n] = '\0';
  slot->sequence.store(pos + 1, std::memory_order_release);
}

bool RequestLog::take(Request& out) {
  const size_t pos = tail_.load(std::memory_order_relaxed);
  Slot& slot = slots_[pos % kCapacity];
  if (slot.sequence.load(std::memory_order_acquire) != pos + 1) return false;
  out = slot.request;
  tail_.store(pos + 1, std::memory_order_relaxed);
  slot.sequence.store(pos + kCapacity, std::memory_order_release);
  return true;
}

}  // namespace vsthost
