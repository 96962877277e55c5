// The JSON conformance corpus, json-test-suite/test_parsing in the test corpus folder
// (corpus.h): documents named y_ (must be accepted), n_ (must be rejected) and i_ (either),
// read whole.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tracemill::test_util {

struct CorpusFile {
  std::string name;
  std::string text;
};

inline constexpr const char* kJsonCorpus = "json-test-suite/test_parsing";

// Every document of the corpus folder `dir`, by name.
inline std::vector<CorpusFile> json_corpus(const std::filesystem::path& dir) {
  std::vector<CorpusFile> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    files.push_back({entry.path().filename().string(), text.str()});
  }
  std::sort(files.begin(), files.end(),
            [](const CorpusFile& a, const CorpusFile& b) { return a.name < b.name; });
  return files;
}

}  // namespace tracemill::test_util
