// The C++ run-time's ways out, as the module needs them. The Windows builds
// link the run-time statically, and its own versions of these pull in what a
// plug-in never uses: a demangler that prints to a console the host's
// process does not have, and the whole family of exception classes with
// their strings and locale-aware messages, about a quarter of the module.
//
// Each of these marks a state the module should never get into (a vector or
// string beyond its maximum size, a mutex the system refuses). Should one
// happen all the same, it throws the one exception the module already
// carries for a failed allocation: every entry function catches it and gives
// the host its harmless answer, so the host's process goes on. Defined in
// the module itself, so the linker takes these and leaves the run-time's out.
#include <cstdlib>
#include <new>

namespace __gnu_cxx {
// Reached only through std::terminate, which ends the process anyway.
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_alloc(); }
void __throw_length_error(const char*) { throw std::bad_alloc(); }
void __throw_logic_error(const char*) { throw std::bad_alloc(); }
void __throw_out_of_range(const char*) { throw std::bad_alloc(); }
void __throw_out_of_range_fmt(const char*, ...) { throw std::bad_alloc(); }
void __throw_invalid_argument(const char*) { throw std::bad_alloc(); }
void __throw_system_error(int) { throw std::bad_alloc(); }
}  // namespace std
