// The command line of tracemill (accepted spellings, help, version, usage errors and their
// styling) and the pieces it is built from: UTF-8 checks, the similarity of names, the choice
// of styling.
#include "main/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "main/styled_text.h"
#include "text_form/jaro.h"

namespace tracemill {
namespace {

using Argv = std::vector<std::string_view>;

// The help for a program called `program`, plain or with the terminal styling.
std::string expected_help(const std::string& program, bool styled) {
  auto bold = [&](const std::string& s) { return styled ? "\x1b[1m" + s + "\x1b[0m" : s; };
  auto head = [&](const std::string& s) { return styled ? "\x1b[1m\x1b[4m" + s + "\x1b[0m" : s; };
  return "Stitching results of different runs of hopscan into a single CSV for visualization in "
         "Excel\n\n" +
         head("Usage:") + " " + bold(program) + " [OPTIONS] [INPUT]\n\n" + head("Arguments:") +
         "\n  [INPUT]  [default: input.json]\n\n" + head("Options:") + "\n  " + bold("-o") + ", " +
         bold("--output") + " <OUTPUT>  [default: stitched.csv]\n  " + bold("-h") + ", " +
         bold("--help") + "             Print help\n  " + bold("-V") + ", " + bold("--version") +
         "          Print version\n";
}

const std::string kHelp = expected_help("tm", false);
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
      {{"tm", "-o==x"}, "input.json", "=x"},
      {{"tm", "stats.json", "-o", "out.csv"}, "stats.json", "out.csv"},
      {{"tm", "--output", "out.csv", "stats.json"}, "stats.json", "out.csv"},
      {{"tm", "-oout.csv", "stats.json"}, "stats.json", "out.csv"},
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
    ASSERT_TRUE(parsed.ok()) << testing::PrintToString(c.argv) << parsed.error().text;
    EXPECT_EQ(parsed.value().input, c.input) << testing::PrintToString(c.argv);
    EXPECT_EQ(parsed.value().output, c.output) << testing::PrintToString(c.argv);
  }
}

// Help and version go to standard output with status 0, usage errors to standard error with 2.
TEST(CommandLine, EndsTheRun) {
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
  const std::pair<Argv, std::string> cases[] = {
      {{"tm", "--version"}, kVersion},
      {{"tm", "--help", "--foo"}, kHelp},
      {{"tm", "-hV"}, kHelp},
      {{"tm", "-Vh"}, kVersion},
      {{"tm", "-h", "\xff"}, kHelp},
      {{"tm", "a", "-o", "x", "-V"}, kVersion},
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
      // Names are compared by characters: the accented letter is one.
      {{"tm", "--h\xc3\xa9lp"}, similar("--h\xc3\xa9lp", "--help", "[INPUT]")},
      {{"tm", "a", "b"}, unexpected("b") + kUsage},
      {{"tm", "--", "a", "-b"}, unexpected("-b") + kUsage},
      {{"tm", "-o"},
       "error: a value is required for '--output <OUTPUT>' but none was supplied\n" + kMore},
      {{"tm", "-o", "a", "-o", "b"}, repeated},
      {{"tm", "--output=a", "-o"}, repeated},
      {{"tm", "\xff", "-h"}, invalid_utf8},
      {{"tm", "--output=\xc0\x80"}, invalid_utf8},
      {{"tm", "--ou\xfft"}, invalid_utf8},
      {{"tm", "-\xff"}, invalid_utf8},
      {{"tm", "--", "a", "\xff"}, invalid_utf8},
  };
  for (const auto& [argv, text] : cases) {
    const bool success = text == kHelp || text == kVersion;
    auto parsed = parse_command_line(argv, StyleEnvironment{});
    ASSERT_FALSE(parsed.ok()) << testing::PrintToString(argv);
    EXPECT_EQ(parsed.error().text, text) << testing::PrintToString(argv);
    EXPECT_EQ(parsed.error().stream, success ? OutputStream::Stdout : OutputStream::Stderr);
    EXPECT_EQ(parsed.error().status, success ? 0 : 2) << testing::PrintToString(argv);
  }
  // A program name that is not UTF-8 falls back to the command name and is no invalid argument.
  EXPECT_EQ(parse_command_line(Argv{"bin/n\xff", "-h"}, {}).error().text,
            expected_help("tracemill", false));
}

// Help is styled by what standard output is, usage errors by what standard error is; the
// version never is.
TEST(CommandLine, StyledTexts) {
  StyleEnvironment forced, out_terminal, err_terminal;
  forced.clicolor_force = "1";
  out_terminal.term = err_terminal.term = "xterm";
  out_terminal.stdout_is_terminal = err_terminal.stderr_is_terminal = true;
  const std::string error = "\x1b[1m\x1b[31merror:\x1b[0m ";
  const std::string tip = "  \x1b[32mtip:\x1b[0m ";
  const std::string usage = "\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mtm\x1b[0m";
  const std::string general = usage + " [OPTIONS] [INPUT]\n\n";
  const std::string more = "For more information, try '\x1b[1m--help\x1b[0m'.\n";
  const std::string required =
      "a value is required for '\x1b[1m--output <OUTPUT>\x1b[0m' but none was supplied\n\n";
  struct Case {
    const StyleEnvironment& environment;
    Argv argv;
    std::string text;
  };
  const Case cases[] = {
      {out_terminal, {"tm", "-h"}, expected_help("tm", true)},
      {err_terminal, {"tm", "-h"}, kHelp},
      {forced, {"tm", "-V"}, kVersion},
      {out_terminal,
       {"tm", "-o"},
       "error: a value is required for '--output <OUTPUT>' but none was supplied\n" + kMore},
      {err_terminal, {"tm", "-o"}, error + required + more},
      {forced,
       {"tm", "--foo"},
       error + "unexpected argument '\x1b[33m--foo\x1b[0m' found\n\n" + tip +
           "to pass '\x1b[33m--foo\x1b[0m' as a value, use '\x1b[32m-- --foo\x1b[0m'\n\n" +
           general + more},
      {forced,
       {"tm", "in.json", "--outpt=x"},
       error + "unexpected argument '\x1b[33m--outpt\x1b[0m' found\n\n" + tip +
           "a similar argument exists: '\x1b[32m--output\x1b[0m'\n\n" + usage +
           " \x1b[1m--output\x1b[0m <OUTPUT> <INPUT>\n\n" + more},
      {forced,
       {"tm", "-o", "a", "--output", "b"},
       error + "the argument '\x1b[33m--output <OUTPUT>\x1b[0m' cannot be used multiple times\n\n" +
           general + more},
      {forced,
       {"tm", "in\xff.json"},
       error + "invalid UTF-8 was detected in one or more arguments\n\n" + general + more},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse_command_line(c.argv, c.environment).error().text, c.text)
        << testing::PrintToString(c.argv);
  }
}

