#include "main/condense_command_line.h"

#include <optional>
#include <string>
#include <vector>

#include "base/build_config.h"
#include "base/utf8.h"
#include "main/option_reader.h"
#include "stats/file/operation_stats_json.h"
#include "text_form/debug.h"
#include "traces/trace_format.h"

namespace tracemill {
namespace {

constexpr OptionSpec kOutput{'o', "output", true};
constexpr OptionSpec kFormat{'f', "format", true};
constexpr OptionSpec kInputFormat{'i', "input-format", true};
constexpr OptionSpec kNoVirtualPeers{'\0', "no-virtual-peers", false};
constexpr OptionSpec kShard{'\0', "shard", true};
constexpr OptionSpec kMerge{'\0', "merge", false};
constexpr OptionSpec kHelpOption{'h', "help", false};
constexpr OptionSpec kVersionOption{'V', "version", false};
constexpr OptionSpec kOptions[] = {kOutput, kFormat, kInputFormat, kNoVirtualPeers,
                                   kShard,  kMerge,  kHelpOption,  kVersionOption};

constexpr std::string_view kUsage = "Usage: tracemill-condense [OPTIONS] INPUT... -o OUTPUT\n";

constexpr std::string_view kHelp =
    "Condenses distributed traces into one statistics file, which tracemill and\n"
    "tracemill-export read. It reads OTLP JSON (a document with resourceSpans, the batches\n"
    "form trace queries return, or JSON lines of export requests), Jaeger JSON and Zipkin v2\n"
    "JSON, gzip-compressed or not, and recognises the format of each input from its content.\n"
    "\n"
    "Arguments:\n"
    "  INPUT...                   trace files; - reads standard input. With --merge,\n"
    "                             statistics files (*.json, *.bincode)\n"
    "\n"
    "Options:\n"
    "  -o, --output OUTPUT        the statistics file to write, *.json (compact JSON) or\n"
    "                             *.bincode; - is standard output\n"
    "  -f, --format FORMAT        json or bincode: the encoding of the output, whatever\n"
    "                             its extension (required for standard output)\n"
    "  -i, --input-format FORMAT  otlp, jaeger or zipkin: the format of every input\n"
    "                             [default: recognised per input]\n"
    "      --no-virtual-peers     do not add a node for the peer named by a leaf client or\n"
    "                             producer span (a database, an uninstrumented service)\n"
    "      --shard K/N            condense only share K of N of the traces (K from 1 to N):\n"
    "                             those whose FNV-1a 64 hash of the trace id, modulo N, is\n"
    "                             K - 1; the N shares of an input are disjoint and cover it\n"
    "      --merge                merge statistics files of disjoint sets of traces (shards,\n"
    "                             hourly files) into the file condensing all their traces\n"
    "                             together writes\n"
    "  -h, --help                 print this help and exit\n"
    "  -V, --version              print the version and exit\n"
    "\n"
    "Exit status: 0 on success, 1 when an input cannot be used, the shard is invalid or\n"
    "the output cannot be written, 2 for a usage error.\n";

CommandLineExit usage_error(const std::string& message) {
  return usage_error_exit("tracemill-condense", kUsage, message);
}

std::optional<Encoding> encoding_named(std::string_view name) {
  if (name == "json") return Encoding::Json;
  if (name == "bincode") return Encoding::Bincode;
  return std::nullopt;
}

// The output's encoding from --format, else from its extension; `output` is empty for
// standard output.
Result<Encoding, CommandLineExit> output_encoding(const std::optional<std::string_view>& output,
                                                  std::optional<Encoding> format) {
  if (format) return *format;
  if (!output) {
    return Err{usage_error(
        "no output given (use -o OUTPUT, or --format json|bincode to write to standard output)")};
  }
  if (*output == "-") {
    return Err{usage_error("writing to standard output needs --format json|bincode")};
  }
  if (std::optional<std::string_view> extension = file_extension(*output)) {
    if (std::optional<Encoding> encoding = encoding_named(*extension)) return *encoding;
  }
  return Err{usage_error("cannot tell the encoding of " + message_quoted(*output) +
                         " (name it *.json or *.bincode, or give --format json|bincode)")};
}

}  // namespace

Result<CondenseOptions, CommandLineExit> parse_condense_command_line(
    std::span<const std::string_view> argv, std::string_view version) {
  CondenseOptions options;
  std::optional<std::string_view> output;
  std::optional<Encoding> format;
  bool standard_input = false;
  std::string_view trace_only;  // the last option given that reads traces, not statistics
  const SplitArguments split = split_arguments(argv.empty() ? argv : argv.subspan(1), kOptions);
  for (const Argument& arg : split.arguments) {
    const std::string value(arg.value);
    if (arg.option == nullptr) {
      if (check_utf8(arg.value)) return Err{usage_error("an input path is not valid UTF-8")};
      if (arg.value == "-") {
        if (standard_input) return Err{usage_error("standard input ('-') given more than once")};
        standard_input = true;
      }
      options.inputs.push_back(value);
    } else if (arg.option->name == kOutput.name) {
      if (check_utf8(arg.value)) return Err{usage_error("the output path is not valid UTF-8")};
      if (arg.value.empty()) return Err{usage_error("the output path is empty")};
      output = arg.value;
    } else if (arg.option->name == kFormat.name) {
      format = encoding_named(arg.value);
      if (!format) {
        return Err{
            usage_error("invalid format " + message_quoted(value) + " (expected json or bincode)")};
      }
    } else if (arg.option->name == kInputFormat.name) {
      options.input_format = trace_format(arg.value);
      trace_only = "--input-format";
      if (!options.input_format) {
        return Err{usage_error("invalid input format " + message_quoted(value) +
                               " (expected otlp, jaeger or zipkin)")};
      }
    } else if (arg.option->name == kNoVirtualPeers.name) {
      options.virtual_peers = false;
      trace_only = "--no-virtual-peers";
    } else if (arg.option->name == kShard.name) {
      options.shard = parse_trace_shard(arg.value);
      if (!options.shard) {
        // A share no process can take: one line and the status of an unusable input, as a
        // scheduler handing out shares counts a failed worker.
        return Err{CommandLineExit{"tracemill-condense: invalid shard " + message_quoted(value) +
                                       " (expected K/N with 1 <= K <= N, such as 1/4)\n",
                                   OutputStream::Stderr, kCondenseFailed}};
      }
      trace_only = "--shard";
    } else if (arg.option->name == kMerge.name) {
      options.merge = true;
    } else if (arg.option->name == kHelpOption.name) {
      return Err{CommandLineExit{std::string(kUsage) + "\n" + std::string(kHelp),
                                 OutputStream::Stdout, 0}};
    } else {
      return Err{CommandLineExit{"tracemill-condense " + std::string(version) + "\n",
                                 OutputStream::Stdout, 0}};
    }
  }
  if (split.error) return Err{usage_error(*split.error)};
  if (options.merge && !trace_only.empty()) {
    return Err{usage_error(std::string(trace_only) + " applies to trace files, not to --merge")};
  }
  if (options.merge && standard_input) {
    return Err{usage_error("--merge reads statistics files by name, not standard input ('-')")};
  }
  if (options.inputs.empty()) {
    return Err{
        usage_error("no input given (name one or more trace files, or - for standard input)")};
  }
  Result<Encoding, CommandLineExit> encoding = output_encoding(output, format);
  if (!encoding) return Err{std::move(encoding).error()};
  options.encoding = encoding.value();
  if (output && *output != "-") options.output = *output;
  return options;
}

CondenseOptions read_condense_command_line(int argc, char** argv) {
  const std::vector<std::string_view> args(argv, argv + argc);
  return accepted_or_end(parse_condense_command_line(args, build::kVersion));
}

}  // namespace tracemill
