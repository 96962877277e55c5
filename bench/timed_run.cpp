// Runs a command once, with its standard output and error sent to /dev/null, and prints
//   seconds peak_KiB status
// on one line: the wall time from just before the process is started to just after it has
// been reaped, the peak resident set size of the process, and its exit status (128 + the
// signal's number when a signal ended it). The process is started with posix_spawn, so the
// time holds the command's own start, run and exit and little else; timing it through a shell
// and /usr/bin/time added the start of a second program to every measurement.
//
// Usage: tracemill_timed COMMAND [ARGUMENT...]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: tracemill_timed COMMAND [ARGUMENT...]\n", stderr);
    return 2;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);

  const auto start = std::chrono::steady_clock::now();
  pid_t pid;
  if (int error = posix_spawnp(&pid, argv[1], &actions, nullptr, argv + 1, environ)) {
    std::fprintf(stderr, "tracemill_timed: %s: %s\n", argv[1], std::strerror(error));
    return 127;
  }
  int status;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      std::perror("tracemill_timed: waitpid");
      return 1;
    }
  }
  const auto end = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);

  // The only child waited for: its peak is the children's peak. Kilobytes on Linux.
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%.6f %ld %d\n", std::chrono::duration<double>(end - start).count(),
              static_cast<long>(usage.ru_maxrss), code);
  return 0;
}
