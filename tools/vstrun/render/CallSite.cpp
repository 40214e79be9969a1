#include "render/CallSite.h"

namespace vstrun {

namespace {
CallSite gCurrentCall;  // constant-initialized: ready before any handler can look
}  // namespace

CallSite& currentCall() { return gCurrentCall; }

}  // namespace vstrun
