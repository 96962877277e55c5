// The command line of tracemill-condense:
// `tracemill-condense [OPTIONS] INPUT... -o OUTPUT`.
#pragma once

#include <span>
#include <string_view>

#include "base/result.h"
#include "main/command_line.h"
#include "traces/condense_run.h"

namespace tracemill {

// Reads the arguments (`argv` whole, the program's path first). Returns the options of the
// run, or how the process is to end instead: the help text or "tracemill-condense VERSION" on
// standard output with status 0, or a usage error on standard error with status 2:
//   tracemill-condense: no input given (...)
//   Usage: tracemill-condense [OPTIONS] INPUT... -o OUTPUT
//   Try 'tracemill-condense --help' for more information.
// Options: -o/--output OUTPUT, -f/--format json|bincode, -i/--input-format
// otlp|jaeger|zipkin, --no-virtual-peers, -h/--help, -V/--version, read as
// split_arguments reads them; the last one given counts, and the first help, version or error
// ends the reading. Every other argument is an INPUT; "-" (standard input) may appear once.
// The output's encoding is --format's, else its extension's; "-o -" and no -o at all mean
// standard output, which needs --format. Paths must be valid UTF-8.
Result<CondenseOptions, CommandLineExit> parse_condense_command_line(
    std::span<const std::string_view> argv, std::string_view version);

// parse_condense_command_line on the process's arguments; shows the text and ends the process
// itself unless the command line is accepted.
CondenseOptions read_condense_command_line(int argc, char** argv);

}  // namespace tracemill
