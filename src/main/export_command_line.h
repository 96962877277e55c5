// The command line of tracemill-export:
// `tracemill-export [--format dot|mermaid|json] [--focus SERVICE [--depth D]] [INPUT...]`.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "export/export_run.h"
#include "main/command_line.h"

namespace tracemill {

using ExportCommandLine = ExportOptions;

// Reads the arguments (`argv` whole, the program's path first). Returns the accepted command
// line, or how the process is to end instead: the help text or "tracemill-export VERSION" on
// standard output with status 0, or a usage error on standard error with status 2, in the
// usual form:
//   tracemill-export: unknown option '--foo'
//   Usage: tracemill-export [--format dot|mermaid|json] [--focus SERVICE [--depth D]] [INPUT...]
//   Try 'tracemill-export --help' for more information.
// Options: -f/--format FORMAT (also --format=FORMAT, -fFORMAT; the last one given counts),
// --focus SERVICE, --depth D (a whole number, only with --focus), -h/--help, -V/--version;
// short options may be grouped (-Vh). Arguments are read in order and the first help, version
// or error ends the reading. "--" ends the options; "-" is an INPUT. An INPUT or SERVICE that
// is not valid UTF-8 is a usage error. Without an INPUT the input is input.json.
Result<ExportCommandLine, CommandLineExit> parse_export_command_line(
    std::span<const std::string_view> argv, std::string_view version);

// parse_export_command_line on the process's arguments; shows the text and ends the process
// itself unless the command line is accepted.
ExportCommandLine read_export_command_line(int argc, char** argv);

}  // namespace tracemill
