// Pictures: PNG files of converted frames and of library-written blocks of
// every shown data type, byte order and compression, read back with libpng.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "kvxinfo_test_util.h"

namespace {

using namespace kvxinfotest;

// The bytes of `values` as type T in `byte_order`.
template <typename T>
std::string stored(const std::vector<T> &values, int byte_order) {
  std::string bytes(values.size() * sizeof(T), '\0');
  std::memcpy(bytes.data(), values.data(), bytes.size());
  if (byte_order != kvx_byteorder())
    for (size_t i = 0; i < bytes.size(); i += sizeof(T))
      std::reverse(bytes.begin() + static_cast<long>(i),
                   bytes.begin() + static_cast<long>(i + sizeof(T)));
  return bytes;
}

TEST_F(KvxinfoTest, ConvertedFrameBecomesItsPixelsScaledToGrey) {
  const int columns = 24, rows = 10;
  const std::string hm = convert(2, columns, rows, 2);
  const Outcome run = kvxinfo({"--png", "frame2.png", "gasdet001.kvx", "2"});
  ASSERT_EQ(run.exit, 0) << run.err;
  EXPECT_EQ(run.out + run.err, "");

  // Frame 2 of the HM file: unsigned 16-bit pixels, high byte first.
  const size_t pixels = static_cast<size_t>(columns) * rows;
  std::vector<double> values(pixels);
  for (size_t i = 0; i < pixels; ++i) {
    const auto *at = reinterpret_cast<const unsigned char *>(hm.data()) + (pixels + i) * 2;
    values[i] = at[0] * 256.0 + at[1];
  }
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  ASSERT_LT(*low, *high) << "the generated frame is not flat";

  const Png png = read_png(path("frame2.png"));
  ASSERT_TRUE(png.ok);
  ASSERT_EQ(png.width, static_cast<unsigned>(columns));
  ASSERT_EQ(png.height, static_cast<unsigned>(rows));
  for (size_t i = 0; i < pixels; ++i) {
    const long expected = std::lround(255.0 * (values[i] - *low) / (*high - *low));
    ASSERT_EQ(png.grey[i], expected) << "pixel " << i << " of value " << values[i];
  }
}

struct PictureCase {
  const char *name;
  int type;
  int byte_order;
  int compression;
  std::string data;
  std::vector<std::pair<std::string, std::string>> keys;
  bool log;
  std::vector<unsigned char> grey;  // 2 x 2 pixels
};

// Rows of a picture repeated: data too small do not compress, and the
// writer stores no block that does not shrink.
constexpr int Repeats = 256;

template <typename T>
std::string repeated(const T &pattern) {
  std::string all;
  for (int i = 0; i < Repeats; ++i) all += pattern;
  return all;
}

TEST_F(KvxinfoTest, EveryShownTypeOrderAndCompressionIsScaled) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<PictureCase> cases = {
      {"bytes, gzip",
       Unsigned8,
       LowByteFirst,
       GzipCompression,
       stored<uint8_t>({0, 51, 102, 255}, LowByteFirst),
       {},
       false,
       {0, 51, 102, 255}},
      {"signed 16 bits, low byte first, zlib",
       Signed16,
       LowByteFirst,
       ZCompression,
       stored<int16_t>({-100, 0, 100, 155}, LowByteFirst),
       {},
       false,
       {0, 100, 200, 255}},
      {"signed 16 bits, high byte first, gzip",
       Signed16,
       HighByteFirst,
       GzipCompression,
       stored<int16_t>({-100, 0, 100, 155}, HighByteFirst),
       {},
       false,
       {0, 100, 200, 255}},
      {"floats with a dummy, high byte first",
       FloatIEEE32,
       HighByteFirst,
       UnCompressed,
       stored<float>({1, -1, 3, 5}, HighByteFirst),
       {{"Dummy", "-1"}},
       false,
       {0, 0, 128, 255}},
      {"doubles within the dummy tolerance, zlib",
       DoubleIEEE64,
       LowByteFirst,
       ZCompression,
       stored<double>({10, 10.4, 20, 30}, LowByteFirst),
       {{"Dummy", "10"}, {"DDummy", "0.5"}},
       false,
       {0, 0, 0, 255}},
      {"not a number is no pixel",
       DoubleIEEE64,
       HighByteFirst,
       UnCompressed,
       stored<double>({nan, 2, 4, 6}, HighByteFirst),
       {},
       false,
       {0, 0, 128, 255}},
      {"flat image",
       Unsigned32,
       HighByteFirst,
       GzipCompression,
       stored<uint32_t>({7, 7, 7, 7}, HighByteFirst),
       {},
       false,
       {128, 128, 128, 128}},
      {"only dummies",
       Signed32,
       LowByteFirst,
       UnCompressed,
       stored<int32_t>({-1, -1, -1, -1}, LowByteFirst),
       {{"Dummy", "-1"}},
       false,
       {0, 0, 0, 0}},
      {"logarithmic",
       Unsigned16,
       HighByteFirst,
       UnCompressed,
       stored<uint16_t>({0, 1, 3, 255}, HighByteFirst),
       {},
       true,
       {0, 32, 64, 255}},
      {"logarithmic from a negative minimum",
       Signed8,
       LowByteFirst,
       ZCompression,
       stored<int8_t>({-10, -9, -7, 127}, LowByteFirst),
       {},
       true,
       {0, 36, 72, 255}},
      {"64-bit integers",
       Signed64,
       HighByteFirst,
       GzipCompression,
       stored<int64_t>({-(1LL << 40), 0, 1LL << 40, 3LL << 40}, HighByteFirst),
       {},
       false,
       {0, 64, 128, 255}},
      {"unsigned 64-bit integers",
       Unsigned64,
       LowByteFirst,
       UnCompressed,
       stored<uint64_t>({0, 5, 10, 20}, LowByteFirst),
       {},
       false,
       {0, 64, 128, 255}},
  };
  const std::vector<long> dims = {2, 2, 2 * Repeats};
  for (size_t n = 0; n < cases.size(); ++n) {
    const PictureCase &c = cases[n];
    SCOPED_TRACE(std::to_string(n) + ": " + c.name);
    const std::string file = "case" + std::to_string(n) + ".kvx";
    const std::string data = repeated(c.data);
    ASSERT_TRUE(write_image(path(file).string(), 3, dims, data.data(), c.type, c.byte_order, c.keys,
                            c.compression));
    if (c.compression != UnCompressed) {
      ASSERT_NE(read_file(path(file)).find(kvx_compression2string(c.compression)),
                std::string::npos)
          << "the block is stored compressed";
    }
    std::vector<std::string> args = {"--png", "out.png", file, "3"};
    if (c.log) args.insert(args.begin() + 2, "--log");
    const Outcome run = kvxinfo(args);
    ASSERT_EQ(run.exit, 0) << run.err;
    const Png png = read_png(path("out.png"));
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.width, 2u);
    EXPECT_EQ(png.height, 2u * Repeats);
    EXPECT_EQ(std::string(png.grey.begin(), png.grey.end()),
              repeated(std::string(c.grey.begin(), c.grey.end())));
  }
}

