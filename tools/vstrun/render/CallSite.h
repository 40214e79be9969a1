// The call into the plug-in that a render is making right now: a crash
// inside the plug-in is reported with it. Lock-free atomics only, so a
// signal handler may read it.
#pragma once

#include <atomic>
#include <cstdint>

namespace vstrun {

struct CallSite {
  std::atomic<const char*> call{nullptr};  // a static text ("processReplacing"); null: none yet
  std::atomic<int64_t> block{0};           // 1-based block of the render; 0 before the first
  std::atomic<int64_t> frame{-1};          // the block's first frame; -1 outside the audio loop
  std::atomic<int64_t> frames{0};          // the block's length
  std::atomic<int64_t> total{0};           // frames in the whole render
};

CallSite& currentCall();

}  // namespace vstrun
