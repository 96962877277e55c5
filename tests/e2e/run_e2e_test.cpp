// The whole run of the programs as users see it: a statistics file and the command line in,
// diagnostics, the graph, help and usage errors out on their streams with their exit statuses.
// The texts of the command line and the error forms of the decoders are pinned by their unit
// tests; the output of tracemill-export (stable over runs, the same from either encoding, valid
// in each format) is checked by .ci/check-export on the examples.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/build_config.h"
#include "e2e/run_binary.h"
#include "graph/graph_testing.h"
#include "graph/path_equivalence.h"
#include "main/command_line.h"
#include "main/condense_command_line.h"
#include "stats/file/operation_stats_json.h"
#include "stats/file/record_writer.h"

namespace tracemill::e2e {
namespace {

using test_util::I;
using test_util::O;

std::string bincode(const test_util::Chains& chains) {
  return test_util::chains_file({{"op", chains}}, Encoding::Bincode);
}

// The arguments in `line`, split at spaces (only: other blanks belong to an argument).
std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream stream(line);
  for (std::string word; std::getline(stream, word, ' ');) {
    if (!word.empty()) words.push_back(word);
  }
  return words;
}

TEST(Run, EndsWithStatusAndReport) {
  TempDir dir;
  dir.write_file("one.bincode", bincode({{{{"a", "m", I}}, 1}}));
  // The count out of range comes after a pair whose diagnostics are printed.
  dir.write_file("count.bincode", bincode({{{{"a", "x", O}}, 1}, {{}, 2147483648u}}));
  dir.write_file("empty.json", "");
  for (const char* name : {"stats.JSON", ".json"}) dir.write_file(name, "{}");
  const std::string broken_pipe = "failed printing to stdout: Broken pipe (os error 32)";
  const std::string read_failed = "Failed to read JSON-file: ";
  const std::string loader = "src/stats/file/operation_stats_json.cpp";
  struct Case {
    std::string args;
    StdoutMode mode;
    int status;
    std::string message;  // of the fatal report on standard error (line and column as "L:C")
    std::string out = "";
    std::string file = "src/main/netsketch.cpp";  // where the report is raised
  };
  const Case cases[] = {
      {"count.bincode", StdoutMode::Pipe, 101,
       "called `Result::unwrap()` on an `Err` value: TryFromIntError(())",
       "\nFailed on idx = [0]:\n0: Call { process: \"a\", method: \"x\", call_direction: Outbound "
       "}  ->  Call { process: \"a\", method: \"x\", call_direction: Outbound }\n",
       "src/graph/build_graph.cpp"},
      // The failed write of the earlier pair's diagnostics ends the run before the count.
      {"count.bincode", StdoutMode::BrokenPipe, 101, broken_pipe},
      // A closed descriptor 1 is reopened on /dev/null: the run succeeds silently.
      {"one.bincode", StdoutMode::Closed, 0, ""},
      // No signal kills the tool: the failed write ends the run.
      {"one.bincode", StdoutMode::BrokenPipe, 101, broken_pipe},
      {"empty.json", StdoutMode::Pipe, 101,
       read_failed + "Error(\"EOF while parsing a value\", line: 1, column: 0)"},
      // The value of -o never names a file that is written.
      {"-o out.csv", StdoutMode::Pipe, 101,
       read_failed + "Os { code: 2, kind: NotFound, message: \"No such file or directory\" }"},
      // The extension is compared as written; a name whose only dot leads it has none.
      {"stats.JSON", StdoutMode::Pipe, 101, "Unknown extension 'JSON'of inputfile stats.JSON", "",
       loader},
      {".json", StdoutMode::Pipe, 101, "Failed to find extension of '.json'", "", loader},
      // A failed write of the help keeps its status.
      {"--help", StdoutMode::Closed, 0, ""},
      {"--help", StdoutMode::BrokenPipe, 0, ""},
  };
  for (const Case& c : cases) {
    RunResult r =
        run_binary({.args = words(c.args), .working_directory = dir.path(), .stdout_mode = c.mode});
    EXPECT_EQ(r.exit_status, c.status) << c.args << " " << r.err;
    EXPECT_EQ(r.out, c.out) << c.args;
    EXPECT_EQ(std::regex_replace(r.err, std::regex(":[0-9]+:[0-9]+\n"), ":L:C\n"),
              c.message.empty() ? ""
                                : "thread 'main' panicked at '" + c.message + "', " + c.file +
                                      ":L:C\nnote: run with `TRACEMILL_BACKTRACE=1` environment "
                                      "variable to display a backtrace\n");
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 5);
}

// The diagnostic blocks of a run in sorted order (operations are visited in hash order, which
// differs between runs), then the graph with its map entries in sorted order.
std::string canonical_run_output(const std::string& out) {
  std::size_t graph = out.find("ProcessNodes(\n");
  if (graph == std::string::npos) return "no graph in: " + out;
  std::string text;
  for (const std::string& block : test_util::sorted_blocks(out.substr(0, graph))) {
    text += block;
  }
  return text + test_util::canonical_map_order(out.substr(graph));
}

// Every example, in each encoding, prints its expected output (diagnostics, then the graph).
TEST(Run, ExamplesPrintTheirExpectedOutput) {
  const std::filesystem::path examples = std::filesystem::path(TRACEMILL_SOURCE_DIR) / "examples";
  int runs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(examples)) {
    const std::filesystem::path& input = entry.path();
    if (input.extension() != ".json" && input.extension() != ".bincode") continue;
    std::ifstream file(examples / "expected" / input.stem().concat(".txt"));
    ASSERT_TRUE(file) << "no expected output for " << input;
    std::string expected(std::istreambuf_iterator<char>(file), {});
    RunResult r = run_binary({.args = {input.string()}});
    EXPECT_EQ(r.exit_status, 0) << input;
    EXPECT_EQ(r.err, "") << input;
    EXPECT_EQ(canonical_run_output(r.out), canonical_run_output(expected)) << input;
    ++runs;
  }
  EXPECT_GE(runs, 8);
}

