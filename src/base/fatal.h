// The one way the program ends on a condition it treats as impossible or unsupported: a
// report on standard error and exit status 101.
#pragma once

#include <source_location>
#include <string_view>

namespace tracemill {

// Writes "thread 'main' panicked at '<message>', <file>:<line>:<column>", then (for the first
// fatal error of the process) either the note on how to get a stack trace or, when
// TRACEMILL_BACKTRACE is set to anything but "0", "stack backtrace:" and the frames. Exits 101.
[[noreturn]] void fatal(std::string_view message,
                        std::source_location where = std::source_location::current());

// Installs the start-up state: closed descriptors 0 to 2 reopened on /dev/null (aborting when
// that fails), SIGPIPE ignored, the thread named "main".
void prepare_process();

}  // namespace tracemill
