// The offscreen backend: a window that exists only in memory. Tests and
// screenshots drive its Form directly and read Form::frame(). A host never
// gets one: where no window system can be reached, opening fails.
#include <memory>

#include "toolkit/Form.h"
#include "toolkit/NativeWindow.h"

namespace toolkit {

namespace {

class OffscreenWindow final : public NativeWindow {
 public:
  explicit OffscreenWindow(Form& form) : form_(form) {}

  void setPosition(int, int) override {}
  void show() override { visible_ = true; }
  void hide() override { visible_ = false; }
  bool visible() const override { return visible_; }
  void repaintNow() override { form_.paint(); }
  // The Form keeps the invalid area until someone paints it.
  void invalidated(const Rect&) override {}
  void resize(int, int) override {}

 private:
  Form& form_;
  bool visible_ = false;
};

}  // namespace

std::unique_ptr<NativeWindow> createOffscreenWindow(Form& form) { return std::make_unique<OffscreenWindow>(form); }

#if !defined(_WIN32) && !defined(VANTOREL_HAS_X11)
std::unique_ptr<NativeWindow> createPlatformWindow(Form&, void*) { return nullptr; }
#endif

}  // namespace toolkit
