// The C++ runtime's default terminate handler prints the type of an
// uncaught exception, and for that links the whole demangler (about 50 KB
// of each shipped binary). The shipped binaries catch what they throw, and
// have no console to print to; an exception that still escapes ends the
// process as abort() does.
#include <cstdlib>

namespace __gnu_cxx {
[[noreturn]] void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
