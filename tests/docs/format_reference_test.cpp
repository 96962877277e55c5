// The input format reference, docs/format.md, against the code: its record tables list the
// fields of every record in declaration order with the types the code gives them, and its blocks
// marked with a file name show those files exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "stats/file/operation_stats_json.h"

namespace tracemill {
namespace {

const std::filesystem::path kRoot = TRACEMILL_SOURCE_DIR;

std::string read_file(const std::filesystem::path& path) {
  return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}

// Per record name, its rows: "<number> <field>: <type word>".
using Tables = std::map<std::string, std::vector<std::string>>;

// The document's words for the field types that are no container and no record.
using Scalars = std::tuple<bool, std::uint16_t, std::int16_t, std::int32_t, std::uint64_t,
                           std::int64_t, std::string, CallDirection>;
constexpr const char* kScalarWords[] = {"bool", "u16", "i16",  "i32",
                                        "u64",  "i64", "text", "CallDirection"};
template <class T, class... S>
constexpr int scalar_index(std::tuple<S...>*) {
  int i = 0, found = -1;
  ((std::is_same_v<T, S> ? found = i++ : i++), ...);
  return found;
}

// The word for T in the document's Type column. A record is named, and its own table is added
// to `tables`, so every record reachable from StatsRecJson gets one. Scalars come first: a
// text has a value_type too.
template <class T>
std::string type_word(Tables& tables) {
  if constexpr (constexpr int i = scalar_index<T>(static_cast<Scalars*>(nullptr)); i >= 0)
    return kScalarWords[i];
  else if constexpr (requires { typename T::mapped_type; })
    return "map " + type_word<typename T::key_type>(tables) + " to " +
           type_word<typename T::mapped_type>(tables);
  else if constexpr (requires { typename T::first_type; })
    return "pair (" + type_word<typename T::first_type>(tables) + ", " +
           type_word<typename T::second_type>(tables) + ")";
  else if constexpr (requires { typename T::value_type; })
    return "list of " + type_word<typename T::value_type>(tables);
  else {
    static_assert(IsRecord<T>, "a field type without a word in docs/format.md");
    std::string name(Record<T>::name);
    if (tables.emplace(name, std::vector<std::string>{}).second) {
      std::vector<std::string> rows;
      for_each_field<T>([&](const auto& field) {
        using F = typename std::remove_cvref_t<decltype(field)>::Type;
        rows.push_back(std::to_string(rows.size()) + " " + std::string(field.name) + ": " +
                       type_word<F>(tables));
      });
      tables[name] = std::move(rows);
    }
    return name;
  }
}

// The tables under the headings "### Record `Name`", from rows "| # | `field` | type | ...".
Tables document_tables(const std::string& text) {
  static const std::regex heading("### Record `(\\w+)`");
  static const std::regex row("\\| (\\d+) \\| `(\\w+)` \\| ([^|`]*?) \\|.*");
  Tables tables;
  std::vector<std::string>* rows = nullptr;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_match(line, m, heading)) {
      rows = &tables[m[1]];
    } else if (line.starts_with("#")) {
      rows = nullptr;
    } else if (rows && std::regex_match(line, m, row)) {
      rows->push_back(m[1].str() + " " + m[2].str() + ": " + m[3].str());
    }
  }
  return tables;
}

TEST(FormatReference, RecordTablesListTheFieldsOfTheCode) {
  Tables code;
  type_word<StatsRecJson>(code);
  Tables doc = document_tables(read_file(kRoot / "docs/format.md"));
  for (const auto& [name, fields] : code) {
    const std::vector<std::string>& rows = doc[name];
    EXPECT_FALSE(rows.empty()) << "docs/format.md has no table for the record " << name;
    for (std::size_t i = 0; i < std::max(fields.size(), rows.size()); ++i) {
      EXPECT_EQ(i < rows.size() ? rows[i] : "(no row)", i < fields.size() ? fields[i] : "(none)")
          << "docs/format.md, record " << name << ", row " << i << " (document, then code)";
    }
  }
  for (const auto& [name, rows] : doc) {
    EXPECT_TRUE(code.contains(name))
        << "docs/format.md has a table for " << name << ", which is no record of StatsRecJson";
  }
}

// A fenced block whose info string names a file ("```json examples/minimal.json") shows that
// file: as text, or for "hexdump" the bytes of `hexdump -Cv`.
TEST(FormatReference, ExampleBlocksShowTheExampleFiles) {
  static const std::regex fence("```(\\w+) (\\S+)");
  std::istringstream lines(read_file(kRoot / "docs/format.md"));
  int blocks = 0;
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (!std::regex_match(line, m, fence)) continue;
    const std::string kind = m[1], file = m[2];
    std::string shown;
    while (std::getline(lines, line) && line != "```") {
      if (kind != "hexdump") {
        shown += line + "\n";
        continue;
      }
      // "00000010  00 01 ...  |..|": the offset, the bytes, then the characters.
      std::istringstream words(line.substr(0, line.find('|')));
      std::string word;
      words >> word;
      while (words >> word) shown += static_cast<char>(std::stoi(word, nullptr, 16));
    }
    EXPECT_EQ(shown, read_file(kRoot / file)) << "the block of docs/format.md showing " << file;
    ++blocks;
  }
  EXPECT_GE(blocks, 3);
}

}  // namespace
}  // namespace tracemill
