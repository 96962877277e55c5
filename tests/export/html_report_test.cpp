// The report page: its data blocks hold any name as inert text, and the template's pieces are
// all filled in.
#include "export/html_report.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/byte_source.h"
#include "base/sink.h"

namespace tracemill {
namespace {

std::size_t occurrences(std::string_view text, std::string_view part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string_view::npos;
       at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

// Base64 (standard alphabet, padded) decoded, then the gzip member inflated; "!" when either
// is broken.
std::string gunzip_base64(std::string_view text) {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4 != 0) return "!";
  std::string bytes;
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    const std::size_t value = kAlphabet.find(c);
    if (value == std::string_view::npos) return "!";
    bits = bits << 6 | static_cast<std::uint32_t>(value);
    if ((count += 6) >= 8) bytes += static_cast<char>(bits >> (count -= 8) & 0xFF);
  }
  // Inflated as the decoders inflate gzip input.
  ByteSource source = ByteSource::from_memory(std::move(bytes));
  if (!source.inflate_if_gzip()) return "!";
  std::string out;
  do {
    out.append(source.data(), source.available());
    source.advance_to(source.data() + source.available());
  } while (source.refill());
  return source.stream_error().empty() ? out : "!";
}

TEST(HtmlReport, GzipBase64RoundTrips) {
  std::string large;
  for (int i = 0; i < 50000; ++i) large += "{\"name\": \"svc-" + std::to_string(i % 97) + "\"},";
  // Lengths of each remainder modulo 3, so that every padding shows.
  for (std::string_view bytes :
       {std::string_view(""), std::string_view("a"), std::string_view("ab"),
        std::string_view("abc"), std::string_view("\0\xff\x80<>&", 6), std::string_view(large)}) {
    const std::optional<std::string> packed = gzip_base64(bytes);
    ASSERT_TRUE(packed);
    EXPECT_EQ(packed->find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    EXPECT_EQ(gunzip_base64(*packed), bytes) << bytes.size();
  }
  EXPECT_LT(gzip_base64(large)->size(), large.size() / 3);
}

TEST(HtmlReport, ScriptJsonEscapes) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"", ""},
      // White space between tokens goes, white space in strings stays, also after \".
      {"{\"name\": \"a b\",\n  \"n\": [1, 2]}", R"({"name":"a b","n":[1,2]})"},
      {R"(["a\" <b>", "c\\", " <"])", R"(["a\" \u003cb\u003e","c\\"," \u003c"])"},
      {R"("</script><script>alert(1)</script>")",
       R"("\u003c/script\u003e\u003cscript\u003ealert(1)\u003c/script\u003e")"},
      {R"("<!-- x -->")", R"("\u003c!-- x --\u003e")"},
      {"\"a&amp;b\"", R"("a\u0026amp;b")"},
      // JavaScript ends a line at U+2028 and U+2029; other non-ASCII passes as it is.
      {"\"x\u2028y\u2029z\u00e9\u2027\"", "\"x\\u2028y\\u2029z\u00e9\u2027\""},
      {"<", "\\u003c"},
  };
  for (const auto& [json, expected] : cases) {
    StringSink out;
    EXPECT_TRUE(write_script_json(out, json));
    EXPECT_EQ(out.text(), expected) << json;
  }
}

TEST(HtmlReport, NamesStayInTheirDataBlocks) {
  const std::string json =
      R"({"version": 2, "nodes": [{"name": "<script>alert(1)</script>"}, {"name": "</script>"}, )"
      R"({"name": "<!--"}], "edges": []})";
  ReportHeader header;
  header.inputs = {"</script><script>alert(2)</script>.json"};
  header.baseline_inputs = {"<!--old.json"};
  header.version = "1.2.3";
  header.traces = 7;
  StringSink out;
  ASSERT_TRUE(write_html(out, json, header));
  const std::string& page = out.text();
  // The template's own elements: two data blocks, the layout library and the page's script.
  EXPECT_EQ(occurrences(page, "<script"), 4u);
  EXPECT_EQ(occurrences(page, "</script"), 4u);
  EXPECT_EQ(occurrences(page, "<!--"), 0u);
  EXPECT_EQ(occurrences(page, "alert("), 1u);
  // The graph's block holds base64 alone, and it inflates to the graph's JSON as a script
  // may hold it.
  const std::string_view open = "id=\"tracemill-graph\">\n";
  const std::size_t from = page.find(open) + open.size();
  const std::size_t to = page.find("\n</script>", from);
  ASSERT_NE(to, std::string::npos);
  StringSink expected;
  ASSERT_TRUE(write_script_json(expected, json));
  EXPECT_EQ(gunzip_base64(std::string_view(page).substr(from, to - from)), expected.text());
  EXPECT_NE(
      page.find(
          R"("inputs":["\u003c/script\u003e\u003cscript\u003ealert(2)\u003c/script\u003e.json"])"),
      std::string::npos);
  EXPECT_NE(
      page.find(
          R"("baseline_inputs":["\u003c!--old.json"],"version":"1.2.3","traces":7,"operations":null,"chains":null})"),
      std::string::npos);
  for (std::string_view marker : {"@STYLE@", "@LAYOUT@", "@SCRIPT@", "@HEADER@", "@GRAPH@"}) {
    EXPECT_EQ(page.find(marker), std::string::npos) << marker;
  }
  EXPECT_NE(page.find("connect-src 'none'"), std::string::npos);
}

// Fails every write from the nth on.
class FailingSink final : public Sink {
 public:
  explicit FailingSink(int writes) : writes_(writes) {}
  bool write(std::string_view) override { return writes_-- > 0; }

 private:
  int writes_;
};

TEST(HtmlReport, StopsAtAFailedWrite) {
  for (int writes = 0; writes < 12; ++writes) {
    FailingSink out(writes);
    EXPECT_FALSE(write_html(out, R"({"nodes": ["<"]})", ReportHeader{})) << writes;
  }
}

}  // namespace
}  // namespace tracemill
