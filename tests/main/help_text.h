// The help text as the tool shows it, shared by the unit and end-to-end tests of the command line.
#pragma once

#include <string>

namespace tracemill::testing {

// The help for a program called `program`, plain or with the terminal styling.
inline std::string help_text(const std::string& program, bool styled) {
  auto bold = [&](const std::string& s) { return styled ? "\x1b[1m" + s + "\x1b[0m" : s; };
  auto head = [&](const std::string& s) { return styled ? "\x1b[1m\x1b[4m" + s + "\x1b[0m" : s; };
  return "Stitching results of different runs of hopscan into a single CSV for visualization in "
         "Excel\n\n" +
         head("Usage:") + " " + bold(program) + " [OPTIONS] [INPUT]\n\n" + head("Arguments:") +
         "\n  [INPUT]  [default: input.json]\n\n" + head("Options:") + "\n  " + bold("-o") + ", " +
         bold("--output") + " <OUTPUT>  [default: stitched.csv]\n  " + bold("-h") + ", " +
         bold("--help") + "             Print help\n  " + bold("-V") + ", " + bold("--version") +
         "          Print version\n";
}

}  // namespace tracemill::testing
