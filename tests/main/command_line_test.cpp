#include "main/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace tracemill {
namespace {

using Argv = std::vector<std::string_view>;

std::string describe(const Argv& argv) {
  std::string text;
  for (std::string_view arg : argv) text += testing::PrintToString(std::string(arg)) + " ";
  return text;
}

const std::string kHelp =
    "Stitching results of different runs of hopscan into a single CSV for visualization in "
    "Excel\n"
    "\n"
    "Usage: tm [OPTIONS] [INPUT]\n"
    "\n"
    "Arguments:\n"
    "  [INPUT]  [default: input.json]\n"
    "\n"
    "Options:\n"
    "  -o, --output <OUTPUT>  [default: stitched.csv]\n"
    "  -h, --help             Print help\n"
    "  -V, --version          Print version\n";

const std::string kVersion = "tracemill 0.2.2\n";

TEST(CommandLine, AcceptedSpellings) {
  struct Case {
    Argv argv;
    std::string input, output;
  };
  const Case cases[] = {
      {{}, "input.json", "stitched.csv"},
      {{"tm"}, "input.json", "stitched.csv"},
      {{"tm", "stats.json", "-o", "out.csv"}, "stats.json", "out.csv"},
      {{"tm", "-o", "out.csv", "stats.json"}, "stats.json", "out.csv"},
      {{"tm", "--output=out.csv", "stats.json"}, "stats.json", "out.csv"},
      {{"tm", "--output", "out.csv", "stats.json"}, "stats.json", "out.csv"},
      {{"tm", "-oout.csv", "stats.json"}, "stats.json", "out.csv"},
      {{"tm", "stats.json", "-o=out.csv"}, "stats.json", "out.csv"},
      {{"tm", "-o==x"}, "input.json", "=x"},
      {{"tm", "--output==x"}, "input.json", "=x"},
      {{"tm", "--output="}, "input.json", ""},
      {{"tm", "-o", ""}, "input.json", ""},
      {{"tm", ""}, "", "stitched.csv"},
      {{"tm", "-"}, "-", "stitched.csv"},
      {{"tm", "--", "-o"}, "-o", "stitched.csv"},
      {{"tm", "--", "--"}, "--", "stitched.csv"},
      {{"tm", "a", "--"}, "a", "stitched.csv"},
      {{"tm", "-o", "x", "--", "-h"}, "-h", "x"},
      // The next argument is the value even when it looks like an option.
      {{"tm", "-o", "--help"}, "input.json", "--help"},
      {{"tm", "--output", "-V"}, "input.json", "-V"},
      {{"tm", "-o", "--"}, "input.json", "--"},
      {{"tm", "--output", "--foo", "in"}, "in", "--foo"},
      {{"tm", "-o", "-", "-"}, "-", "-"},
      {{"tm", "-ohV"}, "input.json", "hV"},
      {{"tm", "\xc3\xa9.json", "-o\xe2\x82\xac"}, "\xc3\xa9.json", "\xe2\x82\xac"},
  };
  for (const Case& c : cases) {
    auto parsed = parse_command_line(c.argv, StyleEnvironment{});
    ASSERT_TRUE(parsed.ok()) << describe(c.argv) << parsed.error().text;
    EXPECT_EQ(parsed.value().input, c.input) << describe(c.argv);
    EXPECT_EQ(parsed.value().output, c.output) << describe(c.argv);
  }
}

TEST(CommandLine, EndsTheRun) {
  struct Case {
    Argv argv;
    std::string text;
    OutputStream stream;
    int status;
  };
  auto error = [](std::string text) { return "error: " + text; };
  const std::string more = "\nFor more information, try '--help'.\n";
  const std::string usage = "\nUsage: tm [OPTIONS] [INPUT]\n" + more;
  const std::string invalid_utf8 = error("invalid UTF-8 was detected in one or more arguments\n");
  const std::string repeated =
      error("the argument '--output <OUTPUT>' cannot be used multiple times\n") + usage;
  const std::string value_required =
      error("a value is required for '--output <OUTPUT>' but none was supplied\n") + more;
  const auto out = OutputStream::Stdout;
  const auto err = OutputStream::Stderr;
  const Case cases[] = {
      {{"tm", "-h"}, kHelp, out, 0},
      {{"tm", "--help"}, kHelp, out, 0},
      {{"tm", "-V"}, kVersion, out, 0},
      {{"tm", "--version"}, kVersion, out, 0},
      {{"tm", "--help", "--foo"}, kHelp, out, 0},
      {{"tm", "-hV"}, kHelp, out, 0},
      {{"tm", "-Vh"}, kVersion, out, 0},
      {{"tm", "-h", "\xff"}, kHelp, out, 0},
      {{"tm", "a", "-o", "x", "-V"}, kVersion, out, 0},
      {{"./bin/netsketch", "--foo"},
       "error: unexpected argument '--foo' found\n"
       "\n"
       "  tip: to pass '--foo' as a value, use '-- --foo'\n"
       "\n"
       "Usage: netsketch [OPTIONS] [INPUT]\n"
       "\n"
       "For more information, try '--help'.\n",
       err,
       2},
      {{"tm", "--foo=bar", "--help"},
       error("unexpected argument '--foo' found\n\n"
             "  tip: to pass '--foo' as a value, use '-- --foo'\n") +
           usage,
       err,
       2},
      {{"tm", "--outpt"},
       error("unexpected argument '--outpt' found\n\n"
             "  tip: a similar argument exists: '--output'\n\n"
             "Usage: tm --output <OUTPUT> [INPUT]\n") +
           more,
       err,
       2},
      {{"tm", "in", "--outptu=x"},
       error("unexpected argument '--outptu' found\n\n"
             "  tip: a similar argument exists: '--output'\n\n"
             "Usage: tm --output <OUTPUT> <INPUT>\n") +
           more,
       err,
       2},
      {{"tm", "--o"},
       error("unexpected argument '--o' found\n\n"
             "  tip: a similar argument exists: '--output'\n\n"
             "Usage: tm --output <OUTPUT> [INPUT]\n") +
           more,
       err,
       2},
      // help (0.75) beats version (0.71).
      {{"tm", "-o", "x", "--e"},
       error("unexpected argument '--e' found\n\n"
             "  tip: a similar argument exists: '--help'\n\n"
             "Usage: tm --output <OUTPUT> [INPUT]\n") +
           more,
       err,
       2},
      {{"tm", "--verison"},
       error("unexpected argument '--verison' found\n\n"
             "  tip: a similar argument exists: '--version'\n\n"
             "Usage: tm [INPUT]\n") +
           more,
       err,
       2},
      {{"tm", "--help=x"},
       error("unexpected argument '--help=x' found\n\n"
             "  tip: to pass '--help=x' as a value, use '-- --help=x'\n") +
           usage,
       err,
       2},
      {{"tm", "-x"},
       error("unexpected argument '-x' found\n\n"
             "  tip: to pass '-x' as a value, use '-- -x'\n") +
           usage,
       err,
       2},
      {{"tm", "-\xc3\xa9h"},
       error("unexpected argument '-\xc3\xa9' found\n\n"
             "  tip: to pass '-\xc3\xa9' as a value, use '-- -\xc3\xa9'\n") +
           usage,
       err,
       2},
      {{"tm", "a", "b"}, error("unexpected argument 'b' found\n") + usage, err, 2},
      {{"tm", "--", "a", "-b"}, error("unexpected argument '-b' found\n") + usage, err, 2},
      {{"tm", "-o"}, value_required, err, 2},
      {{"tm", "x", "--output"}, value_required, err, 2},
      {{"tm", "-o", "a", "-o", "b"}, repeated, err, 2},
      {{"tm", "-oa", "--output=b"}, repeated, err, 2},
      {{"tm", "--output=a", "-o"}, repeated, err, 2},
      {{"tm", "\xff"}, invalid_utf8 + usage, err, 2},
      {{"tm", "\xff", "-h"}, invalid_utf8 + usage, err, 2},
      {{"tm", "-o", "a\xff"}, invalid_utf8 + usage, err, 2},
      {{"tm", "--output=\xc0\x80"}, invalid_utf8 + usage, err, 2},
      {{"tm", "--ou\xfft"}, invalid_utf8 + usage, err, 2},
      {{"tm", "-\xff"}, invalid_utf8 + usage, err, 2},
      {{"tm", "--", "a", "\xff"}, invalid_utf8 + usage, err, 2},
  };
  for (const Case& c : cases) {
    auto parsed = parse_command_line(c.argv, StyleEnvironment{});
    ASSERT_FALSE(parsed.ok()) << describe(c.argv);
    EXPECT_EQ(parsed.error().text, c.text) << describe(c.argv);
    EXPECT_EQ(parsed.error().stream, c.stream) << describe(c.argv);
    EXPECT_EQ(parsed.error().status, c.status) << describe(c.argv);
  }
}

TEST(CommandLine, ProgramNameIsTheLastPathComponent) {
  struct Case {
    Argv argv;
    std::string name;
  };
  const Case cases[] = {
      {{}, "tracemill"},
      {{""}, "tracemill"},
      {{"netsketch"}, "netsketch"},
      {{"./bin/netsketch"}, "netsketch"},
      {{"/usr/bin/"}, "bin"},
      {{"x//y//"}, "y"},
      {{"a/."}, "a"},
      {{"."}, "tracemill"},
      {{"a/.."}, "tracemill"},
      {{"/"}, "tracemill"},
      {{"bin/\xc3\xa9"}, "\xc3\xa9"},
      {{"bin/n\xff"}, "tracemill"},
  };
  for (const Case& c : cases) EXPECT_EQ(program_name(c.argv), c.name) << describe(c.argv);
}

// Help is styled by what standard output is, errors by what standard error is.
TEST(CommandLine, StylingFollowsTheTargetStream) {
  StyleEnvironment stdout_terminal;
  stdout_terminal.term = "xterm";
  stdout_terminal.stdout_is_terminal = true;
  StyleEnvironment stderr_terminal = stdout_terminal;
  std::swap(stderr_terminal.stdout_is_terminal, stderr_terminal.stderr_is_terminal);
  StyleEnvironment forced;
  forced.clicolor_force = "1";
  const Argv help = {"tm", "-h"};
  const Argv error = {"tm", "-o"};
  const std::string plain_error =
      "error: a value is required for '--output <OUTPUT>' but none was supplied\n"
      "\nFor more information, try '--help'.\n";
  const std::string styled_error =
      "\x1b[1m\x1b[31merror:\x1b[0m a value is required for '\x1b[1m--output <OUTPUT>\x1b[0m' "
      "but none was supplied\n\nFor more information, try '\x1b[1m--help\x1b[0m'.\n";
  EXPECT_EQ(parse_command_line(help, stderr_terminal).error().text, kHelp);
  EXPECT_EQ(parse_command_line(help, stdout_terminal).error().text,
            parse_command_line(help, forced).error().text);
  EXPECT_NE(parse_command_line(help, forced).error().text, kHelp);
  EXPECT_EQ(parse_command_line(error, stdout_terminal).error().text, plain_error);
  EXPECT_EQ(parse_command_line(error, stderr_terminal).error().text, styled_error);
}

}  // namespace
}  // namespace tracemill
