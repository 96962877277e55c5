#include "corpus.h"

#include <gtest/gtest.h>

#include <string>

#include "e2e/run_binary.h"

namespace tracemill::test_util {
namespace {

// A present file gives its path (else every corpus test would skip unnoticed); an absent one
// an empty path and a message naming what is missing and the setting that names the folder.
TEST(Corpus, PathOrWhyItIsAbsent) {
  e2e::TempDir dir;
  dir.write_file("t.json", "{}");
  const struct {
    std::filesystem::path folder;
    const char* relative;
    std::string names;
  } cases[] = {
      {dir.path(), "t.json", ""},
      {dir.path(), "traces", " has no traces; "},
      {"/nonexistent", "t.json", "/nonexistent is absent; "},
  };
  for (const auto& c : cases) {
    std::string why;
    const std::filesystem::path path = corpus_path(c.folder, c.relative, why);
    EXPECT_EQ(path, c.names.empty() ? c.folder / c.relative : std::filesystem::path())
        << c.relative;
    if (!c.names.empty()) {
      EXPECT_NE(why.find(c.names), std::string::npos) << why;
      EXPECT_NE(why.find("-DTRACEMILL_CORPUS_DIR="), std::string::npos) << why;
    }
  }
}

}  // namespace
}  // namespace tracemill::test_util
