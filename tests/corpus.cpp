#include "corpus.h"

#include <system_error>

namespace tracemill::test_util {

std::filesystem::path corpus_path(const std::filesystem::path& dir, std::string_view relative,
                                  std::string& why) {
  std::error_code error;
  std::filesystem::path path = dir / relative;
  if (std::filesystem::exists(path, error)) return path;
  const std::string hint =
      "configure with -DTRACEMILL_CORPUS_DIR=<folder holding "
      "json-test-suite/ and traces/> to run this test";
  if (!std::filesystem::is_directory(dir, error)) {
    why = "test corpus folder " + dir.string() + " is absent; " + hint;
  } else {
    why = "test corpus folder " + dir.string() + " has no " + std::string(relative) + "; " + hint;
  }
  return {};
}

std::filesystem::path corpus_path(std::string_view relative, std::string& why) {
  return corpus_path(TRACEMILL_CORPUS_DIR, relative, why);
}

}  // namespace tracemill::test_util
