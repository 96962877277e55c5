// The command line of tracemill-condense: accepted forms, help and version, usage errors.
#include "main/condense_command_line.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "main/command_line_exits.h"

namespace tracemill {
namespace {

Result<CondenseOptions, CommandLineExit> parse(std::vector<std::string_view> args) {
  args.insert(args.begin(), "tracemill-condense");
  return parse_condense_command_line(args, "1.2.3");
}

TEST(CondenseCommandLine, AcceptedForms) {
  using enum TraceFormat;
  struct Case {
    std::vector<std::string_view> args;
    std::vector<std::string> inputs;
    std::string output;
    Encoding encoding;
    std::optional<TraceFormat> input_format = std::nullopt;
    bool virtual_peers = true;
    std::optional<TraceShard> shard = std::nullopt;
    bool merge = false;
  };
  const Case cases[] = {
      {{"a.json", "-o", "s.json"}, {"a.json"}, "s.json", Encoding::Json},
      {{"-os.bincode", "a.gz", "b.jsonl"}, {"a.gz", "b.jsonl"}, "s.bincode", Encoding::Bincode},
      // --format wins over the extension, whichever comes first.
      {{"--format=bincode", "--output=s.json", "a"}, {"a"}, "s.json", Encoding::Bincode},
      {{"-o", "stats", "-f", "json", "a"}, {"a"}, "stats", Encoding::Json},
      // Standard output, with or without "-o -"; "-" as the only input.
      {{"-", "--format", "bincode"}, {"-"}, "", Encoding::Bincode},
      {{"-o", "-", "-fjson", "a", "-"}, {"a", "-"}, "", Encoding::Json},
      // The last option given counts.
      {{"-o", "x.json", "-o", "dir/y.bincode", "a"}, {"a"}, "dir/y.bincode", Encoding::Bincode},
      {{"-o", "x.json", "-o", "-", "-f", "json", "a"}, {"a"}, "", Encoding::Json},
      {{"-i", "jaeger", "--input-format=zipkin", "a", "-o", "s.json"},
       {"a"},
       "s.json",
       Encoding::Json,
       Zipkin},
      {{"--no-virtual-peers", "-iotlp", "a", "-o", "s.json"},
       {"a"},
       "s.json",
       Encoding::Json,
       Otlp,
       false},
      // After "--" every argument is an input; an option's separate value is taken as it is.
      {{"-o", "--help", "-f", "json", "--", "-o", "--x"}, {"-o", "--x"}, "--help", Encoding::Json},
      {{"--shard", "2/4", "a", "-o", "s.json", "--shard=4/4"},
       {"a"},
       "s.json",
       Encoding::Json,
       std::nullopt,
       true,
       TraceShard{4, 4}},
      {{"\xC3\xA9.json", "-o", "\xC3\xA9.json"},
       {"\xC3\xA9.json"},
       "\xC3\xA9.json",
       Encoding::Json},
  };
  for (const Case& c : cases) {
    auto parsed = parse(c.args);
    ASSERT_TRUE(parsed) << parsed.error().text;
    const CondenseOptions& options = parsed.value();
    EXPECT_EQ(options.inputs, c.inputs) << c.args[0];
    EXPECT_EQ(options.output, c.output) << c.args[0];
    EXPECT_EQ(options.encoding, c.encoding) << c.args[0];
    EXPECT_EQ(options.input_format, c.input_format) << c.args[0];
    EXPECT_EQ(options.virtual_peers, c.virtual_peers) << c.args[0];
    EXPECT_EQ(options.shard, c.shard) << c.args[0];
    EXPECT_EQ(options.merge, c.merge) << c.args[0];
  }
}

TEST(CondenseCommandLine, HelpVersionAndUsageErrors) {
  const std::string usage = "Usage: tracemill-condense [OPTIONS] INPUT... -o OUTPUT\n";
  const std::string no_output =
      "no output given (use -o OUTPUT, or --format json|bincode to write to standard output)";
  const std::pair<std::vector<std::string_view>, std::string> cases[] = {
      {{"a", "-Vh"}, "tracemill-condense 1.2.3\n"},
      {{"--help", "--bad"}, usage},  // the first line of the help
      {{"-fx", "--help"}, "invalid format 'x' (expected json or bincode)"},
      {{"--bad", "--help"}, "unknown option '--bad'"},
      {{"--no-virtual-peer"}, "unknown option '--no-virtual-peer'"},
      {{"-x\xC3\xA9"}, "unknown option '-x'"},
      {{"-\xC3\xA9"}, "unknown option '-\xC3\xA9'"},
      {{"--input-format", "OTLP"}, "invalid input format 'OTLP' (expected otlp, jaeger or zipkin)"},
      {{"--output"}, "option '--output' requires an argument"},
      {{"a", "-o"}, "option '-o' requires an argument"},
      {{"--no-virtual-peers=no"}, "option '--no-virtual-peers' takes no argument"},
      // Errors in the arguments come before what only the whole line can show.
      {{"-o", "a.txt", "--bad"}, "unknown option '--bad'"},
      {{}, "no input given (name one or more trace files, or - for standard input)"},
      {{"-o", "s.json"}, "no input given (name one or more trace files, or - for standard input)"},
      {{"a.json"}, no_output},
      {{"a.json", "-o", "-"}, "writing to standard output needs --format json|bincode"},
      {{"a", "-o", "s.JSON"},
       "cannot tell the encoding of 's.JSON' (name it *.json or *.bincode, or give --format "
       "json|bincode)"},
      {{"a", "-o", "dir/.json"},
       "cannot tell the encoding of 'dir/.json' (name it *.json or *.bincode, or give --format "
       "json|bincode)"},
      {{"a", "-o", ""}, "the output path is empty"},
      {{"-", "a", "-", "-o", "s.json"}, "standard input ('-') given more than once"},
      {{"a\xFF", "-o", "s.json"}, "an input path is not valid UTF-8"},
      {{"--merge", "--shard", "1/2", "a.json", "-o", "s.json"},
       "--shard applies to trace files, not to --merge"},
      {{"-iotlp", "--merge", "a.json", "-o", "s.json"},
       "--input-format applies to trace files, not to --merge"},
      {{"--merge", "-", "-o", "s.json"},
       "--merge reads statistics files by name, not standard input ('-')"},
      {{"--merge=x", "a.json"}, "option '--merge' takes no argument"},
      {{"a", "-o", "s\xFF.json"}, "the output path is not valid UTF-8"},
  };
  for (const auto& [args, text] : cases) {
    auto parsed = parse(args);
    ASSERT_FALSE(parsed) << text;
    test_util::expect_exit(parsed.error(), "tracemill-condense", usage, text);
  }
}

// The help names every option the parser accepts and ends with the exit statuses.
TEST(CondenseCommandLine, HelpListsTheOptions) {
  auto parsed = parse({"-h"});
  ASSERT_FALSE(parsed);
  const std::string& help = parsed.error().text;
  for (const char* option : {"-o, --output OUTPUT", "-f, --format FORMAT",
                             "-i, --input-format FORMAT", "--no-virtual-peers", "--shard K/N",
                             "--merge", "-h, --help", "-V, --version", "INPUT..."}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  EXPECT_TRUE(help.ends_with("2 for a usage error.\n")) << help;
}

}  // namespace
}  // namespace tracemill
