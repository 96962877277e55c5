#include "corpus.h"

#include <gtest/gtest.h>

#include <string>

#include "e2e/run_binary.h"

namespace tracemill::test_util {
namespace {

// A present file or sub-folder gives its path; an absent one an empty path and a message that
// names what is missing and the setting that names the folder.
TEST(Corpus, PathOrWhyItIsAbsent) {
  e2e::TempDir dir;
  const std::filesystem::path& root = dir.path();
  std::filesystem::create_directory(root / "traces");
  dir.write_file("traces/t.json", "{}");
  struct Case {
    std::filesystem::path dir;
    const char* relative;
    bool found;
    std::string names;
  } cases[] = {
      {root, "traces/t.json", true, ""},
      {root, "traces", true, ""},
      {root, "json-test-suite/test_parsing", false, "has no json-test-suite/test_parsing"},
      {root / "absent", "traces", false, (root / "absent").string() + " is absent"},
  };
  for (const Case& c : cases) {
    std::string why;
    const std::filesystem::path path = corpus_path(c.dir, c.relative, why);
    EXPECT_EQ(!path.empty(), c.found) << c.relative;
    if (c.found) {
      EXPECT_EQ(path, c.dir / c.relative);
    } else {
      EXPECT_NE(why.find(c.names), std::string::npos) << why;
      EXPECT_NE(why.find("-DTRACEMILL_CORPUS_DIR="), std::string::npos) << why;
    }
  }
}

}  // namespace
}  // namespace tracemill::test_util
