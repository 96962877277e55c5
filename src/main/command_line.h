// The command line: `tracemill [OPTIONS] [INPUT]`.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/result.h"
#include "main/styled_text.h"

namespace tracemill {

struct CommandLine {
  std::string input = "input.json";
  std::string output = "stitched.csv";
};

// Reads the argument vector. Shows the help or version text (exit status 0) or a usage error
// (exit status 2) and ends the process itself; returns only for an accepted command line.
CommandLine read_command_line(int argc, char** argv);

enum class OutputStream { Stdout, Stderr };

// How a command line that is not accepted ends the process: this text on this stream, then
// this exit status.
struct CommandLineExit {
  std::string text;
  OutputStream stream;
  int status;
};

// A usage error of tracemill-export or tracemill-condense: "PROGRAM: MESSAGE", the usage line
// (`usage`, ending in a line feed) and a pointer to --help, on standard error with status 2.
CommandLineExit usage_error_exit(std::string_view program, std::string_view usage,
                                 std::string_view message);

// Writes the text of `exit` to its stream (a failed write changes nothing) and ends the process
// with its status.
[[noreturn]] void end_process(const CommandLineExit& exit);

// The accepted command line, or end_process with the exit that came instead.
template <class T>
T accepted_or_end(Result<T, CommandLineExit> parsed) {
  if (!parsed) end_process(parsed.error());
  return std::move(parsed).value();
}

// The parser behind read_command_line, without side effects. `argv` is the whole argument
// vector, the program's path first (it may be empty). `environment` decides the styling of the
// help text (by standard output) and of usage errors (by standard error).
//
// Choices where the command line leaves room:
// - `-o` and `--output` without an attached value take the next argument, whatever it is
//   ("--help", "--", an unknown option), as their value.
// - A second `--output` is rejected when its name is read, before any value it takes.
// - `--help=x` and `--version=x` are unexpected arguments, shown whole.
// - An unknown long option with a similar name gets the usage line of the arguments accepted
//   so far (the suggestion counting as accepted); without one, the general usage line.
// - An unknown option name or short letter that is not valid UTF-8 is reported as invalid UTF-8.
Result<CommandLine, CommandLineExit> parse_command_line(std::span<const std::string_view> argv,
                                                        const StyleEnvironment& environment);

// The program name for usage lines: the last component of the path in argv[0] when there is one
// and it is valid UTF-8, else the command name.
std::string program_name(std::span<const std::string_view> argv);

}  // namespace tracemill
