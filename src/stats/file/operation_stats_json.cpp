#include "stats/file/operation_stats_json.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/byte_source.h"
#include "base/fatal.h"
#include "base/sink.h"
#include "base/utf8.h"
#include "stats/file/bincode_decode.h"
#include "stats/file/json_decode.h"
#include "text_form/debug.h"

namespace tracemill {
namespace {

constexpr std::string_view kBincodeExtension = "bincode";
constexpr std::string_view kJsonExtension = "json";
constexpr char kPathNotText[] = "called `Result::unwrap()` on an `Err` value: ";

// Opens `path` read-only, again when a signal interrupts the open; -1 with errno on failure.
int open_read_only(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

template <class E>
Result<StatsRecJson, LoadError> to_load_result(Result<StatsRecJson, E> decoded) {
  if (!decoded) return Err{LoadError{std::move(decoded).error()}};
  return std::move(decoded).value();
}

template <class E>
std::optional<LoadError> to_load_error(std::optional<E> error) {
  if (!error) return std::nullopt;
  return LoadError{std::move(*error)};
}

}  // namespace

std::optional<std::string_view> file_extension(std::string_view path) {
  std::size_t end = path.size();
  std::string_view name;
  for (;;) {
    while (end > 0 && path[end - 1] == '/') --end;
    if (end == 0) return std::nullopt;
    std::size_t start = path.rfind('/', end - 1) + 1;  // 0 when there is no "/" (npos + 1)
    name = path.substr(start, end - start);
    if (name != ".") break;
    // "." stands for the directory before it; a leading one leaves no name at all.
    if (start == 0) return std::nullopt;
    end = start;
  }
  if (name == "..") return std::nullopt;
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  return name.substr(dot + 1);
}

std::string path_debug_form(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  StringSink sink;
  sink.write("\"");
  while (!bytes.empty()) {
    std::optional<Utf8Fault> fault = check_utf8(bytes);
    std::size_t valid = fault ? fault->valid_up_to : bytes.size();
    write_escaped(sink, bytes.substr(0, valid));
    bytes.remove_prefix(valid);
    if (!fault) break;
    std::size_t invalid = fault->error_len ? *fault->error_len : bytes.size();
    for (char c : bytes.substr(0, invalid)) {
      const auto b = static_cast<unsigned char>(c);
      const char hex[] = {'\\', 'x', kHex[b >> 4], kHex[b & 0xF]};
      sink.write(std::string_view(hex, sizeof hex));
    }
    bytes.remove_prefix(invalid);
  }
  sink.write("\"");
  return sink.take();
}

Result<StatsFile, LoadError> StatsFile::open(const std::filesystem::path& path) {
  const std::string& path_text = path.native();
  if (check_utf8(path_text).has_value()) fatal(kPathNotText + path_debug_form(path_text));
  int fd = open_read_only(path_text.c_str());
  if (fd < 0) return Err{LoadError{OsError{errno}}};
  ByteSource source(fd);
  std::string_view extension;
  if (std::optional<std::string_view> found = file_extension(path_text))
    extension = *found;
  else
    fatal("Failed to find extension of '" + path_text + "'");

  // Only these two select a decoder, compared byte for byte: "JSON" does not, nor does the
  // empty extension of a name ending in ".". A missing file has been reported above whatever
  // its name, since the open comes first; an existing directory named like a statistics file
  // gets past here and fails at its first read.
  if (extension == kBincodeExtension) return StatsFile(Encoding::Bincode, std::move(source));
  if (extension == kJsonExtension) return StatsFile(Encoding::Json, std::move(source));
  fatal("Unknown extension '" + std::string(extension) + "'of inputfile " + path_text);
}

Result<StatsRecJson, LoadError> StatsFile::read() && {
  // The decoder consumes the source, so the file is closed as soon as it returns.
  if (encoding_ == Encoding::Bincode) return to_load_result(decode_bincode(std::move(source_)));
  return to_load_result(decode_json(std::move(source_)));
}

std::optional<LoadError> StatsFile::stream(ChainReceiver& receiver) {
  if (encoding_ == Encoding::Bincode) return to_load_error(stream_bincode(source_, receiver));
  return to_load_error(stream_json(source_, receiver));
}

Result<StatsRecJson, LoadError> StatsRecJson::read_file(const std::filesystem::path& path) {
  Result<StatsFile, LoadError> file = StatsFile::open(path);
  if (!file) return Err{std::move(file).error()};
  return std::move(file).value().read();
}

}  // namespace tracemill
