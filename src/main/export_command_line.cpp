#include "main/export_command_line.h"

#include <cstdlib>
#include <optional>
#include <vector>

#include "base/build_config.h"
#include "base/sink.h"
#include "base/utf8.h"

namespace tracemill {
namespace {

constexpr std::string_view kUsage = "Usage: tracemill-export [--format dot|mermaid|json] [INPUT]\n";

constexpr std::string_view kHelp =
    "Prints the service dependency graph of a trace statistics file: per process, the\n"
    "summed counts of the chains that start there and of the calls it received, made or took\n"
    "part in; per caller, callee and method, the summed counts of the chains with that step.\n"
    "Call directions are repaired as tracemill repairs them.\n"
    "\n"
    "Arguments:\n"
    "  INPUT                the statistics file, *.json or *.bincode [default: input.json]\n"
    "\n"
    "Options:\n"
    "  -f, --format FORMAT  dot (Graphviz), mermaid or json [default: dot]\n"
    "  -h, --help           print this help and exit\n"
    "  -V, --version        print the version and exit\n"
    "\n"
    "The graph goes to standard output. Exit status: 0 on success, 1 when the input cannot be\n"
    "used or the output cannot be written, 2 for a usage error.\n";

CommandLineExit usage_error(const std::string& message) {
  return CommandLineExit{"tracemill-export: " + message + "\n" + std::string(kUsage) +
                             "Try 'tracemill-export --help' for more information.\n",
                         OutputStream::Stderr, 2};
}

std::optional<CommandLineExit> set_format(ExportCommandLine& line, std::string_view value) {
  std::optional<ExportFormat> format = export_format(value);
  if (!format) {
    return usage_error("invalid format '" + std::string(value) +
                       "' (expected dot, mermaid or json)");
  }
  line.format = *format;
  return std::nullopt;
}

}  // namespace

Result<ExportCommandLine, CommandLineExit> parse_export_command_line(
    std::span<const std::string_view> argv, std::string_view version) {
  const CommandLineExit help{std::string(kUsage) + "\n" + std::string(kHelp), OutputStream::Stdout,
                             0};
  const CommandLineExit version_text{"tracemill-export " + std::string(version) + "\n",
                                     OutputStream::Stdout, 0};
  ExportCommandLine line;
  bool options_ended = false;
  bool input_given = false;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::string_view arg = argv[i];
    if (options_ended || arg == "-" || !arg.starts_with("-")) {
      if (input_given) return Err{usage_error("unexpected argument '" + std::string(arg) + "'")};
      if (check_utf8(arg)) return Err{usage_error("the input path is not valid UTF-8")};
      line.input = arg;
      input_given = true;
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg.starts_with("--")) {
      const std::size_t equals = arg.find('=');
      const std::string_view name = arg.substr(0, equals);
      const bool has_value = equals != std::string_view::npos;
      if (name == "--format") {
        if (!has_value && i + 1 == argv.size()) {
          return Err{usage_error("option '--format' requires an argument")};
        }
        const std::string_view value = has_value ? arg.substr(equals + 1) : argv[++i];
        if (auto error = set_format(line, value)) return Err{*error};
      } else if (name == "--help" || name == "--version") {
        if (has_value) {
          return Err{usage_error("option '" + std::string(name) + "' takes no argument")};
        }
        return Err{name == "--help" ? help : version_text};
      } else {
        return Err{usage_error("unknown option '" + std::string(name) + "'")};
      }
    } else {
      // Grouped short options; -f takes the rest of the argument or the next one.
      for (std::size_t at = 1; at < arg.size(); ++at) {
        const char letter = arg[at];
        if (letter == 'h') return Err{help};
        if (letter == 'V') return Err{version_text};
        if (letter != 'f') {
          const std::size_t length =
              decode_utf8_char(arg.substr(at)).value_or(Utf8Char{0, 1}).length;
          return Err{usage_error("unknown option '-" + std::string(arg.substr(at, length)) + "'")};
        }
        if (at + 1 == arg.size() && i + 1 == argv.size()) {
          return Err{usage_error("option '-f' requires an argument")};
        }
        const std::string_view value = at + 1 < arg.size() ? arg.substr(at + 1) : argv[++i];
        if (auto error = set_format(line, value)) return Err{*error};
        break;
      }
    }
  }
  return line;
}

ExportCommandLine read_export_command_line(int argc, char** argv) {
  std::vector<std::string_view> args(argv, argv + argc);
  Result<ExportCommandLine, CommandLineExit> parsed =
      parse_export_command_line(args, build::kVersion);
  if (parsed) return std::move(parsed).value();
  const CommandLineExit& exit = parsed.error();
  // Write failures are ignored: the exit status stays the same.
  if (exit.stream == OutputStream::Stdout) {
    stdout_sink().write(exit.text);
    stdout_sink().flush();
  } else {
    FdSink(2, FdSink::Buffering::None).write(exit.text);
  }
  std::exit(exit.status);
}

}  // namespace tracemill
