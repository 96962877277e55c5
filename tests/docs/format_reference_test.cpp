// The input format reference, docs/format.md, against the code: its record tables list the
// fields of every record in declaration order with the types the code gives them, and its blocks
// marked with a file name show those files exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "stats/file/operation_stats_json.h"

namespace tracemill {
namespace {

const std::filesystem::path kRoot = TRACEMILL_SOURCE_DIR;

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Per record name, its rows: "<number> <field>: <type word>".
using Tables = std::map<std::string, std::vector<std::string>>;

template <class T>
constexpr bool kIsList = false;
template <class T, class A>
constexpr bool kIsList<std::vector<T, A>> = true;
template <class T>
constexpr bool kIsPair = false;
template <class A, class B>
constexpr bool kIsPair<std::pair<A, B>> = true;

// The word for T in the document's Type column. A record is named, and its own table is added
// to `tables`, so every record reachable from StatsRecJson gets one.
template <class T>
std::string type_word(Tables& tables) {
  if constexpr (std::is_same_v<T, bool>)
    return "bool";
  else if constexpr (std::is_same_v<T, std::uint16_t>)
    return "u16";
  else if constexpr (std::is_same_v<T, std::int16_t>)
    return "i16";
  else if constexpr (std::is_same_v<T, std::int32_t>)
    return "i32";
  else if constexpr (std::is_same_v<T, std::uint64_t>)
    return "u64";
  else if constexpr (std::is_same_v<T, std::int64_t>)
    return "i64";
  else if constexpr (std::is_same_v<T, std::string>)
    return "text";
  else if constexpr (std::is_same_v<T, CallDirection>)
    return "CallDirection";
  else if constexpr (kIsList<T>)
    return "list of " + type_word<typename T::value_type>(tables);
  else if constexpr (kIsPair<T>)
    return "pair (" + type_word<typename T::first_type>(tables) + ", " +
           type_word<typename T::second_type>(tables) + ")";
  else if constexpr (requires { typename T::mapped_type; })
    return "map " + type_word<typename T::key_type>(tables) + " to " +
           type_word<typename T::mapped_type>(tables);
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
