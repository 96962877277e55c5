#include "main/export_command_line.h"

#include <optional>
#include <vector>

#include "base/build_config.h"
#include "base/utf8.h"
#include "main/option_reader.h"
#include "text_form/debug.h"

namespace tracemill {
namespace {

constexpr OptionSpec kOptions[] = {
    {'f', "format", true}, {'h', "help", false}, {'V', "version", false}};

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
  return usage_error_exit("tracemill-export", kUsage, message);
}

std::optional<CommandLineExit> set_format(ExportCommandLine& line, std::string_view value) {
  std::optional<ExportFormat> format = export_format(value);
  if (!format) {
    return usage_error("invalid format " + message_quoted(value) +
                       " (expected dot, mermaid or json)");
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
  bool input_given = false;
  const SplitArguments split = split_arguments(argv.empty() ? argv : argv.subspan(1), kOptions);
  for (const Argument& arg : split.arguments) {
    if (arg.option == nullptr) {
      if (input_given) {
        return Err{usage_error("unexpected argument " + message_quoted(arg.value))};
      }
      if (check_utf8(arg.value)) return Err{usage_error("the input path is not valid UTF-8")};
      line.input = arg.value;
      input_given = true;
    } else if (arg.option->letter == 'h') {
      return Err{help};
    } else if (arg.option->letter == 'V') {
      return Err{version_text};
    } else if (auto error = set_format(line, arg.value)) {
      return Err{*error};
    }
  }
  if (split.error) return Err{usage_error(*split.error)};
  return line;
}

ExportCommandLine read_export_command_line(int argc, char** argv) {
  const std::vector<std::string_view> args(argv, argv + argc);
  return accepted_or_end(parse_export_command_line(args, build::kVersion));
}

}  // namespace tracemill
