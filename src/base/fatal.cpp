#include "base/fatal.h"

#include <execinfo.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

#include "base/sink.h"

namespace tracemill {
namespace {

constexpr std::string_view kBacktraceVariable = "TRACEMILL_BACKTRACE";

bool backtrace_wanted() {
  const char* value = std::getenv(kBacktraceVariable.data());
  return value != nullptr && std::string_view(value) != "0";
}

std::string thread_name() {
  char name[32] = {};
  if (pthread_getname_np(pthread_self(), name, sizeof name) != 0 || name[0] == '\0') {
    return "main";
  }
  return name;
}

}  // namespace

void fatal(std::string_view message, SourceLocation where) {
  static bool reported_before = false;
  FdSink err(2, FdSink::Buffering::None);
  std::string line = "thread '" + thread_name() + "' panicked at '";
  line += message;
  line += "', ";
  line += where.file_name();
  line += ':';
  line += std::to_string(where.line());
  line += ':';
  line += std::to_string(where.column());
  line += '\n';
  err.write(line);
  if (!reported_before) {
    reported_before = true;
    if (backtrace_wanted()) {
      err.write("stack backtrace:\n");
      void* frames[128];
      int depth = backtrace(frames, 128);
      backtrace_symbols_fd(frames, depth, 2);
    } else {
      err.write("note: run with `TRACEMILL_BACKTRACE=1` environment variable to display a "
                "backtrace\n");
    }
  }
  std::_Exit(101);
}

void prepare_process() {
  // A container asked to grow beyond what a size can express throws length_error; nothing
  // catches it, so it ends here with the fatal report.
  std::set_terminate([] {
    std::exception_ptr current = std::current_exception();
    if (current) {
      try {
        std::rethrow_exception(current);
      } catch (const std::length_error&) {
        fatal("capacity overflow");
      } catch (...) {
      }
    }
    std::abort();
  });
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // The lowest free descriptor is the closed one, so open() fills exactly that slot.
      if (open("/dev/null", O_RDWR) != fd) std::abort();
    }
  }
  signal(SIGPIPE, SIG_IGN);
  pthread_setname_np(pthread_self(), "main");
}

}  // namespace tracemill
