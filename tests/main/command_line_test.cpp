#include "main/command_line.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "main/help_text.h"

namespace tracemill {
namespace {

using Argv = std::vector<std::string_view>;

std::string describe(const Argv& argv) {
  std::string text;
  for (std::string_view arg : argv) text += ::testing::PrintToString(std::string(arg)) + " ";
  return text;
}

const std::string kHelp = testing::help_text("tm", false);
const std::string kVersion = "tracemill 0.2.2\n";
const std::string kMore = "\nFor more information, try '--help'.\n";
const std::string kUsage = "\nUsage: tm [OPTIONS] [INPUT]\n" + kMore;

TEST(CommandLine, AcceptedSpellings) {
  struct Case {
    Argv argv;
    std::string input, output;
  };
  const Case cases[] = {
      {{}, "input.json", "stitched.csv"},
      {{"tm", "stats.json", "-o", "out.csv"}, "stats.json", "out.csv"},
      {{"tm", "--output", "out.csv", "stats.json"}, "stats.json", "out.csv"},
      {{"tm", "-oout.csv", "stats.json"}, "stats.json", "out.csv"},
      {{"tm", "stats.json", "-o=out.csv"}, "stats.json", "out.csv"},
      {{"tm", "-o==x"}, "input.json", "=x"},
      {{"tm", "--output==x"}, "input.json", "=x"},
      {{"tm", "--output="}, "input.json", ""},
      {{"tm", ""}, "", "stitched.csv"},
      {{"tm", "-"}, "-", "stitched.csv"},
      {{"tm", "--", "-o"}, "-o", "stitched.csv"},
      {{"tm", "--", "--"}, "--", "stitched.csv"},
      {{"tm", "a", "--"}, "a", "stitched.csv"},
      // The next argument is the value even when it looks like an option.
      {{"tm", "-o", "--help"}, "input.json", "--help"},
      {{"tm", "--output", "--foo", "in"}, "in", "--foo"},
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

// Help and version go to standard output with status 0, usage errors to standard error with 2.
TEST(CommandLine, EndsTheRun) {
  struct Case {
    Argv argv;
    std::string text;
  };
  auto unexpected = [](std::string arg) {
    return "error: unexpected argument '" + arg + "' found\n";
  };
  auto value_tip = [&](std::string arg) {
    return unexpected(arg) + "\n  tip: to pass '" + arg + "' as a value, use '-- " + arg + "'\n" +
           kUsage;
  };
  auto similar = [&](std::string arg, std::string known, std::string usage) {
    return unexpected(arg) + "\n  tip: a similar argument exists: '" + known + "'\n\nUsage: tm " +
           usage + "\n" + kMore;
  };
  const std::string invalid_utf8 =
      "error: invalid UTF-8 was detected in one or more arguments\n" + kUsage;
  const std::string repeated =
      "error: the argument '--output <OUTPUT>' cannot be used multiple times\n" + kUsage;
  const Case successes[] = {
      {{"tm", "--version"}, kVersion}, {{"tm", "--help", "--foo"}, kHelp},
      {{"tm", "-hV"}, kHelp},          {{"tm", "-Vh"}, kVersion},
      {{"tm", "-h", "\xff"}, kHelp},   {{"tm", "a", "-o", "x", "-V"}, kVersion},
  };
  const Case errors[] = {
      {{"./bin/netsketch", "--foo"},
       "error: unexpected argument '--foo' found\n\n"
       "  tip: to pass '--foo' as a value, use '-- --foo'\n\n"
       "Usage: netsketch [OPTIONS] [INPUT]\n\n"
       "For more information, try '--help'.\n"},
      {{"tm", "--foo=bar", "--help"}, value_tip("--foo")},
      {{"tm", "--help=x"}, value_tip("--help=x")},
      {{"tm", "-\xc3\xa9h"}, value_tip("-\xc3\xa9")},
      {{"tm", "--outpt"}, similar("--outpt", "--output", "--output <OUTPUT> [INPUT]")},
      {{"tm", "in", "--outptu=x"}, similar("--outptu", "--output", "--output <OUTPUT> <INPUT>")},
      // help (0.75) beats version (0.71).
      {{"tm", "-o", "x", "--e"}, similar("--e", "--help", "--output <OUTPUT> [INPUT]")},
      {{"tm", "--verison"}, similar("--verison", "--version", "[INPUT]")},
      {{"tm", "a", "b"}, unexpected("b") + kUsage},
      {{"tm", "--", "a", "-b"}, unexpected("-b") + kUsage},
      {{"tm", "-o"},
       "error: a value is required for '--output <OUTPUT>' but none was supplied\n" + kMore},
      {{"tm", "-o", "a", "-o", "b"}, repeated},
      {{"tm", "--output=a", "-o"}, repeated},
      {{"tm", "\xff"}, invalid_utf8},
      {{"tm", "\xff", "-h"}, invalid_utf8},
      {{"tm", "--output=\xc0\x80"}, invalid_utf8},
      {{"tm", "--ou\xfft"}, invalid_utf8},
      {{"tm", "-\xff"}, invalid_utf8},
      {{"tm", "--", "a", "\xff"}, invalid_utf8},
  };
  for (bool success : {true, false}) {
    for (const Case& c :
         success ? std::span<const Case>(successes) : std::span<const Case>(errors)) {
      auto parsed = parse_command_line(c.argv, StyleEnvironment{});
      ASSERT_FALSE(parsed.ok()) << describe(c.argv);
      EXPECT_EQ(parsed.error().text, c.text) << describe(c.argv);
      EXPECT_EQ(parsed.error().stream, success ? OutputStream::Stdout : OutputStream::Stderr);
      EXPECT_EQ(parsed.error().status, success ? 0 : 2) << describe(c.argv);
    }
  }
  // A program name that is not UTF-8 falls back to the command name and is no invalid argument.
  EXPECT_EQ(parse_command_line(Argv{"bin/n\xff", "-h"}, {}).error().text,
            testing::help_text("tracemill", false));
}

TEST(CommandLine, StyledTexts) {
  StyleEnvironment forced;
  forced.clicolor_force = "1";
  const std::string error = "\x1b[1m\x1b[31merror:\x1b[0m ";
  const std::string tip = "  \x1b[32mtip:\x1b[0m ";
  const std::string usage = "\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mtm\x1b[0m";
  const std::string more = "For more information, try '\x1b[1m--help\x1b[0m'.\n";
  const std::pair<Argv, std::string> cases[] = {
      {{"tm", "-h"}, testing::help_text("tm", true)},
      {{"tm", "-V"}, kVersion},
      {{"tm", "--foo"},
       error + "unexpected argument '\x1b[33m--foo\x1b[0m' found\n\n" + tip +
           "to pass '\x1b[33m--foo\x1b[0m' as a value, use '\x1b[32m-- --foo\x1b[0m'\n\n" + usage +
           " [OPTIONS] [INPUT]\n\n" + more},
      {{"tm", "in.json", "--outpt=x"},
       error + "unexpected argument '\x1b[33m--outpt\x1b[0m' found\n\n" + tip +
           "a similar argument exists: '\x1b[32m--output\x1b[0m'\n\n" + usage +
           " \x1b[1m--output\x1b[0m <OUTPUT> <INPUT>\n\n" + more},
      {{"tm", "a", "b"},
       error + "unexpected argument '\x1b[33mb\x1b[0m' found\n\n" + usage +
           " [OPTIONS] [INPUT]\n\n" + more},
      {{"tm", "-o"},
       error +
           "a value is required for '\x1b[1m--output <OUTPUT>\x1b[0m' but none was supplied\n\n" +
           more},
      {{"tm", "-o", "a", "--output", "b"},
       error + "the argument '\x1b[33m--output <OUTPUT>\x1b[0m' cannot be used multiple times\n\n" +
           usage + " [OPTIONS] [INPUT]\n\n" + more},
      {{"tm", "in\xff.json"},
       error + "invalid UTF-8 was detected in one or more arguments\n\n" + usage +
           " [OPTIONS] [INPUT]\n\n" + more},
  };
  for (const auto& [argv, text] : cases) {
    EXPECT_EQ(parse_command_line(argv, forced).error().text, text) << describe(argv);
  }
}

// Help is styled by what standard output is, errors by what standard error is.
TEST(CommandLine, StylingFollowsTheTargetStream) {
  StyleEnvironment stdout_terminal;
  stdout_terminal.term = "xterm";
  stdout_terminal.stdout_is_terminal = true;
  StyleEnvironment stderr_terminal = stdout_terminal;
  std::swap(stderr_terminal.stdout_is_terminal, stderr_terminal.stderr_is_terminal);
  const Argv help = {"tm", "-h"};
  const Argv error = {"tm", "-o"};
  EXPECT_EQ(parse_command_line(help, stderr_terminal).error().text, kHelp);
  EXPECT_EQ(parse_command_line(help, stdout_terminal).error().text, testing::help_text("tm", true));
  EXPECT_EQ(parse_command_line(error, stdout_terminal).error().text,
            "error: a value is required for '--output <OUTPUT>' but none was supplied\n" + kMore);
  EXPECT_EQ(
      parse_command_line(error, stderr_terminal).error().text,
      "\x1b[1m\x1b[31merror:\x1b[0m a value is required for '\x1b[1m--output <OUTPUT>\x1b[0m' "
      "but none was supplied\n\nFor more information, try '\x1b[1m--help\x1b[0m'.\n");
}

TEST(CommandLine, ProgramNameIsTheLastPathComponent) {
  const std::pair<Argv, std::string> cases[] = {
      {{}, "tracemill"},
      {{""}, "tracemill"},
      {{"./bin/netsketch"}, "netsketch"},
      {{"/usr/bin/"}, "bin"},
      {{"x//y//"}, "y"},
      {{"a/."}, "a"},
      {{"a/.."}, "tracemill"},
      {{"/"}, "tracemill"},
      {{"bin/\xc3\xa9"}, "\xc3\xa9"},
      {{"bin/n\xff"}, "tracemill"},
  };
  for (const auto& [argv, name] : cases) EXPECT_EQ(program_name(argv), name) << describe(argv);
}

}  // namespace
}  // namespace tracemill
