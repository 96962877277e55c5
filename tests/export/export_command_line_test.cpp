// The command line of tracemill-export: accepted forms, help and version, usage errors.
#include "main/export_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

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

TEST(ExportCommandLine, HelpVersionAndUsageErrors) {
  const std::string usage =
      "Usage: tracemill-export [--format dot|mermaid|json] [INPUT]\n"
      "Try 'tracemill-export --help' for more information.\n";
  struct Case {
    std::vector<std::string_view> args;
    std::string first_line;  // the whole text of a usage error: this line, then `usage`
    int status;
  };
  const Case cases[] = {
      {{"in.json", "-Vh"}, "tracemill-export 1.2.3", 0},
      {{"--help", "--bad"}, "Usage: tracemill-export [--format dot|mermaid|json] [INPUT]", 0},
      {{"--bad", "--help"}, "tracemill-export: unknown option '--bad'", 2},
      {{"--forma=json"}, "tracemill-export: unknown option '--forma'", 2},
      {{"-x\xC3\xA9"}, "tracemill-export: unknown option '-x'", 2},
      {{"-f\xC3\xA9"},
       "tracemill-export: invalid format '\xC3\xA9' (expected dot, mermaid or json)",
       2},
      {{"--format", "--help"},
       "tracemill-export: invalid format '--help' (expected dot, mermaid or json)",
       2},
      {{"--format"}, "tracemill-export: option '--format' requires an argument", 2},
      {{"-f"}, "tracemill-export: option '-f' requires an argument", 2},
      {{"--version=1"}, "tracemill-export: option '--version' takes no argument", 2},
      {{"a.json", "b.json"}, "tracemill-export: unexpected argument 'b.json'", 2},
      {{"\xFF.json"}, "tracemill-export: the input path is not valid UTF-8", 2},
  };
  for (const Case& c : cases) {
    auto parsed = parse(c.args);
    ASSERT_FALSE(parsed) << c.first_line;
    const CommandLineExit& exit = parsed.error();
    EXPECT_EQ(exit.status, c.status) << c.first_line;
    EXPECT_EQ(exit.stream, c.status == 0 ? OutputStream::Stdout : OutputStream::Stderr);
    if (c.status == 2) {
      EXPECT_EQ(exit.text, c.first_line + "\n" + usage);
    } else {
      EXPECT_EQ(exit.text.substr(0, exit.text.find('\n')), c.first_line);
    }
  }
}

}  // namespace
}  // namespace tracemill
