// Any text as an automation file, then played over a short render of a
// plug-in with three parameters: a refusal, or values within 0..1 applied
// over spans that always move forward.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "FuzzCheck.h"
#include "render/Automation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr int32_t kParams = 3;
  constexpr int64_t kFrames = 4096;
  try {
    const vstrun::AutomationFile file = vstrun::parseAutomation(std::string(reinterpret_cast<const char*>(data), size));
    vstrun::Automation automation(
        file, 8000.0, kParams, [](const std::string& name) { return name == "Volume" ? 1 : -1; },
        [](int32_t) { return 0.5f; });
    for (int64_t frame = 0; frame < kFrames;) {
      const int64_t n = automation.span(frame, 512);
      FUZZ_CHECK(n >= 1 && n <= 512);
      automation.apply(frame, [](int32_t index, float value) {
        FUZZ_CHECK(index >= 0 && index < kParams);
        FUZZ_CHECK(value >= 0.0f && value <= 1.0f);
      });
      frame += n;
    }
  } catch (const std::runtime_error&) {
  }
  return 0;
}
