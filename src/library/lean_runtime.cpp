// Replacements for the parts of the static GNU C++ runtime that would more than double the size of
// the library for failures that end the same way anyway.
//
// The runtime's own helpers raise std::length_error and friends, whose messages are copy-on-write
// strings: linking them brings both string implementations and more. Here the same failures are
// raised as the errors the callers are told about (see describe()): a string too long for memory
// as std::bad_alloc, a bad position as error 9, anything else as error 5.
#include "library/errors.h"

#include <cstdlib>
#include <new>

#if !defined(__GLIBCXX__)
#error "built only with the GNU runtime (src/CMakeLists.txt)"
#endif

namespace std {

void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_alloc(); }
void __throw_length_error(const char*) { throw std::bad_alloc(); }
void __throw_logic_error(const char*) { throw zorvane::error(zorvane::err::invalid_call); }
void __throw_out_of_range_fmt(const char*, ...) { throw zorvane::error(9); }

} // namespace std

namespace __gnu_cxx {

// The default terminate handler prints the demangled type of the exception, which brings a whole
// demangler along. Every exception is caught at the COM boundary, so terminate is a fault of its
// own: end at once.
void __verbose_terminate_handler() { std::abort(); }

} // namespace __gnu_cxx
