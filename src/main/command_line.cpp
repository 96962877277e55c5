#include "main/command_line.h"

#include <cstdlib>
#include <iterator>
#include <optional>
#include <variant>
#include <vector>

#include "base/build_config.h"
#include "base/sink.h"
#include "base/utf8.h"
#include "main/usage_text.h"
#include "text_form/jaro.h"

namespace tracemill {
namespace {

enum class Request { Help, Version };

// What reading the arguments came to.
using Parsed = std::variant<CommandLine, Request, UsageError>;

UsageError usage_error(UsageError::Kind kind, std::string argument = {},
                       UsageError::Tip tip = UsageError::Tip::None, UsageLine usage = {}) {
  return UsageError{kind, std::move(argument), tip, std::string(), usage};
}

UsageError invalid_utf8() { return usage_error(UsageError::Kind::InvalidUtf8); }

UsageError value_required() {
  return usage_error(UsageError::Kind::ValueRequired, {}, UsageError::Tip::None,
                     UsageLine{UsageLine::Form::None, false, false});
}

UsageError repeated_output() { return usage_error(UsageError::Kind::RepeatedOutput); }

UsageError unexpected(std::string argument, UsageError::Tip tip) {
  return usage_error(UsageError::Kind::UnexpectedArgument, std::move(argument), tip);
}

// The long option name most similar to `name` (Jaro similarity above 0.7; on a tie the later
// name), or nullopt when none is similar enough.
std::optional<std::string_view> similar_long_name(std::u32string_view name) {
  static constexpr std::u32string_view kNames[] = {U"output", U"help", U"version"};
  static constexpr std::string_view kSpellings[] = {"output", "help", "version"};
  std::optional<std::string_view> best;
  double best_similarity = 0.7;
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    double similarity = jaro_similarity(name, kNames[i]);
    if (similarity > 0.7 && similarity >= best_similarity) {
      best_similarity = similarity;
      best = kSpellings[i];
    }
  }
  return best;
}

UsageError unknown_long_option(std::u32string_view name, std::string_view typed_name,
                               bool input_given, bool output_given) {
  std::string argument = "--" + std::string(typed_name);
  std::optional<std::string_view> similar = similar_long_name(name);
  if (!similar) return unexpected(std::move(argument), UsageError::Tip::PassAsValue);
  UsageError error = unexpected(std::move(argument), UsageError::Tip::Similar);
  error.suggestion = "--" + std::string(*similar);
  error.usage =
      UsageLine{UsageLine::Form::Accepted, output_given || *similar == "output", input_given};
  return error;
}

// Reads the arguments (the argument vector without the program's path) left to right.
Parsed parse_arguments(std::span<const std::string_view> args) {
  std::optional<std::string_view> input;
  std::optional<std::string_view> output;
  bool options_ended = false;

  // The value of `-o`/`--output`: `attached` when given in the same argument, else the next one.
  auto take_output = [&](std::optional<std::string_view> attached,
                         std::size_t& i) -> std::optional<UsageError> {
    std::string_view value;
    if (attached) {
      value = *attached;
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return value_required();
    }
    if (check_utf8(value).has_value()) return invalid_utf8();
    output = value;
    return std::nullopt;
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (!options_ended && arg == "--") {
      options_ended = true;
      continue;
    }
    if (!options_ended && arg.starts_with("--")) {
      std::size_t equals = arg.find('=');
      std::string_view name =
          arg.substr(2, equals == std::string_view::npos ? arg.npos : equals - 2);
      std::optional<std::string_view> attached;
      if (equals != std::string_view::npos) attached = arg.substr(equals + 1);
      std::optional<std::u32string> scalars = decode_utf8(name);
      if (!scalars) return invalid_utf8();
      if (name == "output") {
        if (output) return repeated_output();
        if (auto error = take_output(attached, i)) return *error;
        continue;
      }
      if (name == "help" || name == "version") {
        if (attached) {
          if (check_utf8(arg).has_value()) return invalid_utf8();
          return unexpected(std::string(arg), UsageError::Tip::PassAsValue);
        }
        return name == "help" ? Request::Help : Request::Version;
      }
      return unknown_long_option(*scalars, name, input.has_value(), output.has_value());
    }
    if (!options_ended && arg.size() > 1 && arg[0] == '-') {
      std::string_view rest = arg.substr(1);
      while (!rest.empty()) {
        std::optional<Utf8Char> letter = decode_utf8_char(rest);
        if (!letter) return invalid_utf8();
        std::string_view spelling = rest.substr(0, letter->length);
        rest.remove_prefix(letter->length);
        if (spelling == "h") return Request::Help;
        if (spelling == "V") return Request::Version;
        if (spelling != "o") {
          // Appended, not "-" + std::string: GCC 12 warns wrongly (-Wrestrict) about that at -O3.
          std::string option = "-";
          option += spelling;
          return unexpected(std::move(option), UsageError::Tip::PassAsValue);
        }
        if (output) return repeated_output();
        std::optional<std::string_view> attached;
        if (!rest.empty()) attached = rest.starts_with('=') ? rest.substr(1) : rest;
        if (auto error = take_output(attached, i)) return *error;
        break;
      }
      continue;
    }
    if (check_utf8(arg).has_value()) return invalid_utf8();
    if (input) return unexpected(std::string(arg), UsageError::Tip::None);
    input = arg;
  }

  CommandLine line;
  if (input) line.input = *input;
  if (output) line.output = *output;
  return line;
}

}  // namespace

