// Splits the arguments of a program with GNU-style options into options and operands, for the
// command lines of tracemill-export and tracemill-condense (tracemill's own has its own rules).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tracemill {

// One option a program accepts.
struct OptionSpec {
  char letter;            // the short form, '\0' for none
  std::string_view name;  // the long form without its "--", empty for none
  bool takes_value;
};

// An option with its value, or an operand (option == nullptr, the argument in `value`).
struct Argument {
  const OptionSpec* option;
  std::string_view value;
};

struct SplitArguments {
  std::vector<Argument> arguments;   // in the order given, up to the first error
  std::optional<std::string> error;  // the usage error that ended the reading, if any
};

// Reads `args` (the arguments after the program's path) in order: "--NAME=VALUE" or "--NAME
// VALUE", "-LVALUE" or "-L VALUE", short options grouped ("-Vh"), "--" ends the options and "-"
// is an operand. A separate value is the next argument whatever it is. The first unknown
// option, missing value or value given to an option that takes none ends the reading; the
// caller handles the arguments before it first, so that its own errors and help requests
// among them come first. The views point into `args` and `specs`.
SplitArguments split_arguments(std::span<const std::string_view> args,
                               std::span<const OptionSpec> specs);

}  // namespace tracemill
