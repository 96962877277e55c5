// End-to-end test harness: runs an executable (the built tool by default) as a child process in
// a controlled environment and collects its exit status, standard output and standard error.
//
//   RunResult r = run_binary({.args = {"-o"}});
//   EXPECT_EQ(r.exit_status, 2);
//   EXPECT_EQ(r.err, "error: ...");
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tracemill::e2e {

// What the child's standard output is connected to.
enum class StdoutMode {
  Pipe,        // a pipe the harness reads into RunResult::out
  Closed,      // descriptor 1 is closed when the child starts
  BrokenPipe,  // a pipe whose read end is already closed: writes fail with EPIPE
};

struct RunOptions {
  std::string binary = TRACEMILL_BINARY;  // a relative path is taken from working_directory
  std::vector<std::string> args{};        // the arguments after argv[0]
  std::optional<std::string> argv0{};     // argv[0]; the binary's path when unset
  // Variables added to the environment, which otherwise holds only PATH, HOME, LD_LIBRARY_PATH
  // and the sanitizer options of the test process: nothing that changes the tool's behaviour
  // (NO_COLOR, CLICOLOR, CLICOLOR_FORCE, TERM, CI, TRACEMILL_BACKTRACE) leaks in.
  std::map<std::string, std::string> environment{};
  std::filesystem::path working_directory{};  // the test's own when empty
  StdoutMode stdout_mode = StdoutMode::Pipe;
  // The child's address-space limit in bytes (RLIMIT_AS); none when unset.
  std::optional<std::uint64_t> address_space_limit{};
};

struct RunResult {
  std::optional<int> exit_status;  // set when the child exited
  std::optional<int> signal;       // set when a signal ended the child
  std::string out;                 // standard output (StdoutMode::Pipe only)
  std::string err;                 // standard error
};

// Runs the child to its end, reading both pipes as it goes (no deadlock on large output); one
// still running after 20 seconds is killed with SIGKILL. Standard input is /dev/null; SIGPIPE
// has its default disposition and no signal is blocked. If the child cannot be started,
// exit_status is 127 and err says why.
RunResult run_binary(const RunOptions& options);

// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes `bytes` to the file `name` inside the directory; returns its path.
  std::filesystem::path write_file(std::string_view name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

}  // namespace tracemill::e2e
