#include "base/fatal.h"

#include <gtest/gtest.h>

namespace tracemill {
namespace {

// The report names the check's own source location, relative to the project root.
TEST(FatalDeathTest, ReportLineThenNoteOrBacktrace) {
  unsetenv("TRACEMILL_BACKTRACE");
  EXPECT_EXIT(fatal("it's broken"), ::testing::ExitedWithCode(101),
              "^thread 'main' panicked at 'it's broken', tests/base/fatal_test.cpp:[0-9]+:[0-9]+\n"
              "note: run with `TRACEMILL_BACKTRACE=1` environment variable to display a "
              "backtrace\n$");
  setenv("TRACEMILL_BACKTRACE", "0", 1);
  EXPECT_EXIT(fatal("x"), ::testing::ExitedWithCode(101), "\nnote: run with");
  setenv("TRACEMILL_BACKTRACE", "1", 1);
  EXPECT_EXIT(fatal("x"), ::testing::ExitedWithCode(101),
              "^thread 'main' panicked at 'x', [^\n]*\nstack backtrace:\n.+");
  unsetenv("TRACEMILL_BACKTRACE");
}

}  // namespace
}  // namespace tracemill
