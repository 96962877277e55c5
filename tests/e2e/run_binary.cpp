#include "e2e/run_binary.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace tracemill::e2e {
namespace {

// Child side, between fork and exec: a failed step is reported on standard error with status 127.
[[noreturn]] void exec_child(const RunOptions& options, char** argv, char** envp, int out,
                             int err) {
  auto fail = [](const char* what) {
    dprintf(2, "%s: %s\n", what, strerror(errno));
    _exit(127);
  };
  if (dup2(err, 2) < 0) _exit(127);
  int null_fd = open("/dev/null", O_RDONLY);
  if (null_fd < 0 || dup2(null_fd, 0) < 0) fail("stdin");
  // Closing descriptor 1 cannot fail in a way the run cares about.
  if ((options.stdout_mode == StdoutMode::Closed ? (close(1), 0) : dup2(out, 1)) < 0)
    fail("stdout");
  signal(SIGPIPE, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (!options.working_directory.empty() && chdir(options.working_directory.c_str()) != 0) {
    fail("chdir");
  }
  rlimit limit{options.address_space_limit.value_or(0), options.address_space_limit.value_or(0)};
  if (options.address_space_limit && setrlimit(RLIMIT_AS, &limit) != 0) fail("setrlimit");
  execve(options.binary.c_str(), argv, envp);
  fail("execve");
  _exit(127);
}

}  // namespace

RunResult run_binary(const RunOptions& options) {
  std::vector<std::string> texts[2] = {{options.argv0.value_or(options.binary)}, {}};
  texts[0].insert(texts[0].end(), options.args.begin(), options.args.end());
  std::map<std::string, std::string> variables = options.environment;
  for (const char* name :
       {"PATH", "HOME", "LD_LIBRARY_PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) variables.emplace(name, value);
  }
  for (const auto& [name, value] : variables) texts[1].push_back(name + "=" + value);
  std::vector<char*> pointers[2];  // argv and envp
  for (int i = 0; i < 2; ++i) {
    for (std::string& text : texts[i]) pointers[i].push_back(text.data());
    pointers[i].push_back(nullptr);
  }
  // [0] standard output, [1] standard error: the read end, then the write end.
  int pipes[2][2];
  if (pipe2(pipes[0], O_CLOEXEC) != 0 || pipe2(pipes[1], O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe2 failed");
  }
  if (options.stdout_mode != StdoutMode::Pipe) close(std::exchange(pipes[0][0], -1));
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0)
    exec_child(options, pointers[0].data(), pointers[1].data(), pipes[0][1], pipes[1][1]);
  close(pipes[0][1]);
  close(pipes[1][1]);

  RunResult result;
  std::string* outputs[] = {&result.out, &result.err};
  pollfd fds[2] = {{pipes[0][0], POLLIN, 0}, {pipes[1][0], POLLIN, 0}};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    int ready = poll(fds, 2, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    // Killing the child closes its ends of the pipes, so the reads below reach their end.
    if (ready == 0) kill(pid, SIGKILL);
    for (int i = 0; i < 2 && ready >= 0; ++i) {
      if (fds[i].fd < 0 || (ready > 0 && fds[i].revents == 0)) continue;
      char buffer[8192];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) outputs[i]->append(buffer, static_cast<std::size_t>(n));
      if (n == 0 || (n < 0 && errno != EINTR)) close(std::exchange(fds[i].fd, -1));
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) continue;
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tracemill-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::write_file(std::string_view name, std::string_view bytes) const {
  std::filesystem::path file = path_ / name;
  if (!(std::ofstream(file, std::ios::binary) << bytes).flush()) {
    throw std::runtime_error("cannot write " + file.string());
  }
  return file;
}

}  // namespace tracemill::e2e
