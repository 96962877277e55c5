#include "e2e/run_binary.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace tracemill::e2e {
namespace {

constexpr const char* kPassedThrough[] = {"PATH",         "HOME",          "LD_LIBRARY_PATH",
                                          "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"};

std::vector<std::string> child_environment(const RunOptions& options) {
  std::map<std::string, std::string> variables;
  for (const char* name : kPassedThrough) {
    if (const char* value = std::getenv(name)) variables[name] = value;
  }
  for (const auto& [name, value] : options.environment) {
    if (value) {
      variables[name] = *value;
    } else {
      variables.erase(name);
    }
  }
  std::vector<std::string> entries;
  for (const auto& [name, value] : variables) entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (std::string& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

// Child side: reports the failed step and errno on standard error, exits with 127.
[[noreturn]] void fail(const char* what) {
  const char* reason = strerror(errno);
  (void)!write(2, what, strlen(what));
  (void)!write(2, ": ", 2);
  (void)!write(2, reason, strlen(reason));
  (void)!write(2, "\n", 1);
  _exit(127);
}

// Child side, between fork and exec: only calls that are safe after fork.
[[noreturn]] void exec_child(const RunOptions& options, const char* directory, char** argv,
                             char** envp, int out_write, int err_write) {
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
  if (directory != nullptr && chdir(directory) != 0) fail("chdir");
  if (options.address_space_limit) {
    auto bytes = static_cast<rlim_t>(*options.address_space_limit);
    rlimit limit{bytes, bytes};
    if (setrlimit(RLIMIT_AS, &limit) != 0) fail("setrlimit");
  }
  execve(options.binary.c_str(), argv, envp);
  fail("execve");
}

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

RunResult run_binary(const RunOptions& options) {
  std::vector<std::string> argv_texts{options.argv0.value_or(options.binary)};
  argv_texts.insert(argv_texts.end(), options.args.begin(), options.args.end());
  std::vector<std::string> env_texts = child_environment(options);
  std::vector<char*> argv = pointers(argv_texts);
  std::vector<char*> envp = pointers(env_texts);
  std::string directory = options.working_directory.string();

  int out_pipe[2] = {-1, -1};
  int err_pipe[2] = {-1, -1};
  if (pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  if (options.stdout_mode != StdoutMode::Closed && pipe2(out_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe2 failed");
  }
  if (options.stdout_mode == StdoutMode::BrokenPipe) close_fd(out_pipe[0]);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    exec_child(options, directory.empty() ? nullptr : directory.c_str(), argv.data(), envp.data(),
               out_pipe[1], err_pipe[1]);
  }
  close_fd(out_pipe[1]);
  close_fd(err_pipe[1]);

  RunResult result;
  struct Stream {
    int fd;
    std::string* text;
  };
  Stream streams[] = {{out_pipe[0], &result.out}, {err_pipe[0], &result.err}};
  auto deadline = std::chrono::steady_clock::now() + options.time_limit;
  while (streams[0].fd >= 0 || streams[1].fd >= 0) {
    pollfd fds[2];
    for (int i = 0; i < 2; ++i) fds[i] = pollfd{streams[i].fd, POLLIN, 0};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    int ready = result.timed_out
                    ? poll(fds, 2, -1)
                    : poll(fds, 2, static_cast<int>(std::max<long long>(0, left.count())));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      // Killing the child closes its ends of the pipes, so the reads below reach their end.
      kill(pid, SIGKILL);
      result.timed_out = true;
      continue;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[8192];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        streams[i].text->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close_fd(streams[i].fd);
      }
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
  std::ofstream stream(file, std::ios::binary);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!stream.flush()) throw std::runtime_error("cannot write " + file.string());
  return file;
}

}  // namespace tracemill::e2e
