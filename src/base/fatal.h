// The one way the program ends on a condition it treats as impossible or unsupported: a
// report on standard error and exit status 101.
#pragma once

#include <string_view>
#include <version>
#if defined(__cpp_lib_source_location)
#include <source_location>
#endif

namespace tracemill {

// Where a check sits in the source: the file (relative to the project root), line and column.
// std::source_location where the standard library offers it with this compiler; clang 14 over
// libstdc++ 12 does not, and gets the same from the compiler builtins.
struct SourceLocation {
  const char* file;
  unsigned line;
  unsigned column;
#if defined(__cpp_lib_source_location)
  static constexpr SourceLocation current(
      std::source_location here = std::source_location::current()) {
    return {here.file_name(), here.line(), here.column()};
  }
#else
  static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                          unsigned line = __builtin_LINE(),
                                          unsigned column = __builtin_COLUMN()) {
    return {file, line, column};
  }
#endif
};

// Writes "thread '<name>' panicked at '<message>', <file>:<line>:<column>" (the name is "main"
// unless name_thread() gave the thread another), then (for the first fatal error of the
// process) either the note on how to get a stack trace or, when TRACEMILL_BACKTRACE is set to
// anything but "0", "stack backtrace:" and the frames, one a line with demangled names (or a
// note where the system cannot walk the stack). Exits 101.
[[noreturn]] void fatal(std::string_view message, SourceLocation where = SourceLocation::current());

// Installs the start-up state: closed descriptors 0 to 2 reopened on /dev/null (aborting when
// that fails), SIGPIPE ignored, the thread named "main" where the system names threads, and an
// uncaught standard exception turned into the fatal report of its what() (a length_error into
// "capacity overflow"). Returns a bit per standard descriptor that was closed (1 << fd), so that
// a program that must not lose its output can tell.
unsigned prepare_process();

// Names the calling thread, in fatal reports and for the system where it offers thread names
// (at most 15 bytes there).
void name_thread(const char* name);

}  // namespace tracemill
