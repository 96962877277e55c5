// The command line of tracemill-export: accepted forms, help and version, usage errors.
#include "main/export_command_line.h"

#include <gtest/gtest.h>

#include <optional>
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
  using Inputs = std::vector<std::string>;
  struct Case {
    std::vector<std::string_view> args;
    ExportOptions expected;
  };
  const Case cases[] = {
      {{}, {}},
      {{"--format", "json", "a.bincode"},
       {ExportFormat::Json, {"a.bincode"}, std::nullopt, 1, false, {}}},
      {{"x.json", "--format=mermaid"},
       {ExportFormat::Mermaid, {"x.json"}, std::nullopt, 1, false, {}}},
      {{"-fprometheus"}, {ExportFormat::Prometheus, {"input.json"}, std::nullopt, 1, false, {}}},
      {{"--format=html"}, {ExportFormat::Html, {"input.json"}, std::nullopt, 1, false, {}}},
      {{"-fjson", "-f", "dot"}, {}},
      {{"--exact", "-fjson", "a.json"},
       {ExportFormat::Json, {"a.json"}, std::nullopt, 1, true, {}}},
      {{"--", "--format"}, {ExportFormat::Dot, {"--format"}, std::nullopt, 1, false, {}}},
      {{"-"}, {ExportFormat::Dot, {"-"}, std::nullopt, 1, false, {}}},
      {{"a.json", "b.bincode", "a.json"},
       {ExportFormat::Dot, {"a.json", "b.bincode", "a.json"}, std::nullopt, 1, false, {}}},
      {{"--focus", "api"}, {ExportFormat::Dot, {"input.json"}, "api", 1, false, {}}},
      {{"--depth=0", "--focus=", "s.json"}, {ExportFormat::Dot, {"s.json"}, "", 0, false, {}}},
      {{"--baseline", "old.json", "n.json", "--baseline=o.bincode"},
       {ExportFormat::Dot, {"n.json"}, std::nullopt, 1, false, {"old.json", "o.bincode"}}},
      {{"--focus", "a", "--depth", "4294967295"},
       {ExportFormat::Dot, Inputs{"input.json"}, "a", 4294967295u, false, {}}},
  };
  for (const Case& c : cases) {
    auto parsed = parse(c.args);
    ASSERT_TRUE(parsed) << parsed.error().text;
    EXPECT_EQ(parsed.value(), c.expected) << c.args.size();
  }
}

// Help and version go to standard output with status 0; a usage error is one line after the
// program name, then the usage, on standard error with status 2.
TEST(ExportCommandLine, HelpVersionAndUsageErrors) {
  const std::string usage =
      "Usage: tracemill-export [--format dot|mermaid|json|prometheus|html] [--focus SERVICE "
      "[--depth D]] [--baseline OLD]... [--exact] [INPUT...]\n";
  const std::pair<std::vector<std::string_view>, std::string> cases[] = {
      {{"in.json", "-Vh"}, "tracemill-export 1.2.3\n"},
      {{"--help", "--bad"}, usage},  // the first line of the help
      {{"--bad", "--help"}, "unknown option '--bad'"},
      {{"--forma=json"}, "unknown option '--forma'"},
      {{"-x\xC3\xA9"}, "unknown option '-x'"},
      {{"-f\xC3\xA9"},
       "invalid format '\xC3\xA9' (expected dot, mermaid, json, prometheus or html)"},
      {{"--format", "--help"},
       "invalid format '--help' (expected dot, mermaid, json, prometheus or html)"},
      {{"--format"}, "option '--format' requires an argument"},
      {{"-f"}, "option '-f' requires an argument"},
      {{"--version=1"}, "option '--version' takes no argument"},
      {{"\xFF.json"}, "the input path is not valid UTF-8"},
      {{"--focus", "\xFF"}, "the service name is not valid UTF-8"},
      {{"--depth", "2"}, "--depth needs --focus SERVICE"},
      {{"--focus", "a", "--depth", "-1"}, "invalid depth '-1' (expected a whole number of calls)"},
      {{"--focus=a", "--depth=4294967296"},
       "invalid depth '4294967296' (expected a whole number of calls)"},
      {{"--focus=a", "--depth="}, "invalid depth '' (expected a whole number of calls)"},
  };
  for (const auto& [args, text] : cases) {
    auto parsed = parse(args);
    ASSERT_FALSE(parsed) << text;
    test_util::expect_exit(parsed.error(), "tracemill-export", usage, text);
  }
}

}  // namespace
}  // namespace tracemill
