// Replacements for the C++ library's exception-raising helpers, linked into the shipped
// executable only. The program does not use exceptions; without these, one std::string
// length check pulls in the library's exception classes, a second copy of the string code
// and the name demangler (about 70 KB). A failure that would have thrown ends the process,
// which is what an uncaught exception would have done.
#include <cstdlib>

namespace std {
[[noreturn]] void __throw_bad_alloc() { abort(); }
[[noreturn]] void __throw_bad_array_new_length() { abort(); }
[[noreturn]] void __throw_length_error(const char*) { abort(); }
[[noreturn]] void __throw_logic_error(const char*) { abort(); }
[[noreturn]] void __throw_out_of_range(const char*) { abort(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { abort(); }
[[noreturn]] void __throw_invalid_argument(const char*) { abort(); }
[[noreturn]] void __throw_bad_function_call() { abort(); }
}  // namespace std

namespace __gnu_cxx {
void __verbose_terminate_handler() { abort(); }
}  // namespace __gnu_cxx
