// The command line of tracemill-export: accepted forms, help and version, usage errors.
#include "main/export_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "main/command_line_exits.h"

namespace tracemill {
namespace {

Result<ExportCommandLine, CommandLineExit> parse(std::vector<std::string_view> args) {
  args.insert(args.begin(), "tracemill-export");
  return parse_export_command_line(args, "1.2.3");
}

TEST(ExportCommandLine, AcceptedForms) {
  struct Case {
    std::vector<std::string_view> args;
    ExportFormat format;
    std::string input;
  };
  const Case cases[] = {
      {{}, ExportFormat::Dot, "input.json"},
      {{"--format", "json", "a.bincode"}, ExportFormat::Json, "a.bincode"},
      {{"x.json", "--format=mermaid"}, ExportFormat::Mermaid, "x.json"},
      {{"-fjson", "-f", "dot"}, ExportFormat::Dot, "input.json"},
      {{"--", "--format"}, ExportFormat::Dot, "--format"},
      {{"-"}, ExportFormat::Dot, "-"},
  };
  for (const Case& c : cases) {
    auto parsed = parse(c.args);
    ASSERT_TRUE(parsed) << parsed.error().text;
    EXPECT_EQ(parsed.value().format, c.format);
    EXPECT_EQ(parsed.value().input, c.input);
  }
}

// Help and version go to standard output with status 0; a usage error is one line after the
// program name, then the usage, on standard error with status 2.
TEST(ExportCommandLine, HelpVersionAndUsageErrors) {
  const std::string usage = "Usage: tracemill-export [--format dot|mermaid|json] [INPUT]\n";
  const std::pair<std::vector<std::string_view>, std::string> cases[] = {
      {{"in.json", "-Vh"}, "tracemill-export 1.2.3\n"},
      {{"--help", "--bad"}, usage},  // the first line of the help
      {{"--bad", "--help"}, "unknown option '--bad'"},
      {{"--forma=json"}, "unknown option '--forma'"},
      {{"-x\xC3\xA9"}, "unknown option '-x'"},
      {{"-f\xC3\xA9"}, "invalid format '\xC3\xA9' (expected dot, mermaid or json)"},
      {{"--format", "--help"}, "invalid format '--help' (expected dot, mermaid or json)"},
      {{"--format"}, "option '--format' requires an argument"},
      {{"-f"}, "option '-f' requires an argument"},
      {{"--version=1"}, "option '--version' takes no argument"},
      {{"a.json", "b.json"}, "unexpected argument 'b.json'"},
      {{"\xFF.json"}, "the input path is not valid UTF-8"},
  };
  for (const auto& [args, text] : cases) {
    auto parsed = parse(args);
    ASSERT_FALSE(parsed) << text;
    test_util::expect_exit(parsed.error(), "tracemill-export", usage, text);
  }
}

}  // namespace
}  // namespace tracemill