// A process name of 1 GiB, all but its length a hole in a sparse file, read under a 64 MiB
// address-space limit: the name grows until an allocation fails. The file ends inside the
// name, so a run that does not run out of memory fails differently.
TEST(Run, OutOfMemory) {
#if defined(TRACEMILL_NO_ALLOC_HOOK) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer builds keep their own allocation functions and reports";
#endif
  StatsRecJson record;
  record.stats["GET /users"].call_chain.push_back(
      {{{Call{"@@@@@@@@", "query", CallDirection::Unknown}}, "", false}, {}});
  std::string bytes;
  encode_bincode(record, bytes);
  // A text is its length as 8 bytes, least significant first, then its bytes: 8 becomes 2^30.
  std::size_t at = bytes.find("@@@@@@@@");
  ASSERT_EQ(bytes.substr(at - 8, 8), std::string("\x08\0\0\0\0\0\0\0", 8));
  bytes.replace(at - 8, bytes.npos, std::string("\0\0\0\x40\0\0\0\0", 8));
  TempDir dir;
  std::filesystem::path file = dir.write_file("huge.bincode", bytes);
  std::filesystem::resize_file(file, at + (std::uint64_t{1} << 30));
  RunResult r = run_binary({.args = {file.string()}, .address_space_limit = 64 << 20});
  EXPECT_EQ(r.signal, SIGABRT) << r.err;
  EXPECT_TRUE(std::regex_match(r.err, std::regex("memory allocation of [0-9]+ bytes failed\n")))
      << r.err;
  EXPECT_EQ(r.out, "");
}

// The usage error is the parser's text for the same arguments, styled by the environment only
// (colour hints without a terminal leave it plain), and names the program as invoked, not the
// file it runs.
TEST(CommandLineE2e, UsageErrorPlainAndStyled) {
  const std::vector<std::string_view> argv = {"bin/netsketch", "in.json", "--outpt=x"};
  StyleEnvironment forced;
  forced.clicolor_force = "1";
  const std::pair<std::map<std::string, std::string>, StyleEnvironment> cases[] = {
      {{{"TERM", "xterm-256color"}, {"CI", "true"}}, StyleEnvironment{}},
      {{{"CLICOLOR_FORCE", "1"}}, forced},
  };
  for (const auto& [environment, style] : cases) {
    RunResult r = run_binary(
        {.args = {"in.json", "--outpt=x"}, .argv0 = "bin/netsketch", .environment = environment});
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, parse_command_line(argv, style).error().text);
  }
}

