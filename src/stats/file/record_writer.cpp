#include "stats/file/record_writer.h"

namespace tracemill {

void write_json_string(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\b':
        out.append("\\b");
        break;
      case '\f':
        out.append("\\f");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      default: {
        const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out.append(escape, sizeof escape);
      }
    }
  }
  out.append(text.data() + run, text.size() - run);
  out.push_back('"');
}

namespace detail {

bool SinkOut::flush() {
  const bool ok = text.empty() || sink_.write(text);
  text.clear();
  return ok;
}

}  // namespace detail

bool write_record(Sink& out, const StatsRecJson& record, Encoding encoding) {
  detail::SinkOut buffer(out);
  // Room for the flush size and the longest stretch between two checks, one number chunk.
  buffer.text.reserve(detail::SinkOut::kFlushSize + detail::kListChunk * 21);
  if (encoding == Encoding::Json) {
    if (!detail::put_json(record, buffer, false, 0)) return false;
    buffer.text.push_back('\n');
  } else if (!detail::put_bincode(record, buffer)) {
    return false;
  }
  return buffer.flush();
}

}  // namespace tracemill
