// Pixels read back as numbers from blocks the library wrote: every host
// data type, byte order and compression, and the blocks it refuses.
#include "kvxio_pixels.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include "cmpr.h"
#include "kvxio_test_util.h"

namespace {

using kvxtest::LibraryTest;
using kvxtest::TempDir;

// Rows of a pattern repeated, so that the data shrink when compressed (the
// writer stores no compressed block that does not).
constexpr long Rows = 256;

// Four values of a type: its extremes and two small ones.
template <typename T>
std::vector<T> extremes() {
  using L = std::numeric_limits<T>;
  if constexpr (std::is_floating_point_v<T>)
    return {L::lowest(), T(-1.5), L::denorm_min(), L::max()};
  return {L::lowest(), 0, 1, L::max()};
}

// The values as doubles and the stored bytes of `Rows` repetitions.
struct Sample {
  std::vector<double> values;
  std::string bytes;
};

template <typename T>
Sample sample(int byte_order) {
  Sample s;
  for (const T value : extremes<T>()) s.values.push_back(static_cast<double>(value));
  for (long row = 0; row < Rows; ++row)
    for (const T value : extremes<T>()) {
      char raw[sizeof(T)];
      std::memcpy(raw, &value, sizeof raw);
      if (byte_order != kvx_byteorder()) std::reverse(raw, raw + sizeof raw);
      s.bytes.append(raw, sizeof raw);
    }
  return s;
}

Sample sample_of(int type, int byte_order) {
  switch (type) {
    case Unsigned8:
      return sample<uint8_t>(byte_order);
    case Signed8:
      return sample<int8_t>(byte_order);
    case Unsigned16:
      return sample<uint16_t>(byte_order);
    case Signed16:
      return sample<int16_t>(byte_order);
    case Unsigned32:
      return sample<uint32_t>(byte_order);
    case Signed32:
      return sample<int32_t>(byte_order);
    case Unsigned64:
      return sample<uint64_t>(byte_order);
    case Signed64:
      return sample<int64_t>(byte_order);
    case FloatIEEE32:
      return sample<float>(byte_order);
    default:
      return sample<double>(byte_order);
  }
}

// The values in their own type, as doubles.
std::vector<double> as_doubles(const KvxPixelValues &values) {
  return std::visit([](const auto &v) { return std::vector<double>(v.begin(), v.end()); }, values);
}

bool write(const std::string &name, long image, int type, int byte_order, int compression,
           const std::vector<long> &dims, const void *data) {
  return testsupport::write_kvx_file(
      name, {testsupport::KvxTestImage(image, dims, data).as(type, byte_order)}, "any",
      compression);
}

class PixelsTest : public LibraryTest {
 protected:
  // Reads image `image` of `name` as `type`; the error value.
  int read(const std::string &name, long image, int type, KvxPixels &pixels) {
    const int stream = kvx_open_data_file(name.c_str(), "read", nullptr, nullptr);
    KvxBlockInfo block;
    int error = RoutineSucceeded;
    if (kvx_find_block(stream, image, 1, block, &error, nullptr))
      (void)kvx_read_block_pixels(stream, block, type, pixels, &error, nullptr);
    (void)kvx_close_data_file(stream, nullptr, nullptr);
    return error;
  }
  TempDir dir_;
};

TEST_F(PixelsTest, EveryTypeOrderAndCompressionReadsBackAsWritten) {
  const std::string name = dir_.file("all.kvx");
  long image = 0;
  for (int type = Unsigned8; type <= DoubleIEEE64; ++type)
    for (const int order : {LowByteFirst, HighByteFirst})
      for (const int compression : {UnCompressed, GzipCompression, ZCompression}) {
        ++image;
        SCOPED_TRACE(std::string(kvx_datatype2string(type)) + ", " + ByteOrder2String(order) +
                     ", " + kvx_compression2string(compression));
        const Sample s = sample_of(type, order);
        ASSERT_TRUE(write(name, image, type, order, compression, {2, 4, Rows}, s.bytes.data()));
        std::vector<double> expected;
        for (long row = 0; row < Rows; ++row)
          expected.insert(expected.end(), s.values.begin(), s.values.end());

        KvxPixels own;
        ASSERT_EQ(read(name, image, KvxStoredDataType, own), RoutineSucceeded);
        EXPECT_EQ(own.Layout.Dim, (std::vector<size_t>{4, Rows})) << "the dimensions";
        EXPECT_EQ(own.Layout.Compression, compression) << "the stored compression";
        EXPECT_EQ(own.DataType, type) << "the block's own type";
        EXPECT_EQ(own.Values.index(), static_cast<size_t>(type - 1)) << "the vector of its type";
        EXPECT_EQ(as_doubles(own.Values), expected) << "values in the host's byte order";

        KvxPixels doubles;
        ASSERT_EQ(read(name, image, DoubleIEEE64, doubles), RoutineSucceeded);
        EXPECT_EQ(std::get<std::vector<double>>(doubles.Values), expected) << "as doubles";
      }
}

TEST_F(PixelsTest, EmptyCompressedArraysReadBackEmpty) {
  // The writer stores an empty array without a compressed stream.
  const std::string name = dir_.file("empty.kvx");
  for (const int compression : {GzipCompression, ZCompression}) {
    SCOPED_TRACE(kvx_compression2string(compression));
    const uint16_t none = 0;
    ASSERT_TRUE(write(name, compression, Unsigned16, LowByteFirst, compression, {2, 5, 0}, &none));
    KvxPixels pixels;
    ASSERT_EQ(read(name, compression, KvxStoredDataType, pixels), RoutineSucceeded);
    EXPECT_TRUE(std::get<std::vector<uint16_t>>(pixels.Values).empty()) << "no values";
  }
}

// Replaces `from` by `to` (of the same length) in a file.
void patch(const std::string &name, const std::string &from, const std::string &to) {
  std::string bytes = kvxtest::read_file(name);
  const size_t at = bytes.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  bytes.replace(at, to.size(), to);
  std::ofstream(name, std::ios::binary) << bytes;
}

TEST_F(PixelsTest, BlocksThatCannotBeReadAsAskedFail) {
  const std::vector<uint8_t> zeros(64 * 100000, 0);
  const std::vector<int16_t> shorts = {-1, 2, 300, 4};
  const std::vector<double> doubles = {0.5, 1e300, std::numeric_limits<double>::quiet_NaN(), 4};
  struct Case {
    const char *name;
    int type;
    int compression;
    long rows;
    const void *data;
    std::string from, to;  // a change of the written file
    int read_as;
    int error;
  };
  const std::vector<Case> cases = {
      {"VAX floats", FloatVAX32, UnCompressed, 1, zeros.data(), "", "", DoubleIEEE64,
       DataConversionFailed},
      {"unknown type", Unsigned8, UnCompressed, 1, zeros.data(), "= UnsignedByte", "= UnsignedBite",
       KvxStoredDataType, DataConversionFailed},
      {"unknown byte order", Signed16, UnCompressed, 1, shorts.data(), "LowByteFirst",
       "SidewayFirst", Signed16, DataConversionFailed},
      {"unknown compression", Unsigned8, GzipCompression, 1000, zeros.data(), "GzipCompression",
       "GzipCompressiom", Unsigned8, DataConversionFailed},
      {"asked for a VAX float", Signed16, UnCompressed, 1, shorts.data(), "", "", FloatVAX32,
       DataConversionFailed},
      {"no Dim_1", Signed16, UnCompressed, 1, shorts.data(), "Dim_1", "Dim_X", Signed16,
       CouldNotReadDimension},
      {"negative size", Signed16, UnCompressed, 1, shorts.data(), "Dim_1 = 4 ", "Dim_1 = -4",
       Signed16, CouldNotReadDimension},
      {"data shorter than the array", Signed16, UnCompressed, 1, shorts.data(), "Dim_2 = 1 ;",
       "Dim_2 = 99;", Signed16, BadDataBlock},
      {"stream holds more", Unsigned8, ZCompression, 1000, zeros.data(), "Dim_2 = 1000",
       "Dim_2 = 999 ", Unsigned8, BadDataBlock},
      {"stream holds less", Unsigned8, ZCompression, 1000, zeros.data(), "Dim_2 = 1000",
       "Dim_2 = 1001", Unsigned8, BadDataBlock},
      {"sizes beyond what the stream can hold", Unsigned8, GzipCompression, 100000, zeros.data(),
       "Dim_2 = 100000 ", "Dim_2 = 4000000", Unsigned8, BadDataBlock},
      {"an array beyond the limit", Unsigned8, GzipCompression, 100000, zeros.data(),
       "Dim_2 = 100000 ", "Dim_2 = 9999999", Unsigned8, ImageTooLarge},
      {"negative into unsigned", Signed16, UnCompressed, 1, shorts.data(), "", "", Unsigned32,
       DataConversionFailed},
      {"too large for a byte", Signed16, UnCompressed, 1, shorts.data(), "", "", Signed8,
       DataConversionFailed},
      {"fraction into an integer", DoubleIEEE64, UnCompressed, 1, doubles.data(), "", "", Signed64,
       DataConversionFailed},
      {"too large for a float", DoubleIEEE64, UnCompressed, 1, doubles.data(), "", "", FloatIEEE32,
       DataConversionFailed},
  };
  for (size_t n = 0; n < cases.size(); ++n) {
    const Case &c = cases[n];
    SCOPED_TRACE(c.name);
    const std::string name = dir_.file(std::to_string(n) + ".kvx");
    const long width = c.data == zeros.data() ? 64 : 4;
    ASSERT_TRUE(write(name, 1, c.type, LowByteFirst, c.compression, {2, width, c.rows}, c.data));
    if (!c.from.empty()) patch(name, c.from, c.to);
    KvxPixels pixels;
    EXPECT_EQ(read(name, 1, c.read_as, pixels), c.error);
  }
  // Sizes whose product passes 64 bits, in a header written by hand.
  const std::string text =
      "{\r\nKVX_DataBlockID = 1.Image.Psd ;\r\nKVX_BinarySize = 0 ;\r\nDim_1 = 2000000000 ;"
      "\r\nDim_2 = 2000000000 ;\r\nDim_3 = 2000000000 ;\r\nDataType = Signed64 ;";
  std::ofstream(dir_.file("huge.kvx"), std::ios::binary)
      << text + std::string(512 - text.size() - 4, ' ') + "\r\n}\n";
  KvxPixels pixels;
  EXPECT_EQ(read(dir_.file("huge.kvx"), 1, Signed64, pixels), BadSizeDefinition);
}

}  // namespace

