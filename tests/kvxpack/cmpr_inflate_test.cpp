// Block decompression: both formats, and a bounded output whatever the
// stream holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmpr.h"
#include "kvxio.h"

namespace {

std::vector<unsigned char> compressible(size_t count) {
  std::vector<unsigned char> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>((i * i) >> 7);
  return bytes;
}

std::vector<unsigned char> deflated(const std::vector<unsigned char> &input, int method) {
  std::vector<unsigned char> out(input.size() + 64);
  size_t converted = 0;
  EXPECT_EQ(
      cmpr_deflate(out.data(), out.size(), input.data(), input.size(), method, &converted, nullptr),
      0);
  out.resize(converted);
  return out;
}

TEST(CmprInflate, StreamsOfBothFormatsComeBackWhole) {
  const std::vector<unsigned char> input = compressible(100000);
  for (const int method : {GzipCompression, ZCompression}) {
    SCOPED_TRACE(method);
    std::vector<unsigned char> stream = deflated(input, method);
    stream.resize(stream.size() + 300, ' ');  // binary padding after the stream
    std::vector<unsigned char> out(input.size());
    size_t converted = 0;
    int errval = -99;
    ASSERT_EQ(cmpr_inflate(out.data(), out.size(), stream.data(), stream.size(), method, &converted,
                           &errval),
              0);
    EXPECT_EQ(errval, 0);
    EXPECT_EQ(converted, input.size());
    EXPECT_EQ(out, input);
  }
}

TEST(CmprInflate, FailuresNameTheirCause) {
  const std::vector<unsigned char> input = compressible(50000);
  const std::vector<unsigned char> gzip = deflated(input, GzipCompression);
  const std::vector<unsigned char> zlib = deflated(input, ZCompression);
  std::vector<unsigned char> damaged = gzip;
  damaged[damaged.size() / 2] ^= 0xff;
  const std::vector<unsigned char> text = {'n', 'o', 't', ' ', 'z', 'i', 'p'};
  struct Case {
    const char *name;
    const std::vector<unsigned char> *stream;
    size_t stream_length;
    int method;
    size_t room;
    int errval;
  };
  const Case cases[] = {
      {"stream holds more than the room", &gzip, gzip.size(), GzipCompression, input.size() - 1,
       -1},
      {"zlib stream holds more than the room", &zlib, zlib.size(), ZCompression, 1000, -1},
      {"stream cut short", &gzip, gzip.size() / 2, GzipCompression, input.size(), -3},
      {"trailer missing", &zlib, zlib.size() - 2, ZCompression, input.size(), -3},
      {"damaged stream", &damaged, damaged.size(), GzipCompression, input.size(), -3},
      {"not a stream", &text, text.size(), ZCompression, 100, -3},
      {"zlib stream read as gzip", &zlib, zlib.size(), GzipCompression, input.size(), -3},
      {"no input", &gzip, 0, GzipCompression, input.size(), -3},
      {"uncompressed is no method", &gzip, gzip.size(), UnCompressed, input.size(), -1},
      {"method 4", &gzip, gzip.size(), 4, input.size(), -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> out(c.room + 16, 0xAA);
    size_t converted = 99;
    int errval = 0;
    EXPECT_EQ(cmpr_inflate(out.data(), c.room, c.stream->data(), c.stream_length, c.method,
                           &converted, &errval),
              -1);
    EXPECT_EQ(errval, c.errval);
    EXPECT_LE(converted, c.room);
    for (size_t i = c.room; i < out.size(); ++i)
      ASSERT_EQ(out[i], 0xAA) << "nothing written beyond the room, byte " << i;
  }
}

TEST(CmprInflate, ExactRoomAndEmptyData) {
  const std::vector<unsigned char> input = compressible(16384 * 3);
  const std::vector<unsigned char> gzip = deflated(input, GzipCompression);
  std::vector<unsigned char> out(input.size());
  EXPECT_EQ(cmpr_inflate(out.data(), out.size(), gzip.data(), gzip.size(), GzipCompression, nullptr,
                         nullptr),
            0)
      << "a stream that fills the room exactly fits";
  EXPECT_EQ(out, input);

  // An empty input compresses to nothing; a stream of no data inflates to
  // nothing with no room at all.
  const std::vector<unsigned char> empty_stream = {0x78, 0x9c, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
  size_t converted = 99;
  EXPECT_EQ(cmpr_inflate(nullptr, 0, empty_stream.data(), empty_stream.size(), ZCompression,
                         &converted, nullptr),
            0);
  EXPECT_EQ(converted, 0u);
}

}  // namespace
