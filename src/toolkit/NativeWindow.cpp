#include "toolkit/NativeWindow.h"

#include <atomic>

namespace toolkit {

namespace {
std::atomic<NativeWindowFactory> testFactory{nullptr};
}  // namespace

void setNativeWindowFactory(NativeWindowFactory factory) { testFactory.store(factory, std::memory_order_relaxed); }

std::unique_ptr<NativeWindow> createNativeWindow(Form& form, void* parent) {
  if (NativeWindowFactory factory = testFactory.load(std::memory_order_relaxed)) return factory(form, parent);
  return createPlatformWindow(form, parent);
}

}  // namespace toolkit
