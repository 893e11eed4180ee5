// Block write-out: layout, sizes, padding, key order, rewrites, general
// block and compression.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "kvxio.h"
#include "kvxio_test_util.h"

namespace {

using kvxtest::header_entries;
using kvxtest::header_keys;
using kvxtest::read_file;

class KvxWrite : public ::testing::Test {
 protected:
  void SetUp() override { kvx_reset_settings(); }
  void TearDown() override {
    if (stream_ >= 0) (void)kvx_close_data_file(stream_, nullptr, nullptr);
    kvx_reset_settings();
  }
  int open_new(const std::string &name) {
    int error = -99;
    stream_ = kvx_open_data_file(dir_.file(name).c_str(), "new", &error, nullptr);
    EXPECT_GE(stream_, 0) << "open failed with " << error;
    return stream_;
  }
  void close() {
    int error = -99;
    EXPECT_EQ(kvx_close_data_file(stream_, &error, nullptr), 1) << "close error " << error;
    stream_ = -1;
  }
  std::string contents(const std::string &name) { return read_file(dir_.file(name)); }

  kvxtest::TempDir dir_;
  int stream_ = -1;
};

std::vector<uint16_t> image(size_t count) {
  std::vector<uint16_t> data(count);
  for (size_t i = 0; i < count; ++i) data[i] = static_cast<uint16_t>(i * 7 + 1);
  return data;
}

TEST_F(KvxWrite, WorkedExampleIsReproducedByteForByte) {
  int stream = open_new("example.kvx");
  const long dim[] = {2, 100, 100};
  auto data = image(10000);
  int error = -99, status = -99;
  ASSERT_EQ(kvx_write_header_line(stream, 1, 1, "Title", "test", &error, &status), 1);
  EXPECT_EQ(error, RoutineSucceeded);
  EXPECT_EQ(status, Success);
  ASSERT_EQ(kvx_write_data_raw(stream, 1, 1, dim, data.data(), Unsigned16, 0, HighByteFirst, 1,
                               &error, &status),
            1)
      << error;
  ASSERT_EQ(kvx_write_data_raw(stream, 2, 1, dim, data.data(), Unsigned16, 0, HighByteFirst, 1,
                               &error, &status),
            1)
      << error;
  close();

  std::string entries =
      "{\r\n"
      "KVX_DataBlockID = 1.Image.Psd ;\r\n"
      "KVX_BinarySize = 20480 ;\r\n"
      "KVX_HeaderSize = 8192 ;\r\n"
      "ByteOrder = HighByteFirst ;\r\n"
      "DataType = UnsignedShort ;\r\n"
      "Dim_1 = 100 ;\r\n"
      "Dim_2 = 100 ;\r\n"
      "Title = test ;\r\n"
      "HeaderID = EH:000001:000000:000000 ;\r\n"
      "Compression = None ;\r\n"
      "Image = 1 ;\r\n"
      "Size = 20480 ;\r\n";
  std::string padding;
  for (int line = 0; line < 98; ++line) padding += std::string(78, ' ') + "\r\n";
  padding += std::string(69, ' ');
  std::string expected = entries + padding + "\r\n}\n";
  ASSERT_EQ(expected.size(), 8192u);
  expected.append(reinterpret_cast<const char *>(data.data()), 20000);
  expected.append(480, ' ');

  std::string file = contents("example.kvx");
  ASSERT_EQ(file.size(), 2u * 28672u);
  EXPECT_EQ(file.substr(0, 28672), expected);
  EXPECT_EQ(file.substr(28672, 33), "{\r\nKVX_DataBlockID = 2.Image.Psd ");
  auto second = header_entries(file, 28672);
  EXPECT_EQ(second["HeaderID"], "EH:000002:000000:000000");
  EXPECT_EQ(second["Image"], "2");
}

}  // namespace
