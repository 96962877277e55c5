#include "export/html_report.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "export/graph_writers.h"

namespace tracemill {

// The files of web/ and third_party/, embedded by cmake/embed_files.cmake.
namespace web_files {
extern const std::string_view kReportHtml;
extern const std::string_view kReportCss;
extern const std::string_view kReportJs;
extern const std::string_view kLayoutJs;
}  // namespace web_files

namespace {

// The header's facts as a JSON object, for the page to show as text.
std::string header_json(const ReportHeader& header) {
  StringSink out;
  auto list = [&](std::string_view key, const std::vector<std::string>& names) {
    out.write(key);
    for (std::size_t i = 0; i < names.size(); ++i) {
      out.write(i == 0 ? "\"" : ", \"");
      write_json_string(out, names[i]);
      out.write("\"");
    }
    out.write("]");
  };
  auto count = [&](std::string_view key, const std::optional<std::uint64_t>& value) {
    out.write(key);
    out.write(value ? std::to_string(*value) : "null");
  };
  list("{\"inputs\": [", header.inputs);
  list(", \"baseline_inputs\": [", header.baseline_inputs);
  out.write(", \"version\": \"");
  write_json_string(out, header.version);
  out.write("\"");
  count(", \"traces\": ", header.traces);
  count(", \"operations\": ", header.operations);
  count(", \"chains\": ", header.chains);
  out.write("}");
  return out.take();
}

}  // namespace

std::optional<std::string> gzip_base64(std::string_view bytes) {
  z_stream stream{};
  // 15 window bits plus 16: a gzip member, which the browser's DecompressionStream reads.
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    return std::nullopt;
  }
  // In steps of at most 1 GiB (zlib counts in uInt), out in blocks of 64 KiB.
  std::string packed;
  std::array<Bytef, 1 << 16> block;
  const auto* next = reinterpret_cast<const Bytef*>(bytes.data());
  std::size_t left = bytes.size();
  int status = Z_OK;
  while (status == Z_OK) {
    if (stream.avail_in == 0) {
      const auto step = static_cast<uInt>(std::min<std::size_t>(left, std::size_t{1} << 30));
      stream.next_in = const_cast<Bytef*>(next);
      stream.avail_in = step;
      next += step;
      left -= step;
    }
    stream.next_out = block.data();
    stream.avail_out = static_cast<uInt>(block.size());
    status = deflate(&stream, left == 0 ? Z_FINISH : Z_NO_FLUSH);
    packed.append(reinterpret_cast<const char*>(block.data()), block.size() - stream.avail_out);
  }
  deflateEnd(&stream);
  if (status != Z_STREAM_END) return std::nullopt;
  const std::size_t size = packed.size();

  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((size + 2) / 3 * 4);
  const auto* in = reinterpret_cast<const unsigned char*>(packed.data());
  for (std::size_t i = 0; i < size; i += 3) {
    const std::size_t n = std::min<std::size_t>(3, size - i);
    const std::uint32_t triple = std::uint32_t{in[i]} << 16 |
                                 (n > 1 ? std::uint32_t{in[i + 1]} << 8 : 0) |
                                 (n > 2 ? std::uint32_t{in[i + 2]} : 0);
    text += kAlphabet[triple >> 18];
    text += kAlphabet[triple >> 12 & 63];
    text += n > 1 ? kAlphabet[triple >> 6 & 63] : '=';
    text += n > 2 ? kAlphabet[triple & 63] : '=';
  }
  return text;
}

bool write_script_json(Sink& out, std::string_view json) {
  std::size_t run = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < json.size(); ++i) {
    std::string_view escape;
    const char c = json[i];
    std::size_t length = 1;
    if (in_string && c == '\\') {
      ++i;  // the escaped character cannot end the string
      continue;
    }
    if (c == '"') {
      in_string = !in_string;
      continue;
    }
    if (!in_string && (c == ' ' || c == '\n' || c == '\t' || c == '\r')) {
      escape = "";
    } else if (c == '<') {
      escape = "\\u003c";
    } else if (c == '>') {
      escape = "\\u003e";
    } else if (c == '&') {
      escape = "\\u0026";
    } else if (json.substr(i, 3) == "\u2028") {
      escape = "\\u2028";
      length = 3;
    } else if (json.substr(i, 3) == "\u2029") {
      escape = "\\u2029";
      length = 3;
    } else {
      continue;
    }
    if (!(out.write(json.substr(run, i - run)) && out.write(escape))) return false;
    run = i + length;
    i = run - 1;
  }
  return out.write(json.substr(run));
}

// The template names each piece once, as a marker on a line of its own: @STYLE@, @LAYOUT@,
// @SCRIPT@, @HEADER@, @GRAPH@.
bool write_html(Sink& out, std::string_view graph_json, const ReportHeader& header) {
  std::string_view page = web_files::kReportHtml;
  const std::string facts = header_json(header);
  while (!page.empty()) {
    const std::size_t at = page.find('@');
    const std::size_t end = at == std::string_view::npos ? at : page.find('@', at + 1);
    if (end == std::string_view::npos) return out.write(page);
    const std::string_view marker = page.substr(at, end + 1 - at);
    if (!out.write(page.substr(0, at))) return false;
    bool written = true;
    if (marker == "@STYLE@") {
      written = out.write(web_files::kReportCss);
    } else if (marker == "@LAYOUT@") {
      written = out.write(web_files::kLayoutJs);
    } else if (marker == "@SCRIPT@") {
      written = out.write(web_files::kReportJs);
    } else if (marker == "@HEADER@") {
      written = write_script_json(out, facts);
    } else if (marker == "@GRAPH@") {
      StringSink compact;
      write_script_json(compact, graph_json);
      const std::optional<std::string> packed = gzip_base64(compact.text());
      written = packed && out.write(*packed);
    } else {
      written = out.write(marker.substr(0, marker.size() - 1));
      page.remove_prefix(end);
      if (!written) return false;
      continue;
    }
    if (!written) return false;
    page.remove_prefix(end + 1);
  }
  return true;
}

bool write_html(Sink& out, const DependencyGraph& graph, const ReportHeader& header,
                const GraphChanges* changes) {
  StringSink json;
  write_json(json, graph, changes);
  return write_html(out, json.text(), header);
}

}  // namespace tracemill