namespace {

TEST_F(PixelsTest, TrueValuesAddTheOffsetStoredValuesOnRequest) {
  const std::vector<uint8_t> stored = {0, 1, 127, 255};
  struct Case {
    std::string offset;  // replaces the written "1000"
    int type;
    bool stored;
    int error;
    int result_type;
    std::vector<double> values;
  };
  const std::vector<Case> cases = {
      {"1000", KvxStoredDataType, true, RoutineSucceeded, Unsigned8, {0, 1, 127, 255}},
      {"1000", KvxStoredDataType, false, RoutineSucceeded, Signed64, {1000, 1001, 1127, 1255}},
      {"1000", Unsigned16, false, RoutineSucceeded, Unsigned16, {1000, 1001, 1127, 1255}},
      {"1000", Unsigned8, false, DataConversionFailed, 0, {}},
      {"-0.5", KvxStoredDataType, false, RoutineSucceeded, DoubleIEEE64, {-0.5, 0.5, 126.5, 254.5}},
      {"-0.5", Signed32, false, DataConversionFailed, 0, {}},
      {"1e+3", KvxStoredDataType, false, RoutineSucceeded, Signed64, {1000, 1001, 1127, 1255}},
      {"0.00", KvxStoredDataType, false, RoutineSucceeded, Unsigned8, {0, 1, 127, 255}},
      {"inf ", KvxStoredDataType, false, NumberConversionFailed, 0, {}},
      {"0x10", KvxStoredDataType, false, NumberConversionFailed, 0, {}},
      {"1+1 ", KvxStoredDataType, false, NumberConversionFailed, 0, {}},
  };
  for (size_t n = 0; n < cases.size(); ++n) {
    const Case &c = cases[n];
    SCOPED_TRACE(c.offset + (c.stored ? ", stored" : ""));
    const std::string name = dir_.file(std::to_string(n) + ".kvx");
    ASSERT_TRUE(
        testsupport::write_kvx_file(name, {testsupport::KvxTestImage(1, {2, 2, 2}, stored.data())
                                               .as(Unsigned8, LowByteFirst)
                                               .offset(1000)}));
    patch(name, "DataValueOffset = 1000", "DataValueOffset = " + c.offset);
    const int file = kvx_open_data_file(name.c_str(), "read", nullptr, nullptr);
    KvxBlockInfo block;
    ASSERT_EQ(kvx_find_block(file, 1, 1, block, nullptr, nullptr), 1);
    KvxPixelRequest request;
    request.DataType = c.type;
    request.Stored = c.stored;
    KvxPixels pixels;
    int error = RoutineSucceeded;
    (void)kvx_read_block_pixels(file, block, request, pixels, &error, nullptr);
    (void)kvx_close_data_file(file, nullptr, nullptr);
    EXPECT_EQ(error, c.error);
    if (c.error != RoutineSucceeded) continue;
    EXPECT_EQ(pixels.DataType, c.result_type);
    EXPECT_EQ(as_doubles(pixels.Values), c.values);
  }
}

TEST(ValueOffset, OnlyPlainDecimalNumbersAreRead) {
  const std::vector<std::pair<std::string, std::optional<double>>> cases = {
      {" +1.5e2 \t", 150.0}, {"-7", -7.0},          {"2E-1", 0.2},           {"1.", std::nullopt},
      {".5", std::nullopt},  {"nan", std::nullopt}, {"1e999", std::nullopt}, {"", std::nullopt},
      {"1 2", std::nullopt}, {"1e", std::nullopt},
  };
  for (const auto &[text, expected] : cases) {
    SCOPED_TRACE("\"" + text + "\"");
    double value = 0;
    EXPECT_EQ(kvx_parse_value_offset(text, value), expected.has_value());
    if (expected) {
      EXPECT_EQ(value, *expected);
    }
  }
}

// gzip of `raw`, by the library's own deflater, as the writer deflates.
std::string gzip(const std::string &raw) {
  std::string out(raw.size() + 1024, '\0');
  size_t converted = 0;
  int errval = 0;
  EXPECT_EQ(cmpr_deflate(out.data(), out.size(), raw.data(), raw.size(), GzipCompression,
                         &converted, &errval),
            0)
      << errval;
  out.resize(converted);
  return out;
}

TEST_F(PixelsTest, AHugeBinarySizeIsNeverReadWhole) {
  // 12 pixels behind a binary size of 3 GiB that the file holds as a hole.
  const std::string text =
      "{\r\nKVX_DataBlockID = 1.Image.Psd ;\r\nKVX_BinarySize = 3221225472 ;\r\nDim_1 = 4 ;"
      "\r\nDim_2 = 3 ;\r\nDataType = UnsignedByte ;\r\nCompression = GzipCompression ;";
  const std::string name = dir_.file("bomb.kvx");
  std::ofstream(name, std::ios::binary) << text + std::string(512 - text.size() - 4, ' ') +
                                               "\r\n}\n" +
                                               gzip(std::string("\1\2\3\4\5\6\7\10\11\12\13\14"));
  ASSERT_EQ(truncate(name.c_str(), 512 + (off_t{3} << 30)), 0);
  // In a child, whose growth of peak resident memory tells how much it read
  // (an address-space limit would not leave the sanitizers room to run).
  // The child starts with the test process's memory: only the growth counts.
  const pid_t child = fork();
  if (child == 0) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    KvxPixels pixels;
    const int error = read(name, 1, KvxStoredDataType, pixels);
    getrusage(RUSAGE_SELF, &after);
    const auto *values = std::get_if<std::vector<uint8_t>>(&pixels.Values);
    _exit(error != RoutineSucceeded                          ? 1
          : values == nullptr || values->size() != 12        ? 2
          : after.ru_maxrss - before.ru_maxrss >= 256L * 1024 ? 3
                                                             : 0);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "1: the read failed; 2: wrong pixels; 3: 256 MiB or more read, far below the 3 GiB "
         "binary size but too much";
}

}  // namespace
