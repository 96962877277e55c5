// The command line: `tracemill [OPTIONS] [INPUT]`.
#pragma once

#include <string>

namespace tracemill {

struct CommandLine {
  std::string input = "input.json";
  std::string output = "stitched.csv";
};

// Reads the argument vector. Shows the help or version text (exit status 0) or a usage error
// (exit status 2) and ends the process itself; returns only for an accepted command line.
CommandLine read_command_line(int argc, char** argv);

}  // namespace tracemill