// Of the harness: with SIGPIPE ignored or blocked in the child, the tests of failed writes would
// not show that the tool survives the signal.
TEST(RunBinary, BrokenPipeSignalsTheChild) {
  RunResult r = run_binary(
      {.binary = "/bin/sh", .args = {"-c", "exec echo x"}, .stdout_mode = StdoutMode::BrokenPipe});
  EXPECT_EQ(r.signal, SIGPIPE);
}

TEST(ExportRun, ErrorLinesAndExitStatuses) {
  TempDir dir;
  const std::string good = bincode({{{{"a", "m", I}}, 1}});
  dir.write_file("good.bincode", good);
  dir.write_file("cut.bincode", good.substr(0, good.size() - 1));
  dir.write_file("bad.json", "{\n  \"version\": 3");
  dir.write_file("big.bincode", bincode({{{}, 2147483648u}}));
  dir.write_file("contradicting.bincode", bincode({{{{"a", "m", O}}, 1}}));
  dir.write_file("good.txt", good);
  struct Case {
    std::string args;  // split at spaces
    int status;
    std::string err;  // after "tracemill-export: "
    StdoutMode mode = StdoutMode::Pipe;
  };
  const std::string usage =
      "Usage: tracemill-export [--format dot|mermaid|json|prometheus|html] [--focus SERVICE "
      "[--depth D]] [--baseline OLD]... [--exact] [INPUT...]\n"
      "Try 'tracemill-export --help' for more information.\n";
  const Case cases[] = {
      {"bad.json", 1, "bad.json:2:14: invalid type: integer `3`, expected struct Version\n"},
      {"cut.bincode", 1,
       "cut.bincode: byte " + std::to_string(good.size() - 1) +
           ": Io(Error { kind: UnexpectedEof, message: \"failed to fill whole buffer\" })\n"},
      {"missing.json", 1, "missing.json: No such file or directory\n"},
      {"good.txt", 1, "good.txt: unknown extension '.txt' (expected .json or .bincode)\n"},
      {"-f json big.bincode", 1, "big.bincode: a chain count exceeds 2147483647\n"},
      {"good.bincode", 1, "write error: Broken pipe\n", StdoutMode::BrokenPipe},
      {"--format svg good.bincode", 2,
       "invalid format 'svg' (expected dot, mermaid, json, prometheus or html)\n"
       "Usage: tracemill-export [--format dot|mermaid|json|prometheus|html] [--focus SERVICE "
       "[--depth D]] [--baseline OLD]... [--exact] [INPUT...]\n"
       "Try 'tracemill-export --help' for more information.\n"},
      {"contradicting.bincode", 0,
       "warning: contradicting.bincode: 1 chain contradicts its call directions; run tracemill on "
       "the file to see the reports\n"},
      // A closed standard output was reopened on /dev/null at start: the graph would be lost.
      {"good.bincode", 1, "write error: Bad file descriptor\n", StdoutMode::Closed},
      // Names and arguments stay one line of printable text: escaped and double-quoted when
      // they hold a control character, a line separator or a byte outside valid UTF-8.
      {"a\nb.json", 1, "\"a\\nb.json\": No such file or directory\n"},
      {"\x1b[31mred.json", 1, "\"\\u{1b}[31mred.json\": No such file or directory\n"},
      {"good.\xe2\x80\xa8", 1,
       "\"good.\\u{2028}\": unknown extension \".\\u{2028}\" (expected .json or .bincode)\n"},
      {"--format \x1b[2Jx good.bincode", 2,
       "invalid format \"\\u{1b}[2Jx\" (expected dot, mermaid, json, prometheus or html)\n" +
           usage},
      {"-\xff", 2, "unknown option \"-\\xff\"\n" + usage},
      // Every input must be usable: the first that is not ends the run, and nothing is written.
      {"good.bincode x\xc2\x85", 1,
       "\"x\\u{85}\": no file-name extension (expected .json or .bincode)\n"},
      {"--focus b good.bincode", 1, "no service 'b' in the graph (closest: 'a')\n"},
  };
  for (const Case& c : cases) {
    RunResult r = run_binary({.binary = TRACEMILL_EXPORT_BINARY,
                              .args = words(c.args),
                              .working_directory = dir.path(),
                              .stdout_mode = c.mode});
    EXPECT_EQ(r.exit_status, c.status) << c.args;
    EXPECT_EQ(r.err, "tracemill-export: " + c.err) << c.args;
    EXPECT_EQ(r.out.empty(), c.status != 0) << c.args;
  }
}

