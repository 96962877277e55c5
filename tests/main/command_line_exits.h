// Checks how a rejected command line of tracemill-export or tracemill-condense ends the process.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "main/command_line.h"

namespace tracemill::test_util {

// A `text` that ends in a line feed is the first line of what goes to standard output with
// status 0 (help or version); any other is the message of a usage error, which must come as
// "PROGRAM: text", the usage line and the pointer to --help on standard error with status 2.
inline void expect_exit(const CommandLineExit& exit, std::string_view program,
                        std::string_view usage, const std::string& text) {
  if (text.ends_with('\n')) {
    EXPECT_EQ(exit.status, 0) << text;
    EXPECT_EQ(exit.stream, OutputStream::Stdout) << text;
    EXPECT_EQ(exit.text.substr(0, exit.text.find('\n') + 1), text);
  } else {
    const std::string name(program);
    EXPECT_EQ(exit.status, 2) << text;
    EXPECT_EQ(exit.stream, OutputStream::Stderr) << text;
    EXPECT_EQ(exit.text, name + ": " + text + "\n" + std::string(usage) + "Try '" + name +
                             " --help' for more information.\n");
  }
}

}  // namespace tracemill::test_util
