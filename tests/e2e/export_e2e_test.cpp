// tracemill-export as users see it: one line on standard error with the exit status for each
// way a run can fail. Its output (stable over runs, the same from either encoding, valid in
// each format) is checked by .ci/check-export on the examples.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "e2e/run_binary.h"
#include "graph/graph_testing.h"

namespace tracemill::e2e {
namespace {

using test_util::I;
using test_util::O;

TEST(ExportRun, ErrorLinesAndExitStatuses) {
  TempDir dir;
  auto bincode = [](const test_util::Chains& chains) {
    return test_util::chains_file({{"op", chains}}, Encoding::Bincode);
  };
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
       "invalid format 'svg' (expected dot, mermaid or json)\n"
       "Usage: tracemill-export [--format dot|mermaid|json] [INPUT]\n"
       "Try 'tracemill-export --help' for more information.\n"},
      {"contradicting.bincode", 0,
       "warning: contradicting.bincode: 1 chain contradicts its call directions; run tracemill on "
       "the file to see the reports\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args;
    std::istringstream words(c.args);
    for (std::string word; words >> word;) args.push_back(word);
    RunResult r = run_binary({.binary = TRACEMILL_EXPORT_BINARY,
                              .args = args,
                              .working_directory = dir.path(),
                              .stdout_mode = c.mode});
    EXPECT_EQ(r.exit_status, c.status) << c.args;
    EXPECT_EQ(r.err, "tracemill-export: " + c.err);
    if (c.status != 0) {
      EXPECT_EQ(r.out, "") << c.args;
    }
  }
}

}  // namespace
}  // namespace tracemill::e2e
