// The command line as users see it: texts, streams and exit statuses of the built tool.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "e2e/run_binary.h"

namespace tracemill::e2e {
namespace {

std::string joined(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) text += "'" + arg + "' ";
  return text;
}

const std::string kHelp =
    "Stitching results of different runs of hopscan into a single CSV for visualization in "
    "Excel\n"
    "\n"
    "Usage: tracemill [OPTIONS] [INPUT]\n"
    "\n"
    "Arguments:\n"
    "  [INPUT]  [default: input.json]\n"
    "\n"
    "Options:\n"
    "  -o, --output <OUTPUT>  [default: stitched.csv]\n"
    "  -h, --help             Print help\n"
    "  -V, --version          Print version\n";

const std::string kStyledHelp =
    "Stitching results of different runs of hopscan into a single CSV for visualization in "
    "Excel\n"
    "\n"
    "\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mtracemill\x1b[0m [OPTIONS] [INPUT]\n"
    "\n"
    "\x1b[1m\x1b[4mArguments:\x1b[0m\n"
    "  [INPUT]  [default: input.json]\n"
    "\n"
    "\x1b[1m\x1b[4mOptions:\x1b[0m\n"
    "  \x1b[1m-o\x1b[0m, \x1b[1m--output\x1b[0m <OUTPUT>  [default: stitched.csv]\n"
    "  \x1b[1m-h\x1b[0m, \x1b[1m--help\x1b[0m             Print help\n"
    "  \x1b[1m-V\x1b[0m, \x1b[1m--version\x1b[0m          Print version\n";

const std::string kVersion = "tracemill 0.2.2\n";

TEST(CommandLineE2e, HelpAndVersion) {
  struct Case {
    std::vector<std::string> args;
    bool force_colour;
    std::string out;
  };
  const Case cases[] = {
      {{"-h"}, false, kHelp},          {{"--help"}, false, kHelp},
      {{"-h"}, true, kStyledHelp},     {{"-V"}, false, kVersion},
      {{"--version"}, true, kVersion}, {{"in.json", "-oV", "--version"}, false, kVersion},
  };
  for (const Case& c : cases) {
    RunOptions options{.args = c.args};
    if (c.force_colour) options.environment["CLICOLOR_FORCE"] = "1";
    RunResult r = run_binary(options);
    EXPECT_EQ(r.exit_status, 0) << joined(c.args);
    EXPECT_EQ(r.out, c.out) << joined(c.args);
    EXPECT_EQ(r.err, "") << joined(c.args);
  }
}

TEST(CommandLineE2e, UsageErrorsPlainAndStyled) {
  struct Case {
    std::vector<std::string> args;
    std::string plain;
    std::string styled;
  };
  const std::string error = "\x1b[1m\x1b[31merror:\x1b[0m ";
  const std::string tip = "  \x1b[32mtip:\x1b[0m ";
  const std::string usage = "\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mtracemill\x1b[0m";
  const std::string more = "For more information, try '\x1b[1m--help\x1b[0m'.\n";
  const Case cases[] = {
      {{"--foo"},
       "error: unexpected argument '--foo' found\n\n"
       "  tip: to pass '--foo' as a value, use '-- --foo'\n\n"
       "Usage: tracemill [OPTIONS] [INPUT]\n\n"
       "For more information, try '--help'.\n",
       error + "unexpected argument '\x1b[33m--foo\x1b[0m' found\n\n" + tip +
           "to pass '\x1b[33m--foo\x1b[0m' as a value, use '\x1b[32m-- --foo\x1b[0m'\n\n" + usage +
           " [OPTIONS] [INPUT]\n\n" + more},
      {{"in.json", "--outpt=x"},
       "error: unexpected argument '--outpt' found\n\n"
       "  tip: a similar argument exists: '--output'\n\n"
       "Usage: tracemill --output <OUTPUT> <INPUT>\n\n"
       "For more information, try '--help'.\n",
       error + "unexpected argument '\x1b[33m--outpt\x1b[0m' found\n\n" + tip +
           "a similar argument exists: '\x1b[32m--output\x1b[0m'\n\n" + usage +
           " \x1b[1m--output\x1b[0m <OUTPUT> <INPUT>\n\n" + more},
      {{"-ax"},
       "error: unexpected argument '-a' found\n\n"
       "  tip: to pass '-a' as a value, use '-- -a'\n\n"
       "Usage: tracemill [OPTIONS] [INPUT]\n\n"
       "For more information, try '--help'.\n",
       error + "unexpected argument '\x1b[33m-a\x1b[0m' found\n\n" + tip +
           "to pass '\x1b[33m-a\x1b[0m' as a value, use '\x1b[32m-- -a\x1b[0m'\n\n" + usage +
           " [OPTIONS] [INPUT]\n\n" + more},
      {{"a", "b"},
       "error: unexpected argument 'b' found\n\n"
       "Usage: tracemill [OPTIONS] [INPUT]\n\n"
       "For more information, try '--help'.\n",
       error + "unexpected argument '\x1b[33mb\x1b[0m' found\n\n" + usage +
           " [OPTIONS] [INPUT]\n\n" + more},
      {{"-o"},
       "error: a value is required for '--output <OUTPUT>' but none was supplied\n\n"
       "For more information, try '--help'.\n",
       error +
           "a value is required for '\x1b[1m--output <OUTPUT>\x1b[0m' but none was supplied\n\n" +
           more},
      {{"-o", "a", "--output", "b"},
       "error: the argument '--output <OUTPUT>' cannot be used multiple times\n\n"
       "Usage: tracemill [OPTIONS] [INPUT]\n\n"
       "For more information, try '--help'.\n",
       error + "the argument '\x1b[33m--output <OUTPUT>\x1b[0m' cannot be used multiple times\n\n" +
           usage + " [OPTIONS] [INPUT]\n\n" + more},
      {{"in\xff.json"},
       "error: invalid UTF-8 was detected in one or more arguments\n\n"
       "Usage: tracemill [OPTIONS] [INPUT]\n\n"
       "For more information, try '--help'.\n",
       error + "invalid UTF-8 was detected in one or more arguments\n\n" + usage +
           " [OPTIONS] [INPUT]\n\n" + more},
  };
  for (const Case& c : cases) {
    // Colour hints without a terminal leave the text plain.
    RunResult plain =
        run_binary({.args = c.args, .environment = {{"TERM", "xterm-256color"}, {"CI", "true"}}});
    EXPECT_EQ(plain.exit_status, 2) << joined(c.args);
    EXPECT_EQ(plain.out, "") << joined(c.args);
    EXPECT_EQ(plain.err, c.plain) << joined(c.args);

    RunResult styled = run_binary({.args = c.args, .environment = {{"CLICOLOR_FORCE", "1"}}});
    EXPECT_EQ(styled.exit_status, 2) << joined(c.args);
    EXPECT_EQ(styled.out, "") << joined(c.args);
    EXPECT_EQ(styled.err, c.styled) << joined(c.args);
  }
}

TEST(CommandLineE2e, UsageLineNamesTheProgramAsInvoked) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "bin");
  std::filesystem::create_symlink(TRACEMILL_BINARY, dir.path() / "bin" / "netsketch");
  const std::string expected =
      "error: unexpected argument '--foo' found\n\n"
      "  tip: to pass '--foo' as a value, use '-- --foo'\n\n"
      "Usage: netsketch [OPTIONS] [INPUT]\n\n"
      "For more information, try '--help'.\n";
  // Through the symlink's absolute path, and as a shell would run ./bin/netsketch.
  RunResult absolute =
      run_binary({.binary = (dir.path() / "bin" / "netsketch").string(), .args = {"--foo"}});
  RunResult relative = run_binary({.binary = "./bin/netsketch",
                                   .args = {"--foo"},
                                   .argv0 = "./bin/netsketch",
                                   .working_directory = dir.path()});
  for (const RunResult& r : {absolute, relative}) {
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.err, expected);
  }
  // A name that is not UTF-8 falls back to the command name.
  RunResult invalid = run_binary({.args = {"-h"}, .argv0 = "bin/net\xffsketch"});
  EXPECT_EQ(invalid.out, kHelp);
}

TEST(CommandLineE2e, FailedHelpWriteKeepsTheStatus) {
  for (StdoutMode mode : {StdoutMode::Closed, StdoutMode::BrokenPipe}) {
    RunResult r = run_binary({.args = {"--help"}, .stdout_mode = mode});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
  }
}

TEST(CommandLineE2e, OutputValueNeverCreatesAFile) {
  TempDir dir;
  RunResult r = run_binary({.args = {"-o", "out.csv"}, .working_directory = dir.path()});
  EXPECT_EQ(r.exit_status, 101);
  EXPECT_EQ(r.out, "");
  // The source position of the check belongs to the run sequence and is not pinned here.
  static const std::regex report(
      "thread 'main' panicked at 'Failed to read JSON-file: Os \\{ code: 2, kind: NotFound, "
      "message: \"No such file or directory\" \\}', src/main/netsketch\\.cpp:[0-9]+:[0-9]+\n"
      "note: run with `TRACEMILL_BACKTRACE=1` environment variable to display a backtrace\n");
  EXPECT_TRUE(std::regex_match(r.err, report)) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.csv"));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace tracemill::e2e