// The path of `program` on PATH, or empty.
std::string on_path(std::string_view program) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path == nullptr ? "" : path);
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::filesystem::path candidate = std::filesystem::path(dir) / program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return {};
}

// Graphviz's parser reads the dot output whatever the names (one longer than the longest quoted
// string it reads, names like its own anonymous IDs) and gives the labels back.
TEST(ExportRun, GraphvizReadsEveryNameBack) {
  const std::string nop = on_path("nop");
  if (nop.empty()) GTEST_SKIP() << "Graphviz's nop is not installed";
  // A quoted string Graphviz reads is at most 16,384 bytes between escaped quotes.
  std::string long_name(20000, 'x');
  while (long_name.size() < 40000) long_name += "\xC3\xA9\\\"\\n \xE2\x80\xA8";
  const std::vector<std::string> names = {"%1", "%%", "%3", "%", long_name, "a\nb", "x\\"};
  test_util::Chains chains;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& next = names[(i + 1) % names.size()];
    chains.push_back({{{names[i], "m", I}, {next, names[i], I}}, i + 1});
  }
  TempDir dir;
  dir.write_file("names.bincode", bincode(chains));
  RunResult dot = run_binary({.binary = TRACEMILL_EXPORT_BINARY,
                              .args = {"-f", "dot", "names.bincode"},
                              .working_directory = dir.path()});
  ASSERT_EQ(dot.exit_status, 0) << dot.err;
  dir.write_file("names.dot", dot.out);
  RunResult read =
      run_binary({.binary = nop, .args = {"names.dot"}, .working_directory = dir.path()});
  ASSERT_EQ(read.exit_status, 0) << read.err;
  EXPECT_EQ(read.err, "");
  // Graphviz writes long strings folded with a backslash before the line feed, and its own
  // IDs unquoted: every node keeps its ID, and the long label comes back whole.
  std::string canon;
  for (std::size_t i = 0; i < read.out.size(); ++i) {
    if (read.out.compare(i, 2, "\\\n") == 0) {
      ++i;
    } else {
      canon += read.out[i];
    }
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_NE(canon.find("\tn" + std::to_string(i) + "\t[label="), std::string::npos) << i;
  }
  std::string escaped;
  for (char c : long_name) escaped += c == '\\' ? "\\\\" : c == '"' ? "\\\"" : std::string(1, c);
  EXPECT_NE(canon.find("[label=\"" + escaped + "\\nentry count: "), std::string::npos);
  std::size_t edges = 0;
  for (std::size_t at = 0; (at = canon.find(" -> ", at)) != std::string::npos; ++at) ++edges;
  EXPECT_EQ(edges, names.size());
}

// tracemill-condense shows what its command-line parser gives for the same arguments, on that
// stream alone and with that status, before any input is read.
TEST(CondenseRun, CommandLineExits) {
  const std::vector<std::string> cases[] = {
      {"--version"}, {"--help"}, {"in.json"}, {"-o", "-", "in.json"}, {"--bad", "-"}};
  for (const std::vector<std::string>& args : cases) {
    std::vector<std::string_view> argv = {"tracemill-condense"};
    argv.insert(argv.end(), args.begin(), args.end());
    const CommandLineExit expected = parse_condense_command_line(argv, build::kVersion).error();
    RunResult r = run_binary({.binary = TRACEMILL_CONDENSE_BINARY, .args = args});
    EXPECT_EQ(r.exit_status, expected.status) << args[0];
    const bool on_stdout = expected.stream == OutputStream::Stdout;
    EXPECT_EQ(on_stdout ? r.out : r.err, expected.text) << args[0];
    EXPECT_EQ(on_stdout ? r.err : r.out, "") << args[0];
  }
}

}  // namespace
}  // namespace tracemill::e2e
