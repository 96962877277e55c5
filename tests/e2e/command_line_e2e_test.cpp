// The command line as users see it: streams, exit statuses and the environment of the built
// tool. The texts themselves are checked in the parser's unit test.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/run_binary.h"
#include "main/command_line.h"
#include "main/help_text.h"

namespace tracemill::e2e {
namespace {

TEST(CommandLineE2e, UsageErrorPlainAndStyled) {
  const std::vector<std::string> args = {"in.json", "--outpt=x"};
  // Colour hints without a terminal leave the text plain.
  RunResult plain =
      run_binary({.args = args, .environment = {{"TERM", "xterm-256color"}, {"CI", "true"}}});
  RunResult styled = run_binary({.args = args, .environment = {{"CLICOLOR_FORCE", "1"}}});
  // The texts are the parser's for the same arguments; its unit test checks them.
  const std::vector<std::string_view> argv = {TRACEMILL_BINARY, "in.json", "--outpt=x"};
  StyleEnvironment forced;
  forced.clicolor_force = "1";
  EXPECT_EQ(plain.err, parse_command_line(argv, StyleEnvironment{}).error().text);
  EXPECT_EQ(styled.err, parse_command_line(argv, forced).error().text);
  for (const RunResult& r : {plain, styled}) {
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.out, "");
  }
}

TEST(CommandLineE2e, UsageLineNamesTheProgramAsInvoked) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "bin");
  std::filesystem::create_symlink(TRACEMILL_BINARY, dir.path() / "bin" / "netsketch");
  // Through the symlink's absolute path, and as a shell would run ./bin/netsketch.
  RunResult absolute =
      run_binary({.binary = (dir.path() / "bin" / "netsketch").string(), .args = {"--foo"}});
  RunResult relative = run_binary({.binary = "./bin/netsketch",
                                   .args = {"--foo"},
                                   .argv0 = "./bin/netsketch",
                                   .working_directory = dir.path()});
  // The text for that name, as the parser's unit test pins it.
  const std::vector<std::string_view> argv = {"netsketch", "--foo"};
  const std::string expected = parse_command_line(argv, StyleEnvironment{}).error().text;
  for (const RunResult& r : {absolute, relative}) {
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.err, expected);
  }
  // A name that is not UTF-8 falls back to the command name and is no invalid argument.
  RunResult invalid = run_binary({.args = {"-h"}, .argv0 = "bin/net\xffsketch"});
  EXPECT_EQ(invalid.out, testing::help_text("tracemill", false));
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
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace tracemill::e2e
