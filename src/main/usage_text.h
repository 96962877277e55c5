// The texts the command line shows: help, version and usage errors, plain or styled.
#pragma once

#include <string>
#include <string_view>

namespace tracemill {

// The usage line under a usage error.
struct UsageLine {
  enum class Form {
    None,      // no usage line
    General,   // program + " [OPTIONS] [INPUT]"
    Accepted,  // program + the arguments accepted so far: "[--output <OUTPUT>] <INPUT>|[INPUT]"
  };
  Form form = Form::General;
  bool with_output = false;  // Accepted form: "--output <OUTPUT>" was given or is suggested
  bool with_input = false;   // Accepted form: a positional value was given, "<INPUT>"
};

// A rejected command line, as the parser found it.
struct UsageError {
  enum class Kind {
    UnexpectedArgument,  // "unexpected argument '<argument>' found"
    ValueRequired,       // `--output` without a value
    RepeatedOutput,      // `--output` a second time
    InvalidUtf8,         // an argument that is not valid UTF-8
  };
  enum class Tip {
    None,
    Similar,      // "a similar argument exists: '<suggestion>'"
    PassAsValue,  // "to pass '<argument>' as a value, use '-- <argument>'"
  };
  Kind kind;
  std::string argument;  // UnexpectedArgument: the argument as it is shown
  Tip tip = Tip::None;
  std::string suggestion;  // Tip::Similar: the suggested spelling, "--output"
  UsageLine usage;
};

// The help text for the program name shown in its usage line.
std::string help_text(std::string_view program, bool styled);

// The command name, a blank, the project version and a line feed; never styled.
std::string version_text();

// The whole error text, from "error: " to the closing "For more information" line.
std::string usage_error_text(const UsageError& error, std::string_view program, bool styled);

}  // namespace tracemill