std::string program_name(std::span<const std::string_view> argv) {
  if (argv.empty()) return std::string(build::kCommandName);
  // The last component that is neither empty (repeated or trailing slashes) nor "."; a path
  // that ends in ".." or has no such component names no file.
  std::string_view path = argv[0];
  std::string_view last;
  while (!path.empty()) {
    std::size_t slash = path.rfind('/');
    std::string_view component = slash == std::string_view::npos ? path : path.substr(slash + 1);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
    if (!component.empty() && component != ".") {
      last = component;
      break;
    }
  }
  if (last.empty() || last == ".." || check_utf8(last).has_value())
    return std::string(build::kCommandName);
  return std::string(last);
}

Result<CommandLine, CommandLineExit> parse_command_line(std::span<const std::string_view> argv,
                                                        const StyleEnvironment& environment) {
  Parsed parsed = parse_arguments(argv.empty() ? argv : argv.subspan(1));
  if (auto* line = std::get_if<CommandLine>(&parsed)) return std::move(*line);
  if (auto* request = std::get_if<Request>(&parsed)) {
    if (*request == Request::Version) {
      return Err{CommandLineExit{version_text(), OutputStream::Stdout, 0}};
    }
    bool styled = styling_wanted(environment, environment.stdout_is_terminal);
    return Err{CommandLineExit{help_text(program_name(argv), styled), OutputStream::Stdout, 0}};
  }
  bool styled = styling_wanted(environment, environment.stderr_is_terminal);
  return Err{
      CommandLineExit{usage_error_text(std::get<UsageError>(parsed), program_name(argv), styled),
                      OutputStream::Stderr, 2}};
}

CommandLine read_command_line(int argc, char** argv) {
  const std::vector<std::string_view> args(argv, argv + argc);
  return accepted_or_end(parse_command_line(args, StyleEnvironment::current()));
}

CommandLineExit usage_error_exit(std::string_view program, std::string_view usage,
                                 std::string_view message) {
  const std::string name(program);
  return CommandLineExit{name + ": " + std::string(message) + "\n" + std::string(usage) + "Try '" +
                             name + " --help' for more information.\n",
                         OutputStream::Stderr, 2};
}

void end_process(const CommandLineExit& exit) {
  // Write failures are ignored: the exit status stays the same.
  if (exit.stream == OutputStream::Stdout) {
    stdout_sink().write(exit.text);
  } else {
    FdSink(2, FdSink::Buffering::None).write(exit.text);
  }
  stdout_sink().flush();
  std::exit(exit.status);
}

}  // namespace tracemill
