#include "base/fatal.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

#include "base/build_config.h"
#include "base/sink.h"

#if TRACEMILL_HAVE_BACKTRACE
#include <execinfo.h>
#endif
#if TRACEMILL_HAVE_CXXABI
#include <cxxabi.h>
#endif
#if TRACEMILL_HAVE_PTHREAD_SETNAME_NP
#include <pthread.h>
#endif

namespace tracemill {
namespace {

constexpr std::string_view kBacktraceVariable = "TRACEMILL_BACKTRACE";

bool backtrace_wanted() {
  const char* value = std::getenv(kBacktraceVariable.data());
  return value != nullptr && std::string_view(value) != "0";
}

// The thread's name in the report: "main" unless name_thread() gave it another.
thread_local const char* thread_name = "main";

// One frame as backtrace_symbols() describes it, "object(symbol+offset) [address]", with a C++
// symbol demangled. Frames without a symbol, C symbols, and every frame on a system without the
// demangler stay as they are.
[[maybe_unused]] std::string readable_frame(std::string_view frame) {
#if TRACEMILL_HAVE_CXXABI
  std::size_t open = frame.find('(');
  std::size_t plus = frame.find('+', open == std::string_view::npos ? frame.size() : open);
  if (plus != std::string_view::npos && plus > open + 1) {
    std::string symbol(frame.substr(open + 1, plus - open - 1));
    int status = 0;
    char* name = abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status);
    if (status == 0 && name != nullptr) {
      std::string result(frame.substr(0, open + 1));
      result += name;
      result += frame.substr(plus);
      std::free(name);
      return result;
    }
  }
#endif
  return std::string(frame);
}

void write_backtrace(Sink& err) {
  err.write("stack backtrace:\n");
#if TRACEMILL_HAVE_BACKTRACE
  void* frames[128];
  int depth = backtrace(frames, 128);
  char** symbols = backtrace_symbols(frames, depth);
  if (symbols == nullptr) {
    backtrace_symbols_fd(frames, depth, 2);
    return;
  }
  for (int i = 0; i < depth; ++i) err.write(readable_frame(symbols[i]) + '\n');
  std::free(symbols);
#else
  err.write("note: stack traces are not available on this system\n");
#endif
}

}  // namespace

void fatal(std::string_view message, SourceLocation where) {
  static bool reported_before = false;
  // What standard output holds comes before the report, as it would line by line.
  stdout_sink().flush_lines();
  FdSink err(2, FdSink::Buffering::None);
  std::string line = "thread '";
  line += thread_name;
  line += "' panicked at '";
  line += message;
  line += "', ";
  line += where.file;
  line += ':';
  line += std::to_string(where.line);
  line += ':';
  line += std::to_string(where.column);
  line += '\n';
  err.write(line);
  if (!reported_before) {
    reported_before = true;
    if (backtrace_wanted()) {
      write_backtrace(err);
    } else {
      err.write(
          "note: run with `TRACEMILL_BACKTRACE=1` environment variable to display a "
          "backtrace\n");
    }
  }
  std::_Exit(101);
}

unsigned prepare_process() {
  // An exception nothing catches ends here. A container asked to grow beyond what a size can
  // express throws length_error, reported as "capacity overflow"; every other standard
  // exception is reported with its own text. Anything else thrown aborts.
  std::set_terminate([] {
    std::exception_ptr current = std::current_exception();
    if (current) {
      try {
        std::rethrow_exception(current);
      } catch (const std::length_error&) {
        fatal("capacity overflow");
      } catch (const std::exception& e) {
        fatal(e.what());
      } catch (...) {
      }
    }
    stdout_sink().flush_lines();
    std::abort();
  });
  unsigned closed = 0;
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      closed |= 1u << fd;
      // The lowest free descriptor is the closed one, so open() fills exactly that slot.
      if (open("/dev/null", O_RDWR) != fd) std::abort();
    }
  }
  signal(SIGPIPE, SIG_IGN);
  name_thread("main");
  return closed;
}

void name_thread(const char* name) {
  thread_name = name;
#if TRACEMILL_HAVE_PTHREAD_SETNAME_NP
  pthread_setname_np(pthread_self(), name);
#endif
}

}  // namespace tracemill