TEST(CommandLine, ProgramNameIsTheLastPathComponent) {
  const std::pair<Argv, std::string> cases[] = {
      {{}, "tracemill"},
      {{"./bin/netsketch"}, "netsketch"},
      {{"x//y//"}, "y"},
      {{"a/."}, "a"},
      {{"a/.."}, "tracemill"},
      {{"/"}, "tracemill"},
      {{"bin/\xc3\xa9"}, "\xc3\xa9"},
      {{"bin/n\xff"}, "tracemill"},
  };
  for (const auto& [argv, name] : cases)
    EXPECT_EQ(program_name(argv), name) << testing::PrintToString(argv);
}

TEST(StyledText, StylingDependsOnTerminalAndEnvironment) {
  struct Case {
    const char* what;
    StyleEnvironment environment;
    bool terminal;
    bool expected;
  };
  auto env = [](std::optional<std::string> no_color, std::optional<std::string> clicolor,
                std::optional<std::string> force, std::optional<std::string> term,
                std::optional<std::string> ci) {
    return StyleEnvironment{no_color, clicolor, force, term, ci, false, false};
  };
  const std::nullopt_t unset = std::nullopt;
  const Case cases[] = {
      {"terminal without colour hints", env(unset, unset, unset, unset, unset), true, false},
      {"terminal, TERM", env(unset, unset, unset, "xterm", unset), true, true},
      {"TERM without terminal", env(unset, unset, unset, "xterm", unset), false, false},
      {"terminal, dumb TERM", env(unset, unset, unset, "dumb", unset), true, false},
      {"terminal, dumb TERM, CI", env(unset, unset, unset, "dumb", ""), true, true},
      {"terminal, CLICOLOR", env(unset, "1", unset, unset, unset), true, true},
      {"terminal, CLICOLOR=0", env(unset, "0", unset, "xterm", "1"), true, false},
      {"terminal, NO_COLOR", env("1", unset, unset, "xterm", unset), true, false},
      {"terminal, empty NO_COLOR", env("", unset, unset, "xterm", unset), true, true},
      {"empty CLICOLOR_FORCE", env(unset, unset, "", unset, unset), false, true},
      {"CLICOLOR_FORCE=0, terminal", env(unset, unset, "0", "xterm", unset), true, true},
      {"CLICOLOR_FORCE beats NO_COLOR", env("1", "0", "1", unset, unset), false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(styling_wanted(c.environment, c.terminal), c.expected) << c.what;
  }
}

TEST(Jaro, Similarity) {
  struct Case {
    std::u32string_view a, b;
    double expected;
  };
  const Case cases[] = {
      {U"outpt", U"output", 17.0 / 18.0},
      {U"foo", U"help", 0.0},
      {U"", U"", 1.0},
      {U"", U"output", 0.0},
      {U"a", U"a", 1.0},
      // The window for lengths 1 and 2 is 0: "a" may only match position 0.
      {U"a", U"xa", 0.0},
      {U"a", U"ax", 2.5 / 3.0},
      // b matched at 0 after a at 1: one transposition, (1 + 1 + 3/4) / 3.
      {U"abcd", U"bacd", 11.0 / 12.0},
      // Characters, not bytes: the accented letter is one position.
      {U"h\u00e9llo", U"hello", 13.0 / 15.0},
      {U"e", U"help", 0.75},
      {U"e", U"version", 5.0 / 7.0},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(jaro_similarity(c.a, c.b), c.expected)
        << std::u32string(c.a).size() << " vs " << std::u32string(c.b).size();
  }
}

// A text cut into pieces anywhere, even inside a character, has the fault of the whole.
TEST(Utf8, CheckerOverPiecesFindsTheFaultOfTheWhole) {
  const std::string_view texts[] = {
      "ab\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z",  // valid
      "ab\xe2\x82",                               // ends inside a character
      "ab\xe2\x28\xa1yz",                         // bad second byte (then ASCII, not hex digits)
      "\xf0\x9f\x98\x41",                         // bad fourth byte
      "a\xed\xa0\x80",                            // surrogate
      "\xc3\xa9\x80",                             // stray continuation byte
  };
  for (std::string_view text : texts) {
    for (std::size_t first = 0; first <= text.size(); ++first) {
      for (std::size_t second = first; second <= text.size(); ++second) {
        Utf8Checker checker;
        checker.add(text.substr(0, first));
        checker.add(text.substr(first, second - first));
        checker.add(text.substr(second));
        EXPECT_EQ(checker.finish(), check_utf8(text))
            << testing::PrintToString(std::string(text)) << " cut at " << first << ", " << second;
      }
    }
  }
}

}  // namespace
}  // namespace tracemill
