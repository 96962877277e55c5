// Test inputs compressed as gzip: `text` as one member, written by zlib's own deflate.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

namespace tracemill::test_util {

inline std::string gzip(const std::string& text) {
  z_stream stream{};
  EXPECT_EQ(
      deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY),
      Z_OK);
  std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

}  // namespace tracemill::test_util
