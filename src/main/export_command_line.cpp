#include "main/export_command_line.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/build_config.h"
#include "base/utf8.h"
#include "main/option_reader.h"
#include "text_form/debug.h"

namespace tracemill {
namespace {

constexpr OptionSpec kOptions[] = {
    {'f', "format", true},  {'\0', "focus", true}, {'\0', "depth", true},  {'\0', "baseline", true},
    {'\0', "exact", false}, {'h', "help", false},  {'V', "version", false}};

constexpr std::string_view kUsage =
    "Usage: tracemill-export [--format dot|mermaid|json|prometheus|html] [--focus SERVICE "
    "[--depth D]] [--baseline OLD]... [--exact] [INPUT...]\n";

constexpr std::string_view kHelp =
    "Prints the service dependency graph of trace statistics files: per process, the\n"
    "summed counts of the chains that start there and of the calls it received, made or took\n"
    "part in; per caller, callee and method, the summed counts of the chains with that step.\n"
    "Call directions are repaired as tracemill repairs them. Several files give one graph,\n"
    "their counts summed. Where the files hold the calls' health, nodes and edges show their\n"
    "calls, failures and latency, and edges are coloured by the share of failed calls.\n"
    "\n"
    "Arguments:\n"
    "  INPUT...             statistics files, *.json or *.bincode [default: input.json]\n"
    "\n"
    "Options:\n"
    "  -f, --format FORMAT  dot (Graphviz), mermaid, json, prometheus (metrics per\n"
    "                       client and server) or html (a page to open in a browser)\n"
    "                       [default: dot]\n"
    "      --focus SERVICE  only the calls within --depth calls of SERVICE, both ways\n"
    "      --depth D        how many calls from SERVICE --focus keeps [default: 1]\n"
    "      --baseline OLD   compare with the graph of OLD, an earlier period (repeat the\n"
    "                       option for several files): what is new, gone, worse\n"
    "      --exact          exact latency quantiles: every duration is kept (small files)\n"
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
                       " (expected dot, mermaid, json, prometheus or html)");
  }
  line.format = *format;
  return std::nullopt;
}

// A depth: decimal digits, at most 2^32 - 1.
std::optional<std::uint32_t> depth_of(std::string_view text) {
  std::uint32_t depth = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), depth);
  if (text.empty() || text[0] == '-' || text[0] == '+' || error != std::errc() ||
      end != text.data() + text.size()) {
    return std::nullopt;
  }
  return depth;
}

}  // namespace

Result<ExportCommandLine, CommandLineExit> parse_export_command_line(
    std::span<const std::string_view> argv, std::string_view version) {
  const CommandLineExit help{std::string(kUsage) + "\n" + std::string(kHelp), OutputStream::Stdout,
                             0};
  const CommandLineExit version_text{"tracemill-export " + std::string(version) + "\n",
                                     OutputStream::Stdout, 0};
  ExportCommandLine line;
  line.inputs.clear();
  bool depth_given = false;
  const SplitArguments split = split_arguments(argv.empty() ? argv : argv.subspan(1), kOptions);
  for (const Argument& arg : split.arguments) {
    if (arg.option == nullptr) {
      if (check_utf8(arg.value)) return Err{usage_error("the input path is not valid UTF-8")};
      line.inputs.emplace_back(arg.value);
    } else if (arg.option->name == "focus") {
      if (check_utf8(arg.value)) return Err{usage_error("the service name is not valid UTF-8")};
      line.focus = std::string(arg.value);
    } else if (arg.option->name == "baseline") {
      if (check_utf8(arg.value)) return Err{usage_error("the baseline path is not valid UTF-8")};
      line.baseline.emplace_back(arg.value);
    } else if (arg.option->name == "exact") {
      line.exact = true;
    } else if (arg.option->name == "depth") {
      std::optional<std::uint32_t> depth = depth_of(arg.value);
      if (!depth) {
        return Err{usage_error("invalid depth " + message_quoted(arg.value) +
                               " (expected a whole number of calls)")};
      }
      line.depth = *depth;
      depth_given = true;
    } else if (arg.option->letter == 'h') {
      return Err{help};
    } else if (arg.option->letter == 'V') {
      return Err{version_text};
    } else if (auto error = set_format(line, arg.value)) {
      return Err{*error};
    }
  }
  if (split.error) return Err{usage_error(*split.error)};
  if (depth_given && !line.focus) return Err{usage_error("--depth needs --focus SERVICE")};
  if (line.inputs.empty()) line.inputs.emplace_back("input.json");
  return line;
}

ExportCommandLine read_export_command_line(int argc, char** argv) {
  const std::vector<std::string_view> args(argv, argv + argc);
  return accepted_or_end(parse_export_command_line(args, build::kVersion));
}

}  // namespace tracemill
