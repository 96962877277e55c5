// The public test corpora (json-test-suite/, traces/), kept outside the project in the folder
// the build names with TRACEMILL_CORPUS_DIR. A test that needs one skips when it is absent, so
// that a checkout without the folder still passes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace tracemill::test_util {

// The path of `relative` (a sub-folder or file) inside the corpus folder `dir` when it exists;
// otherwise an empty path, and `why` says what is absent and how to name the folder.
std::filesystem::path corpus_path(const std::filesystem::path& dir, std::string_view relative,
                                  std::string& why);

// The same inside the folder this build was configured with.
std::filesystem::path corpus_path(std::string_view relative, std::string& why);

}  // namespace tracemill::test_util

// Declares `var` as the path of `relative` inside the corpus folder, or skips the current test
// with the message of corpus_path().
#define TRACEMILL_CORPUS_PATH_OR_SKIP(var, relative)                                               \
  std::string var##_absent;                                                                        \
  const std::filesystem::path var = ::tracemill::test_util::corpus_path((relative), var##_absent); \
  if (var.empty()) GTEST_SKIP() << var##_absent
