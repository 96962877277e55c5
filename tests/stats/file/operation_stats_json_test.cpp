#include "stats/file/operation_stats_json.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "e2e/run_binary.h"
#include "stats/file/bincode_writer.h"
#include "text_form/debug.h"

namespace tracemill {
namespace {

namespace fs = std::filesystem;

TEST(FileExtension, FinalNameRules) {
  struct Case {
    std::string_view path;
    std::optional<std::string_view> extension;
  };
  const Case cases[] = {
      {"stats.json", "json"},  {"/abs/dir.x/stats.JSON", "JSON"}, {"stats.", ""},
      {"..json", "json"},      {"stats.json/.", "json"},          {"dir.json/stats", std::nullopt},
      {".json", std::nullopt}, {"dir.json/..", std::nullopt},     {"/", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(file_extension(c.path), c.extension) << "path \"" << c.path << "\"";
  }
}

TEST(PathDebugForm, EscapesTextAndShowsOtherBytesInHex) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"\xE2\x82!", R"("\xE2\x82!")"},  // a sequence cut short by another character
      {"x\xE2\x82", R"("x\xE2\x82")"},  // a sequence cut short by the end
      {"\xC3\xA9\x80", "\"\xC3\xA9\\x80\""},
      {"it's\t\"q\"\xFE", R"("it's\t\"q\"\xFE")"},
  };
  for (const auto& [bytes, form] : cases) EXPECT_EQ(path_debug_form(bytes), form);
}

using e2e::TempDir;

std::string error_of(const fs::path& path) {
  auto result = StatsRecJson::read_file(path);
  if (result) return "ok";
  return compact_string(result.error());
}

std::size_t open_descriptors() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST(ReadFile, ReturnedErrors) {
  TempDir dir;
  const std::string not_found =
      R"(Os { code: 2, kind: NotFound, message: "No such file or directory" })";
  // The open comes first: a missing file is reported as such whatever its name.
  for (const char* name : {"stats.txt", "stats", "y.bincode"}) {
    EXPECT_EQ(error_of(dir.path() / name), not_found) << name;
  }
  EXPECT_EQ(error_of(""), not_found);

  fs::create_directory(dir.path() / "d.bincode");
  EXPECT_EQ(error_of(dir.path() / "d.bincode"),
            R"(Io(Os { code: 21, kind: IsADirectory, message: "Is a directory" }))");
  dir.write_file("file.bincode", "");
  EXPECT_EQ(error_of(dir.path() / "file.bincode" / "x.json"),
            R"(Os { code: 20, kind: NotADirectory, message: "Not a directory" })");
  // A directory named .json opens; it fails at its first read.
  fs::create_directory(dir.path() / "d.json");
  EXPECT_EQ(error_of(dir.path() / "d.json"),
            R"x(Error("Is a directory (os error 21)", line: 0, column: 0))x");
}

TEST(ReadFile, DecodesBinaryFilesAndClosesThem) {
  TempDir dir;
  StatsRecJson rec;
  rec.trace_id = {"t1"};
  rec.stats["GET /users"].num_traces = 3;
  fs::path good = dir.write_file("run.2024.bincode", testing::encode(rec) + "trailing");
  fs::path bad = dir.write_file("bad.bincode", testing::encode(rec).substr(0, 50));
  std::size_t before = open_descriptors();
  auto result = StatsRecJson::read_file(good);
  ASSERT_TRUE(result) << compact_string(result.error());
  EXPECT_TRUE(result.value() == rec);
  EXPECT_EQ(open_descriptors(), before);
  EXPECT_EQ(error_of(bad),
            R"(Io(Error { kind: UnexpectedEof, message: "failed to fill whole buffer" }))");
  EXPECT_EQ(open_descriptors(), before);
}

// Not reachable through the command line, which accepts UTF-8 arguments only.
TEST(ReadFileDeathTest, PathThatIsNotTextEndsTheRun) {
  EXPECT_EXIT((void)StatsRecJson::read_file(fs::path("missing\xFF\xFE.json")),
              ::testing::ExitedWithCode(101),
              "^thread '[^']*' panicked at 'called `Result::unwrap\\(\\)` on an `Err` value: "
              "\"missing\\\\xFF\\\\xFE\\.json\"', src/stats/file/operation_stats_json\\.cpp:"
              "[0-9]+:[0-9]+\n");
}

}  // namespace
}  // namespace tracemill