TEST_F(KvxinfoTest, AnExistingPictureIsReplacedWhole) {
  const std::vector<uint8_t> pixels = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(
      write_image(path("a.kvx").string(), 1, {1, 6}, pixels.data(), Unsigned8, LowByteFirst));
  write_file(path("out.png"), std::string(100000, 'x'));
  const Outcome run = kvxinfo({"--png", "out.png", "a.kvx", "1"});
  ASSERT_EQ(run.exit, 0) << run.err;
  const Png png = read_png(path("out.png"));
  ASSERT_TRUE(png.ok) << "no bytes of the old file remain";
  EXPECT_EQ(png.width, 6u) << "one-dimensional data are one row";
  EXPECT_EQ(png.height, 1u);
  EXPECT_EQ(png.grey, std::vector<unsigned char>({0, 51, 102, 153, 204, 255}));
  size_t files = 0;
  for ([[maybe_unused]] const auto &entry : fs::directory_iterator(dir_)) ++files;
  EXPECT_EQ(files, 5u) << "a.kvx, out.png and the three streams: no temporary file left";
}

TEST_F(KvxinfoTest, CompressedDataInASeparateFileWithoutAStatedSize) {
  // A 4 x 2 image whose zlib stream fills data.z from position 3 to its end;
  // the header names the file but not the stream's size.
  const std::vector<unsigned char> pixels = {0, 10, 20, 30, 40, 50, 60, 70};
  std::vector<unsigned char> packed(compressBound(pixels.size()));
  uLongf packedSize = packed.size();
  ASSERT_EQ(compress2(packed.data(), &packedSize, pixels.data(), pixels.size(), 9), Z_OK);
  write_file(path("data.z"),
             "abc" + std::string(packed.begin(), packed.begin() + static_cast<long>(packedSize)));
  const std::string text =
      "{\r\nKVX_DataBlockID = 1.Image.Psd ;\r\nKVX_BinarySize = 0 ;\r\n"
      "KVX_BinaryFileName = data.z ;\r\nKVX_BinaryFilePosition = 3 ;\r\nDim_1 = 4 ;\r\n"
      "Dim_2 = 2 ;\r\nDataType = UnsignedByte ;\r\nCompression = ZCompression ;";
  write_file(path("ext.kvx"), text + std::string(512 - text.size() - 4, ' ') + "\r\n}\n");

  const Outcome run = kvxinfo({"--png", "out.png", "ext.kvx", "1"});
  ASSERT_EQ(run.exit, 0) << run.err;
  const Png png = read_png(path("out.png"));
  ASSERT_TRUE(png.ok);
  EXPECT_EQ(png.grey, std::vector<unsigned char>({0, 36, 73, 109, 146, 182, 219, 255}))
      << "the stream is read up to the end of its file";
}

}  // namespace
