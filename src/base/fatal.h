// The one way the program ends on a condition it treats as impossible or unsupported: a
// report on standard error and exit status 101.
#pragma once

#include <version>
#if defined(__cpp_lib_source_location)
#include <source_location>
#endif
#include <string_view>

namespace tracemill {

#if defined(__cpp_lib_source_location)
using SourceLocation = std::source_location;
#else
// clang 14 over libstdc++ 12 lacks std::source_location; its builtins give the same values.
class SourceLocation {
 public:
  static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                          unsigned line = __builtin_LINE(),
                                          unsigned column = __builtin_COLUMN()) noexcept {
    return SourceLocation(file, line, column);
  }
  constexpr const char* file_name() const noexcept { return file_; }
  constexpr unsigned line() const noexcept { return line_; }
  constexpr unsigned column() const noexcept { return column_; }

 private:
  constexpr SourceLocation(const char* file, unsigned line, unsigned column)
      : file_(file), line_(line), column_(column) {}
  const char* file_;
  unsigned line_;
  unsigned column_;
};
#endif

// Writes "thread 'main' panicked at '<message>', <file>:<line>:<column>", then (for the first
// fatal error of the process) either the note on how to get a stack trace or, when
// TRACEMILL_BACKTRACE is set to anything but "0", "stack backtrace:" and the frames. Exits 101.
[[noreturn]] void fatal(std::string_view message,
                        SourceLocation where = SourceLocation::current());

// Installs the start-up state: closed descriptors 0 to 2 reopened on /dev/null (aborting when
// that fails), SIGPIPE ignored, the thread named "main".
void prepare_process();

}  // namespace tracemill
