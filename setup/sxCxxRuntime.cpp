// Replacements for a few helpers of the C++ library, linked into the Windows
// programs themselves (not into the runtime library) so that they take the
// place of the library's own. Each keeps the behaviour a program relies on
// and keeps large, unused parts of the library out of the program file:
// - the terminate handler: every exception is absorbed at the entry, so this
//   is a last resort that ends the process; the library's handler would write
//   the exception's demangled name to a console that a GUI program does not
//   have, and brings a demangler of some 30 KB;
// - the helpers that the containers call to raise their standard errors: they
//   raise the program's own Exception with the same text (or the same
//   standard type where no text is involved). The library's versions build
//   the old reference-counted string type just for these messages (some 50 KB).
#include "ovClass.h"

#include <cstdarg>
#include <cstdlib>
#include <exception>
#include <new>
#include <typeinfo>

namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_exception() { throw std::bad_exception(); }
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_array_new_length(); }
void __throw_bad_cast() { throw std::bad_cast(); }
void __throw_bad_typeid() { throw std::bad_typeid(); }
void __throw_logic_error(const char* s) { throw Exception(s); }
void __throw_domain_error(const char* s) { throw Exception(s); }
void __throw_invalid_argument(const char* s) { throw Exception(s); }
void __throw_length_error(const char* s) { throw Exception(s); }
void __throw_out_of_range(const char* s) { throw Exception(s); }
void __throw_runtime_error(const char* s) { throw Exception(s); }
void __throw_range_error(const char* s) { throw Exception(s); }
void __throw_overflow_error(const char* s) { throw Exception(s); }
void __throw_underflow_error(const char* s) { throw Exception(s); }
void __throw_out_of_range_fmt(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatTextV(format, args);
    va_end(args);
    throw Exception(text);
}
}  // namespace std
