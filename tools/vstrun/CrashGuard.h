// A plug-in that crashes during a render must not take vstrun down by the
// signal (or the unhandled exception on Windows) with its temporary output
// left behind. While armed, a crash prints one line naming the call and the
// place in the render (render/CallSite.h), removes the temporary file and
// exits with kCrashStatus.
#pragma once

#include <functional>
#include <string>

namespace vstrun {

constexpr int kCrashStatus = 3;

// closeOutput runs before the file is removed where an open file cannot be
// removed (Windows); it must not throw.
void armCrashGuard(const std::string& temporaryPath, const std::string& output, std::function<void()> closeOutput);
void disarmCrashGuard();

// The line the guard prints for a cause ("SIGSEGV"), without allocating:
// it runs inside a signal handler. At most capacity - 1 bytes, terminated.
void formatCrashLine(char* line, size_t capacity, const char* cause);

}  // namespace vstrun
