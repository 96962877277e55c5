#include "base/fatal.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

#include "base/build_config.h"

namespace tracemill {
namespace {

// The report names the check's own source location, relative to the project root. The stack
// trace names functions as they are written (the test binary exports its symbols); glibc has
// every call that takes, so there a build without them lost them by mistake.
TEST(FatalDeathTest, ReportLineThenNoteOrBacktrace) {
  unsetenv("TRACEMILL_BACKTRACE");
  EXPECT_EXIT(fatal("it's broken"), ::testing::ExitedWithCode(101),
              "^thread 'main' panicked at 'it's broken', tests/base/fatal_test.cpp:[0-9]+:[0-9]+\n"
              "note: run with `TRACEMILL_BACKTRACE=1` environment variable to display a "
              "backtrace\n$");
  setenv("TRACEMILL_BACKTRACE", "0", 1);
  EXPECT_EXIT(fatal("x"), ::testing::ExitedWithCode(101), "\nnote: run with");
  setenv("TRACEMILL_BACKTRACE", "1", 1);
#if (TRACEMILL_HAVE_BACKTRACE && TRACEMILL_HAVE_CXXABI) || \
    (defined(__GLIBC__) && !TRACEMILL_PORTABLE_FALLBACKS)
  // Under the sanitizers the first frames are their own.
  const char* frames = ".*\\(tracemill::fatal\\(std::basic_string_view<char, ";
#else
  const char* frames = "note: stack traces are not available on this system\n";
#endif
  EXPECT_EXIT(fatal("x"), ::testing::ExitedWithCode(101),
              std::string("^thread 'main' panicked at 'x', [^\n]*\nstack backtrace:\n") + frames);
  unsetenv("TRACEMILL_BACKTRACE");
}

// An exception that nothing catches ends in the report of its what(), a length_error in
// "capacity overflow"; anything thrown that is not a standard exception aborts.
TEST(FatalDeathTest, UncaughtExceptions) {
  auto uncaught = [](auto thrown) noexcept {
    prepare_process();
    std::rethrow_exception(std::make_exception_ptr(thrown));
  };
  EXPECT_EXIT(uncaught(std::runtime_error("no way")), ::testing::ExitedWithCode(101),
              "^thread 'main' panicked at 'no way', src/base/fatal.cpp:[0-9]+:[0-9]+\nnote: ");
  EXPECT_EXIT(uncaught(std::length_error("vector::reserve")), ::testing::ExitedWithCode(101),
              "^thread 'main' panicked at 'capacity overflow', src/base/fatal.cpp:");
  EXPECT_EXIT(uncaught(7), ::testing::KilledBySignal(SIGABRT), "");
}

// A request no system can meet: the nothrow forms answer null (the aligned ones whether or not
// the size can be rounded up); the others report the size, every digit of it, and abort.
TEST(AllocationDeathTest, FailedRequests) {
#if defined(TRACEMILL_NO_ALLOC_HOOK) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer builds keep their own allocation functions";
#endif
  volatile std::size_t huge = SIZE_MAX;
  EXPECT_EQ(::operator new(huge, std::nothrow), nullptr);
  EXPECT_EQ(::operator new (huge / 2, std::align_val_t{64}, std::nothrow), nullptr);
  EXPECT_EQ(::operator new[](huge, std::align_val_t{64}, std::nothrow), nullptr);
  EXPECT_EXIT((void)::operator new(huge), ::testing::KilledBySignal(SIGABRT),
              "^memory allocation of " + std::to_string(SIZE_MAX) + " bytes failed\n");
}

}  // namespace
}  // namespace tracemill
