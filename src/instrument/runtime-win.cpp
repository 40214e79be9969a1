// The C++ run-time's ways out, as the module needs them. The Windows builds
// link the run-time statically, and its own versions of these pull in what a
// plug-in never uses: a demangler that prints to a console the host's
// process does not have, and the whole family of exception classes with
// their strings and locale-aware messages, about a quarter of the module.
//
// Every one of these marks a state the module cannot get into by design (a
// vector or string beyond its maximum size, a mutex the system refuses), and
// an exception from any of them would end in the host's process anyway:
// here they end the process at once. They are defined in the module itself,
// so the linker takes them and leaves the run-time's out.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
void __throw_system_error(int) { std::abort(); }
}  // namespace std
