// Block compression: formats, limits and error values.
#include "cmpr.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "kvxio.h"

namespace {

std::vector<unsigned char> random_bytes(size_t count, unsigned seed) {
  std::mt19937 engine(seed);
  std::vector<unsigned char> bytes(count);
  for (auto &byte : bytes) byte = static_cast<unsigned char>(engine());
  return bytes;
}

// Inflates a gzip (window bits 31) or zlib (15) stream.
std::vector<unsigned char> inflate_all(const unsigned char *data, size_t length, int window_bits,
                                       size_t expected_size) {
  std::vector<unsigned char> out(expected_size + 16);
  z_stream stream{};
  EXPECT_EQ(inflateInit2(&stream, window_bits), Z_OK);
  stream.next_in = const_cast<unsigned char *>(data);
  stream.avail_in = static_cast<uInt>(length);
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return out;
}

TEST(Cmpr, BothFormatsInflateBackToTheInput) {
  // Mildly compressible data larger than several 16384-byte steps.
  std::vector<unsigned char> input(100000);
  for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<unsigned char>((i * i) >> 7);
  struct Case {
    int method;
    int window_bits;
    unsigned char first;
    unsigned char second;
  };
  for (const Case &c : {Case{GzipCompression, 31, 0x1f, 0x8b}, Case{ZCompression, 15, 0x78, 0}}) {
    SCOPED_TRACE(c.method);
    std::vector<unsigned char> out(input.size());
    size_t converted = 0;
    int errval = -99;
    ASSERT_EQ(cmpr_deflate(out.data(), out.size(), input.data(), input.size(), c.method, &converted,
                           &errval),
              0);
    EXPECT_EQ(errval, 0);
    ASSERT_GT(converted, 2u);
    ASSERT_LT(converted, input.size());
    EXPECT_EQ(out[0], c.first) << "stream magic";
    if (c.second) {
      EXPECT_EQ(out[1], c.second);
    }
    EXPECT_EQ(inflate_all(out.data(), converted, c.window_bits, input.size()), input);
  }
}

TEST(Cmpr, ZerosShrinkToAGzipStream) {
  std::vector<unsigned char> zeros(100000, 0);
  std::vector<unsigned char> out(zeros.size());
  size_t converted = 0;
  ASSERT_EQ(cmpr_deflate(out.data(), out.size(), zeros.data(), zeros.size(), GzipCompression,
                         &converted, nullptr),
            0);
  EXPECT_LT(converted, 1000u);
  EXPECT_EQ(out[0], 0x1f);
  EXPECT_EQ(out[1], 0x8b);
}

TEST(Cmpr, FailuresReportTheirErrorValue) {
  auto noise = random_bytes(1000, 7);
  std::vector<unsigned char> out(1000);
  struct Case {
    const char *what;
    const void *inp;
    size_t inplen;
    void *outp;
    size_t outlen;
    int method;
    int result;
    int errval;
  };
  const std::vector<Case> cases = {
      {"empty input", noise.data(), 0, out.data(), out.size(), GzipCompression, 0, 0},
      {"absent input", nullptr, 1000, out.data(), out.size(), ZCompression, 0, 0},
      {"method 1", noise.data(), noise.size(), out.data(), out.size(), UnCompressed, -1, -1},
      {"method 4", noise.data(), noise.size(), out.data(), out.size(), 4, -1, -1},
      {"random data", noise.data(), noise.size(), out.data(), out.size(), GzipCompression, -1, -1},
      {"random data, zlib", noise.data(), noise.size(), out.data(), out.size(), ZCompression, -1,
       -1},
      {"absent output", noise.data(), noise.size(), nullptr, 1000, GzipCompression, -1, -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    size_t converted = 12345;
    int errval = -99;
    ::testing::internal::CaptureStderr();
    int result = cmpr_deflate(c.outp, c.outlen, c.inp, c.inplen, c.method, &converted, &errval);
    std::string message = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(errval, c.errval);
    if (c.result == 0) {
      EXPECT_EQ(converted, 0u);
      EXPECT_EQ(message, "");
    } else {
      EXPECT_LE(converted, c.outlen);
      EXPECT_EQ(message, std::string("cmpr_deflate: error reading or writing data buffer (") +
                             cmpr_version() + ")\n");
    }
  }
  EXPECT_EQ(
      cmpr_deflate(out.data(), out.size(), noise.data(), 0, GzipCompression, nullptr, nullptr), 0)
      << "the out-parameters may be absent";
}

TEST(Cmpr, ErrorTextsAndVersion) {
  const std::vector<std::pair<int, std::string>> cases = {
      {-1, "error reading or writing data buffer"},
      {-2, "invalid compression level"},
      {-3, "invalid or incomplete deflate data"},
      {-4, "out of memory"},
      {-6, "zlib version mismatch!"},
      {-5, ""},
      {0, ""},
  };
  for (const auto &[value, text] : cases) {
    SCOPED_TRACE(value);
    EXPECT_EQ(cmpr_errval2string(value), text);
  }
  EXPECT_EQ(std::string(cmpr_version()),
            std::string("cmpr : V1.2 Ardeny 2011-01-20 -- zlib : ") + zlibVersion());
}

}  // namespace
