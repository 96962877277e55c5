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

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (std::string& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

// Child side: reports the failed step and errno on standard error, exits with 127.
[[noreturn]] void fail(const char* what) {
  dprintf(2, "%s: %s\n", what, strerror(errno));
  _exit(127);
}

// Child side, between fork and exec.
[[noreturn]] void exec_child(const RunOptions& options, char** argv, char** envp, int out_write,
                             int err_write) {
  if (dup2(err_write, 2) < 0) _exit(127);
  int null_fd = open("/dev/null", O_RDONLY);
  if (null_fd < 0 || dup2(null_fd, 0) < 0) fail("stdin");
  if (options.stdout_mode == StdoutMode::Closed) {
    close(1);
  } else if (dup2(out_write, 1) < 0) {
    fail("stdout");
  }
  signal(SIGPIPE, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (!options.working_directory.empty() && chdir(options.working_directory.c_str()) != 0) {
    fail("chdir");
  }
  if (options.address_space_limit) {
    rlimit limit{*options.address_space_limit, *options.address_space_limit};
    if (setrlimit(RLIMIT_AS, &limit) != 0) fail("setrlimit");
  }
  execve(options.binary.c_str(), argv, envp);
  fail("execve");
}

}  // namespace

RunResult run_binary(const RunOptions& options) {
  std::vector<std::string> argv_texts{options.argv0.value_or(options.binary)}, env_texts;
  argv_texts.insert(argv_texts.end(), options.args.begin(), options.args.end());
  std::map<std::string, std::string> variables = options.environment;
  for (const char* name :
       {"PATH", "HOME", "LD_LIBRARY_PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) variables.emplace(name, value);
  }
  for (const auto& [name, value] : variables) env_texts.push_back(name + "=" + value);
  std::vector<char*> argv = pointers(argv_texts), envp = pointers(env_texts);

  // [0] standard output, [1] standard error: the read end, then the write end.
  int pipes[2][2];
  if (pipe2(pipes[0], O_CLOEXEC) != 0 || pipe2(pipes[1], O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe2 failed");
  }
  if (options.stdout_mode != StdoutMode::Pipe) close(std::exchange(pipes[0][0], -1));
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) exec_child(options, argv.data(), envp.data(), pipes[0][1], pipes[1][1]);
  close(pipes[0][1]);
  close(pipes[1][1]);

  RunResult result;
  std::string* texts[] = {&result.out, &result.err};
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
      if (n > 0) texts[i]->append(buffer, static_cast<std::size_t>(n));
      if (n == 0 || (n < 0 && errno != EINTR)) close(std::exchange(fds[i].fd, -1));
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
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
