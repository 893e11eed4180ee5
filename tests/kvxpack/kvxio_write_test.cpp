// Block write-out: layout, sizes, padding, key order, rewrites, general
// block and compression.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "kvxio_internal.h"
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
  for (int line = 0; line < 98; ++line) padding.append(78, ' ').append("\r\n");
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

// Text length of the header at `start`: begin, entries, end (no padding).
size_t header_text_length(const std::string &file, size_t start) {
  size_t end = file.find("\r\n}\n", start);
  size_t last_entry = file.rfind(" ;\r\n", end);
  return last_entry + 4 - start + 4;
}

// Writes image 1 (no data) with key "Fill*" values that make its header text
// exactly `target` bytes long; returns the file.
std::string header_of_text_length(kvxtest::TempDir &dir, size_t target) {
  auto write = [&dir](const std::string &name, size_t fills, size_t last) {
    int stream = kvx_open_data_file(dir.file(name).c_str(), "new", nullptr, nullptr);
    for (size_t i = 0; i < fills; ++i) {
      std::string key = "Fill" + std::to_string(100 + i);
      EXPECT_EQ(kvx_write_header_line(stream, 1, 1, key.c_str(), std::string(200, 'f').c_str(),
                                      nullptr, nullptr),
                1);
    }
    EXPECT_EQ(kvx_write_header_line(stream, 1, 1, "FillZZZ", std::string(last, 'z').c_str(),
                                    nullptr, nullptr),
              1);
    EXPECT_EQ(kvx_close_data_file(stream, nullptr, nullptr), 1);
    return read_file(dir.file(name));
  };
  size_t base = header_text_length(write("probe.kvx", 0, 1), 0);
  const size_t per_fill = 7 + 200 + 7;  // "Fill100 = " ... " ;" CR LF
  size_t fills = (target - base) / per_fill;
  size_t last = 1 + (target - base) - fills * per_fill;
  std::string file = write("target.kvx", fills, last);
  EXPECT_EQ(header_text_length(file, 0), target);
  return file;
}

TEST_F(KvxWrite, HeaderSizeIsTheSmallestFittingMultipleOfTheBoundary) {
  kvx_headersize(0);  // the number would change the text length
  struct Case {
    size_t text;
    size_t header;
  };
  for (const Case &c :
       {Case{8192, 8192}, Case{8191, 8192}, Case{8190, 8192}, Case{8193, 8704}, Case{9000, 9216}}) {
    SCOPED_TRACE(c.text);
    std::string file = header_of_text_length(dir_, c.text);
    ASSERT_EQ(file.size(), c.header) << "a block without data has no binary section";
    EXPECT_EQ(file.substr(c.header - 4), "\r\n}\n");
    auto entries = header_entries(file, 0);
    EXPECT_EQ(entries.count("KVX_HeaderSize"), 0u);
    // The padding is spaces with a line end after every 78 of them.
    std::string padding = file.substr(c.text - 4, c.header - c.text);
    for (size_t i = 0; i < padding.size(); ++i) {
      bool line_end = padding.size() >= 2 && i < padding.size() - 2 && i % 80 >= 78;
      EXPECT_EQ(padding[i], line_end ? (i % 80 == 78 ? '\r' : '\n') : ' ') << "at " << i;
    }
  }
}

TEST_F(KvxWrite, HeaderSizeKeyHoldsTheFinalSize) {
  std::string file = header_of_text_length(dir_, 8193);
  EXPECT_EQ(header_entries(file, 0)["KVX_HeaderSize"], "8704");
  EXPECT_EQ(file.size(), 8704u);
}

TEST_F(KvxWrite, BinarySizeRoundsUpToTheBoundary) {
  int stream = open_new("sizes.kvx");
  struct Case {
    long columns;
    long rows;
    int type;
    uint64_t binary;
  };
  const std::vector<Case> cases = {
      {256, 1, Unsigned16, 512}, {256, 4, Unsigned16, 2048},    {257, 1, Unsigned16, 1024},
      {1, 1, Unsigned8, 512},    {0, 5, Unsigned16, 0},         {3, -1, Unsigned16, 0},
      {128, 1, Unsigned32, 512}, {100, 100, Unsigned32, 40448},
  };
  std::vector<uint32_t> data(100 * 100, 0x41424344);
  for (size_t i = 0; i < cases.size(); ++i) {
    const long dim[] = {2, cases[i].columns, cases[i].rows};
    ASSERT_EQ(kvx_write_data_raw(stream, static_cast<long>(i + 1), 1, dim, data.data(),
                                 cases[i].type, 0, LowByteFirst, 1, nullptr, nullptr),
              1);
  }
  close();
  std::string file = contents("sizes.kvx");
  size_t position = 0;
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    size_t end = 0;
    auto entries = header_entries(file, position, &end);
    ASSERT_EQ(end, position + 8192);
    EXPECT_EQ(entries["KVX_BinarySize"], std::to_string(cases[i].binary));
    EXPECT_EQ(entries["Size"], std::to_string(cases[i].binary));
    EXPECT_EQ(entries["KVX_DataBlockID"], std::to_string(i + 1) + ".Image.Psd");
    uint64_t data_bytes = cases[i].columns > 0 && cases[i].rows > 0
                              ? static_cast<uint64_t>(cases[i].columns * cases[i].rows) *
                                    kvx_data_sizeof(cases[i].type)
                              : 0;
    EXPECT_EQ(file.substr(end + data_bytes, cases[i].binary - data_bytes),
              std::string(cases[i].binary - data_bytes, ' '))
        << "binary padding is spaces";
    position = end + cases[i].binary;
  }
  EXPECT_EQ(position, file.size());
}

TEST_F(KvxWrite, OptionalKeysAppearOnlyWhenNotDefault) {
  int stream = open_new("keys.kvx");
  const long dim[] = {1, 4};
  const uint16_t data[4] = {1, 2, 3, 4};
  ASSERT_EQ(kvx_write_data_raw(stream, 1, 1, dim, data, Unsigned16, 0, HighByteFirst, 1, nullptr,
                               nullptr),
            1);
  ASSERT_EQ(
      kvx_write_data_raw(stream, 2, -1, dim, data, Signed16, -5, LowByteFirst, 3, nullptr, nullptr),
      1);
  close();
  std::string file = contents("keys.kvx");
  EXPECT_EQ(
      header_keys(file, 0),
      (std::vector<std::string>{"KVX_DataBlockID", "KVX_BinarySize", "KVX_HeaderSize", "ByteOrder",
                                "DataType", "Dim_1", "HeaderID", "Compression", "Image", "Size"}));
  auto second = header_entries(file, 8192 + 512);
  EXPECT_EQ(second["KVX_DataBlockID"], "2.Image.Error");
  EXPECT_EQ(second["Image.Error"], "2");
  EXPECT_EQ(second["DataValueOffset"], "-5");
  EXPECT_EQ(second["DataRasterConfiguration"], "3");
  EXPECT_EQ(second["DataType"], "SignedShort");
  EXPECT_EQ(second["ByteOrder"], "LowByteFirst");
  EXPECT_EQ(second["HeaderID"], "EH:000002:000000:000000");
}

TEST_F(KvxWrite, KeysFollowTheKeyOrderTable) {
  int stream = open_new("order.kvx");
  for (const char *key : {"Zeta", "HS32Len", "History-1", "Center_1", "Offset_2", "Dummy",
                          "WaveLength", "Title~Odd", "Time", "SampleDistance", "abc"})
    ASSERT_EQ(kvx_write_header_line(stream, 1, 1, key, "1", nullptr, nullptr), 1);
  const long dim[] = {0};
  ASSERT_EQ(kvx_write_data_raw(stream, 1, 1, dim, nullptr, Unsigned16, 0, HighByteFirst, 1, nullptr,
                               nullptr),
            1);
  close();
  EXPECT_EQ(header_keys(contents("order.kvx"), 0), (std::vector<std::string>{"KVX_DataBlockID",
                                                                             "KVX_BinarySize",
                                                                             "KVX_HeaderSize",
                                                                             "ByteOrder",
                                                                             "DataType",
                                                                             "Time",
                                                                             "Dummy",
                                                                             "Offset_2",
                                                                             "Center_1",
                                                                             "SampleDistance",
                                                                             "WaveLength",
                                                                             "History-1",
                                                                             "HS32Len",
                                                                             "HeaderID",
                                                                             "abc",
                                                                             "Compression",
                                                                             "Image",
                                                                             "Size",
                                                                             "Title~Odd",
                                                                             "Zeta"}));
}

TEST_F(KvxWrite, LongTitleStandsInOrderAndReadsBack) {
  int stream = open_new("title.kvx");
  std::string title;
  for (int i = 0; i < 600; ++i) title.push_back(static_cast<char>('A' + i % 26));
  title[100] = ';';
  title[300] = '}';
  ASSERT_EQ(kvx_write_header_line(stream, 1, 1, "Title", title.c_str(), nullptr, nullptr), 1);
  const long dim[] = {0};
  ASSERT_EQ(kvx_write_data_raw(stream, 1, 1, dim, nullptr, Unsigned16, 0, HighByteFirst, 1, nullptr,
                               nullptr),
            1);
  close();
  std::string file = contents("title.kvx");
  auto keys = header_keys(file, 0);
  ASSERT_EQ(keys.size(), 12u);
  EXPECT_EQ(keys[5], "Title") << "at its place in the key order table";
  EXPECT_EQ(std::vector<std::string>(keys.end() - 2, keys.end()),
            (std::vector<std::string>{"Title~1", "Title~2"}));
  auto entries = header_entries(file, 0);
  EXPECT_EQ(kvxtest::decode_value(entries["Title"]) + kvxtest::decode_value(entries["Title~1"]) +
                kvxtest::decode_value(entries["Title~2"]),
            title);
}

TEST_F(KvxWrite, HeaderOnlyBlockIsWrittenWhenAnotherImageIsAddressed) {
  int stream = open_new("five.kvx");
  ASSERT_EQ(kvx_write_header_line(stream, 5, 1, "Title", "five", nullptr, nullptr), 1);
  EXPECT_EQ(contents("five.kvx").size(), 0u) << "values wait for the block write";
  ASSERT_EQ(kvx_write_header_long(stream, 6, 1, "Count", 6, nullptr, nullptr), 1);
  std::string file = contents("five.kvx");
  ASSERT_EQ(file.size(), 8192u);
  auto entries = header_entries(file, 0);
  EXPECT_EQ(entries["KVX_DataBlockID"], "5.Image.Psd");
  EXPECT_EQ(entries["Size"], "0");
  EXPECT_EQ(entries["KVX_BinarySize"], "0");
  close();
  file = contents("five.kvx");
  ASSERT_EQ(file.size(), 16384u) << "close writes the active block";
  EXPECT_EQ(header_entries(file, 8192)["Count"], "6");
  EXPECT_EQ(header_entries(file, 8192)["HeaderID"], "EH:000002:000000:000000");
}

TEST_F(KvxWrite, RewriteInPlaceOnlyWhenItFits) {
  int stream = open_new("rewrite.kvx");
  std::vector<uint16_t> data = image(100 * 100);
  const long big[] = {2, 100, 100};
  const long small[] = {2, 50, 50};
  const long bigger[] = {2, 100, 103};
  ASSERT_EQ(kvx_write_data_raw(stream, 3, 1, big, data.data(), Unsigned16, 0, HighByteFirst, 1,
                               nullptr, nullptr),
            1);
  ASSERT_EQ(kvx_write_data_raw(stream, 4, 1, big, data.data(), Unsigned16, 0, HighByteFirst, 1,
                               nullptr, nullptr),
            1);
  std::vector<uint16_t> other(50 * 50, 0x7777);
  ASSERT_EQ(kvx_write_data_raw(stream, 3, 1, small, other.data(), Unsigned16, 0, HighByteFirst, 1,
                               nullptr, nullptr),
            1);
  std::string file = contents("rewrite.kvx");
  ASSERT_EQ(file.size(), 2u * 28672u) << "the rewrite stays in place";
  auto entries = header_entries(file, 0);
  EXPECT_EQ(entries["Dim_1"], "50");
  EXPECT_EQ(entries["KVX_BinarySize"], "20480") << "the old binary size is kept";
  EXPECT_EQ(entries["HeaderID"], "EH:000001:000000:000000");
  EXPECT_EQ(file.substr(8192, 5000), std::string(reinterpret_cast<char *>(other.data()), 5000));
  EXPECT_EQ(file.substr(8192 + 5000, 15480), std::string(15480, ' '));
  EXPECT_EQ(header_entries(file, 28672)["Dim_1"], "100") << "image 4 is untouched";

  // Data that no longer fit fail and leave the file as it was.
  std::vector<uint16_t> large(100 * 103, 0x5555);
  int error = -99, status = -99;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(kvx_write_data_raw(stream, 3, 1, bigger, large.data(), Unsigned16, 0, HighByteFirst, 1,
                               &error, &status),
            0);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(error, WriteDataError);
  EXPECT_EQ(status, ExternalErrorReport);
  EXPECT_EQ(contents("rewrite.kvx"), file);
  // The bad block is never tried again: writing it fails at once, the
  // file closes, and the next image still goes to the end.
  EXPECT_EQ(kvx_write_data_raw(stream, 3, 1, small, other.data(), Unsigned16, 0, HighByteFirst, 1,
                               &error, nullptr),
            0);
  EXPECT_EQ(error, WriteDataError);
  EXPECT_EQ(contents("rewrite.kvx"), file);
  ASSERT_EQ(kvx_write_data_raw(stream, 5, 1, big, data.data(), Unsigned16, 0, HighByteFirst, 1,
                               &error, nullptr),
            1)
      << error;
  close();
  std::string after = contents("rewrite.kvx");
  EXPECT_EQ(after.substr(0, file.size()), file);
  EXPECT_EQ(header_entries(after, 2 * 28672)["HeaderID"], "EH:000003:000000:000000");
}

TEST_F(KvxWrite, GeneralBlockCountsTheDataBlocksInPlace) {
  kvx_general_block(1);
  int stream = open_new("general.kvx");
  const long dim[] = {1, 256};
  std::vector<uint16_t> data(256, 9);
  for (long image_number = 1; image_number <= 3; ++image_number) {
    ASSERT_EQ(kvx_write_data_raw(stream, image_number, 1, dim, data.data(), Unsigned16, 0,
                                 HighByteFirst, 1, nullptr, nullptr),
              1);
    std::string file = contents("general.kvx");
    SCOPED_TRACE(image_number);
    EXPECT_NE(file.find("KVX_DataBlocks = " + std::to_string(image_number) + std::string(11, ' ') +
                        " ;\r\n"),
              std::string::npos)
        << "count rewritten after each block";
  }
  close();
  std::string file = contents("general.kvx");
  ASSERT_EQ(file.size(), 8192u + 3 * (8192 + 512));
  EXPECT_EQ(
      header_keys(file, 0),
      (std::vector<std::string>{"KVX_DataFormatVersion", "KVX_DataBlocks", "KVX_BlockBoundary",
                                "KVX_HeaderSize", "KVX_DataKey-1", "HeaderID", "Size"}));
  auto general = header_entries(file, 0);
  EXPECT_EQ(general["KVX_DataFormatVersion"], "2.40");
  EXPECT_EQ(general["KVX_BlockBoundary"], "512");
  EXPECT_EQ(general["KVX_DataKey-1"], "Image.Psd");
  EXPECT_EQ(general["HeaderID"], "EH:000001:000000:000000");
  EXPECT_EQ(header_entries(file, 8192)["HeaderID"], "EH:000002:000000:000000");
  EXPECT_EQ(header_entries(file, 8192 + 2 * 8704)["HeaderID"], "EH:000004:000000:000000");
}

TEST_F(KvxWrite, CompressedBlocksInflateBackToTheData) {
  std::vector<uint16_t> data(200 * 200);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint16_t>(i % 97);
  struct Case {
    int compression;
    const char *name;
    int window_bits;
  };
  for (const Case &c :
       {Case{GzipCompression, "GzipCompression", 31}, Case{ZCompression, "ZCompression", 15}}) {
    SCOPED_TRACE(c.name);
    kvx_set_datacompression(c.compression);
    std::string name = std::string(c.name) + ".kvx";
    int stream = open_new(name);
    const long dim[] = {2, 200, 200};
    ASSERT_EQ(kvx_write_data_raw(stream, 1, 1, dim, data.data(), Unsigned16, 0, LowByteFirst, 1,
                                 nullptr, nullptr),
              1);
    close();
    std::string file = contents(name);
    auto entries = header_entries(file, 0);
    EXPECT_EQ(entries["Compression"], c.name);
    uint64_t binary = std::stoull(entries["KVX_BinarySize"]);
    EXPECT_LT(binary, data.size() * 2);
    ASSERT_EQ(file.size(), 8192 + binary);

    std::vector<uint16_t> back(data.size() + 8);
    z_stream zs{};
    ASSERT_EQ(inflateInit2(&zs, c.window_bits), Z_OK);
    zs.next_in = reinterpret_cast<Bytef *>(file.data() + 8192);
    zs.avail_in = static_cast<uInt>(binary);
    zs.next_out = reinterpret_cast<Bytef *>(back.data());
    zs.avail_out = static_cast<uInt>(back.size() * 2);
    EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(zs.total_out, data.size() * 2);
    inflateEnd(&zs);
    back.resize(data.size());
    EXPECT_EQ(back, data);
  }
}

TEST_F(KvxWrite, IncompressibleDataFailAndMarkTheBlockBad) {
  kvx_set_datacompression(GzipCompression);
  int stream = open_new("noise.kvx");
  std::mt19937 engine(3);
  std::vector<uint16_t> noise(64 * 64);
  for (auto &value : noise) value = static_cast<uint16_t>(engine());
  const long dim[] = {2, 64, 64};
  int error = -99, status = -99;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(kvx_write_data_raw(stream, 1, 1, dim, noise.data(), Unsigned16, 0, LowByteFirst, 1,
                               &error, &status),
            0);
  std::string messages = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(error, RoutineFailed);
  EXPECT_EQ(status, ExternalErrorReport);
  EXPECT_NE(messages.find("ERROR: put_compressed_block cmpr_deflate (errval=-1)\n"),
            std::string::npos);
  kvxio::Data_File &file = *kvxio::file_entry(stream);
  EXPECT_TRUE(kvxio::search_block(*kvxio::search_chain(file, "Image.Psd"), "1")->Flags.BadBlock);
  close();  // the bad block is not tried again
  EXPECT_EQ(contents("noise.kvx").size(), 0u);
}

TEST_F(KvxWrite, BadArgumentsAreRejectedWithoutWriting) {
  int stream = open_new("bad.kvx");
  const uint16_t data[4] = {};
  const long huge[] = {3, 4294967296L, 4294967296L, 2};
  const long fine[] = {1, 4};
  struct Case {
    const char *what;
    int stream;
    int chain;
    const long *dim;
    const void *data;
    int error;
  };
  const std::vector<Case> cases = {
      {"negative stream", -1, 1, fine, data, InvalidStream},
      {"stream 20", 20, 1, fine, data, InvalidStream},
      {"stream not open", 19, 1, fine, data, NoFileOpen},
      {"size overflows", stream, 1, huge, data, BadSizeDefinition},
      {"no data buffer", stream, 1, fine, nullptr, CouldNotGetBinaryArray},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    int error = -99, status = -99;
    EXPECT_EQ(kvx_write_data_raw(c.stream, 1, c.chain, c.dim, c.data, Unsigned16, 0, HighByteFirst,
                                 1, &error, &status),
              0);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(status, ExternalErrorReport);
  }
  close();
  EXPECT_EQ(contents("bad.kvx").size(), 0u);
}

TEST_F(KvxWrite, FileTableHoldsTwentyFiles) {
  std::vector<int> streams;
  for (int i = 0; i < 20; ++i) {
    int stream =
        kvx_open_data_file(dir_.file("f" + std::to_string(i)).c_str(), "new", nullptr, nullptr);
    ASSERT_EQ(stream, i) << "the lowest free entry";
    streams.push_back(stream);
  }
  int error = -99, status = -99;
  EXPECT_EQ(kvx_open_data_file(dir_.file("f20").c_str(), "new", &error, &status), -1);
  EXPECT_EQ(error, NoMoreStreamsAvailable);
  EXPECT_EQ(status, ExternalErrorReport);
  ASSERT_EQ(kvx_close_data_file(7, nullptr, nullptr), 1);
  EXPECT_EQ(kvx_open_data_file(dir_.file("again").c_str(), "new", nullptr, nullptr), 7);
  for (int stream : streams) EXPECT_EQ(kvx_close_data_file(stream, nullptr, nullptr), 1);
}

TEST_F(KvxWrite, OpenAndCloseEdgeCases) {
  int error = -99, status = -99;
  EXPECT_EQ(kvx_open_data_file(dir_.file("no/such/dir.kvx").c_str(), "new", &error, &status), -1);
  EXPECT_EQ(error, CouldNotOpenFile);
  EXPECT_EQ(status, ExternalErrorReport);
  EXPECT_EQ(kvx_open_data_file(dir_.file("x.kvx").c_str(), "bogus", &error, nullptr), -1);
  EXPECT_EQ(error, CouldNotOpenFile);
  EXPECT_EQ(kvx_open_data_file(nullptr, "new", &error, nullptr), -1);
  EXPECT_EQ(error, CouldNotOpenFile);
  for (int stream : {25, -1, 3}) {
    SCOPED_TRACE(stream);
    EXPECT_EQ(kvx_close_data_file(stream, &error, &status), 1) << "nothing to close";
    EXPECT_EQ(error, RoutineSucceeded);
    EXPECT_EQ(status, Success);
  }
  // "new" empties an existing file; closing at once leaves it empty.
  {
    std::FILE *old = std::fopen(dir_.file("old.kvx").c_str(), "wb");
    std::fputs("old contents", old);
    std::fclose(old);
  }
  open_new("old.kvx");
  close();
  EXPECT_EQ(contents("old.kvx"), "");
}

TEST_F(KvxWrite, TemporaryFilesStayInMemory) {
  int error = -99;
  int stream = kvx_open_data_file("scratch", "temp", &error, nullptr);
  ASSERT_GE(stream, 0) << error;
  const long dim[] = {1, 4};
  const uint16_t data[4] = {1, 2, 3, 4};
  ASSERT_EQ(kvx_write_header_line(stream, 1, 1, "Title", "kept", nullptr, nullptr), 1);
  ASSERT_EQ(
      kvx_write_data_raw(stream, 1, 1, dim, data, Unsigned16, 0, HighByteFirst, 1, &error, nullptr),
      1)
      << error;
  kvxio::Data_File &file = *kvxio::file_entry(stream);
  kvxio::Data_Block *block = kvxio::search_block(*kvxio::search_chain(file, "Image.Psd"), "1");
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(block->Flags.InternalHeader);
  EXPECT_EQ(kvxio::search_symbol(*block, "Title")->Value, "kept") << "header kept in memory";
  EXPECT_EQ(kvxio::search_symbol(*block, "Size")->Value, "512");
  EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
  EXPECT_FALSE(std::filesystem::exists("scratch"));
}

TEST_F(KvxWrite, WrittenBlocksKeepNoHeaderOrDataInMemory) {
  int stream = open_new("memory.kvx");
  std::vector<uint16_t> data = image(100 * 100);
  const long dim[] = {2, 100, 100};
  ASSERT_EQ(kvx_write_header_line(stream, 1, 1, "Title", "t", nullptr, nullptr), 1);
  ASSERT_EQ(kvx_write_data_raw(stream, 1, 1, dim, data.data(), Unsigned16, 0, HighByteFirst, 1,
                               nullptr, nullptr),
            1);
  kvxio::Data_File &file = *kvxio::file_entry(stream);
  kvxio::Data_Block *block = kvxio::search_block(*kvxio::search_chain(file, "Image.Psd"), "1");
  EXPECT_TRUE(block->SymbolList.empty());
  EXPECT_EQ(block->Data, nullptr);
  EXPECT_TRUE(block->Raw.empty());
  EXPECT_TRUE(block->Flags.HeaderExternal);
  EXPECT_TRUE(block->Flags.DataExternal);
  EXPECT_TRUE(block->Flags.DiskBlockFixed);
  EXPECT_EQ(block->TextPos, 0u);
  EXPECT_EQ(block->BinaryPos, 8192u);
  EXPECT_EQ(file.LastBlockInFile, block);
  EXPECT_EQ(file.NextSequenceNumber, 2u);
  EXPECT_EQ(file.ActiveBlock, nullptr);
}

TEST_F(KvxWrite, GeneralBlockTakesValuesOnlyBeforeTheFirstImage) {
  kvx_general_block(1);
  int stream = open_new("chain0.kvx");
  int error = -99;
  ASSERT_EQ(kvx_write_header_line(stream, 0, 0, "Title", "whole file", &error, nullptr), 1);
  const long dim[] = {1, 2};
  const uint16_t data[2] = {1, 2};
  ASSERT_EQ(kvx_write_data_raw(stream, 1, 1, dim, data, Unsigned16, 0, HighByteFirst, 1, nullptr,
                               nullptr),
            1);
  EXPECT_EQ(kvx_write_header_line(stream, 0, 0, "Late", "x", &error, nullptr), 0);
  EXPECT_EQ(error, GeneralBlockNotFirst);
  close();
  std::string file = contents("chain0.kvx");
  EXPECT_EQ(header_entries(file, 0)["Title"], "whole file");
  EXPECT_EQ(header_entries(file, 0).count("Late"), 0u);
  EXPECT_EQ(header_entries(file, 8192)["KVX_DataBlockID"], "1.Image.Psd");
}

TEST_F(KvxWrite, DebugSwitchTracesTheCalls) {
  int stream = open_new("trace.kvx");
  const long dim[] = {1, 2};
  const uint16_t data[2] = {1, 2};
  kvxio_debug(1);
  ::testing::internal::CaptureStdout();
  bool written = kvx_write_data_raw(stream, 1, 1, dim, data, Unsigned16, 0, HighByteFirst, 1,
                                    nullptr, nullptr) == 1;
  bool failed = kvx_write_data_raw(-1, 1, 1, dim, data, Unsigned16, 0, HighByteFirst, 1, nullptr,
                                   nullptr) == 0;
  std::string trace = ::testing::internal::GetCapturedStdout();
  kvxio_debug(0);
  EXPECT_TRUE(written);
  EXPECT_TRUE(failed);
  EXPECT_EQ(trace,
            "kvx_write_data_raw BEGIN\nkvx_write_data_raw END\n"
            "kvx_write_data_raw BEGIN\nkvx_write_data_raw: \nInvalidStream\n"
            "kvx_write_data_raw END (status=100)\n");
}

TEST_F(KvxWrite, GeneralBlockBoundaryMustBeUsable) {
  kvx_general_block(1);
  struct Case {
    const char *stated;
    const char *kept;
    size_t first_image;
  };
  for (const Case &c :
       {Case{"1024", "1024", 8192}, Case{"0", "512", 8192}, Case{"-512", "512", 8192},
        Case{"2000000", "512", 8192}, Case{"12x", "512", 8192}}) {
    SCOPED_TRACE(c.stated);
    int stream = open_new("boundary.kvx");
    ASSERT_EQ(kvx_write_header_line(stream, 0, 0, "KVX_BlockBoundary", c.stated, nullptr, nullptr),
              1);
    const long dim[] = {1, 10};
    const uint16_t data[10] = {};
    ASSERT_EQ(kvx_write_data_raw(stream, 1, 1, dim, data, Unsigned16, 0, HighByteFirst, 1, nullptr,
                                 nullptr),
              1);
    close();
    std::string file = contents("boundary.kvx");
    EXPECT_EQ(header_entries(file, 0)["KVX_BlockBoundary"], c.kept);
    auto image = header_entries(file, c.first_image);
    EXPECT_EQ(image["KVX_DataBlockID"], "1.Image.Psd");
    EXPECT_EQ(image["KVX_BinarySize"], c.kept) << "20 bytes of data fill one boundary";
  }
}

TEST_F(KvxWrite, FailedWritesAreReportedAndNotRetried) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "needs /dev/full";
  int error = -99, status = -99;
  int stream = kvx_open_data_file("/dev/full", "new", &error, nullptr);
  ASSERT_GE(stream, 0) << error;
  std::vector<uint16_t> data = image(100 * 100);
  const long dim[] = {2, 100, 100};
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(kvx_write_data_raw(stream, 1, 1, dim, data.data(), Unsigned16, 0, HighByteFirst, 1,
                               &error, &status),
            0);
  EXPECT_EQ(error, WriteDataError);
  EXPECT_EQ(status, ExternalErrorReport);
  // A header waiting for close fails there; the stream stays open until a
  // close succeeds.
  ASSERT_EQ(kvx_write_header_line(stream, 2, 1, "Title", "t", nullptr, nullptr), 1);
  EXPECT_EQ(kvx_close_data_file(stream, &error, &status), 0);
  EXPECT_EQ(error, WriteDataError);
  EXPECT_EQ(status, ExternalErrorReport);
  std::string messages = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(messages.find("flush_data_block->"), std::string::npos) << messages;
  EXPECT_NE(messages.find("No space left on device"), std::string::npos) << messages;
  EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1) << "bad blocks are not retried";
}

// A block is written at its place; a stream that cannot be positioned (a
// pipe) fails as its positioning would, and says so.
TEST_F(KvxWrite, UnpositionableOutputIsReportedAsSuch) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const std::string name = "/proc/self/fd/" + std::to_string(ends[1]);
  int error = -99;
  int stream = kvx_open_data_file(name.c_str(), "new", &error, nullptr);
  ASSERT_GE(stream, 0) << error;
  const std::vector<uint16_t> data = image(16);
  const long dim[] = {2, 4, 4};
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(kvx_write_data_raw(stream, 1, 1, dim, data.data(), Unsigned16, 0, HighByteFirst, 1,
                               &error, nullptr),
            0);
  const std::string messages = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(error, WriteDataError);
  EXPECT_NE(messages.find("flush_data_block->fseek: Illegal seek"), std::string::npos) << messages;
  (void)kvx_close_data_file(stream, &error, nullptr);
  ::close(ends[0]);
  ::close(ends[1]);
}

// A forked child writes image 1 and hits a file size limit inside the
// data of image 2, then ends without closing, as a failed run does.
TEST_F(KvxWrite, FailedAppendIsCutBackAndTheFileTakesTheNextBlock) {
  const long block = 8192 + 20480;  // header and 100 x 100 pixels of 2 bytes
  const std::vector<uint16_t> data = image(100 * 100);
  const long dim[] = {2, 100, 100};
  auto write = [&](int stream, long number) {
    int error = -99;
    kvx_write_data_raw(stream, number, 1, dim, data.data(), Unsigned16, 0, HighByteFirst, 1, &error,
                       nullptr);
    return error;
  };
  const std::string name = dir_.file("cut.kvx");
  const pid_t child = fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const int stream = kvx_open_data_file(name.c_str(), "new", nullptr, nullptr);
    if (stream < 0 || write(stream, 1) != RoutineSucceeded) _exit(1);
    const rlimit limit{static_cast<rlim_t>(block + 8192 + 10000), RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
    _exit(write(stream, 2) == WriteDataError ? 0 : 3);
  }
  int raw = 0;
  ASSERT_EQ(waitpid(child, &raw, 0), child);
  ASSERT_TRUE(WIFEXITED(raw));
  ASSERT_EQ(WEXITSTATUS(raw), 0) << "1 first image, 2 limit, 3 second image did not fail";
  ASSERT_EQ(contents("cut.kvx").size(), static_cast<size_t>(block)) << "the torn image 2 is gone";

  int error = -99;
  const int stream = kvx_open_data_file(name.c_str(), "any", &error, nullptr);
  ASSERT_GE(stream, 0) << "the file is opened for appending, error " << error;
  EXPECT_EQ(write(stream, 3), RoutineSucceeded);
  EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
  const std::string file = contents("cut.kvx");
  ASSERT_EQ(file.size(), 2U * block);
  const auto second = header_entries(file, block);
  EXPECT_EQ(second.at("KVX_DataBlockID"), "3.Image.Psd");
  EXPECT_EQ(second.at("HeaderID"), "EH:000002:000000:000000");
}

TEST_F(KvxWrite, FilesOpenedForReadingRefuseWrites) {
  int stream = open_new("readonly.kvx");
  const long dim[] = {1, 4};
  const uint16_t data[4] = {1, 2, 3, 4};
  ASSERT_EQ(kvx_write_data_raw(stream, 1, 1, dim, data, Unsigned16, 0, HighByteFirst, 1, nullptr,
                               nullptr),
            1);
  close();
  const std::string before = contents("readonly.kvx");
  int error = -99;
  stream_ = kvx_open_data_file(dir_.file("readonly.kvx").c_str(), "read", &error, nullptr);
  ASSERT_GE(stream_, 0) << error;
  int status = -99;
  EXPECT_EQ(kvx_write_header_line(stream_, 1, 1, "Title", "t", &error, &status), 0);
  EXPECT_EQ(error, FileIsNotWritable);
  EXPECT_EQ(status, ExternalErrorReport);
  EXPECT_EQ(kvx_write_data_raw(stream_, 2, 1, dim, data, Unsigned16, 0, HighByteFirst, 1, &error,
                               nullptr),
            0);
  EXPECT_EQ(error, FileIsNotWritable);
  close();
  EXPECT_EQ(contents("readonly.kvx"), before);
}

TEST_F(KvxWrite, AbsurdMinimumHeaderSizeFailsTheWrite) {
  kvx_set_minimumheadersize(1UL << 40);
  int stream = open_new("huge.kvx");
  const long dim[] = {1, 4};
  const uint16_t data[4] = {};
  int error = -99;
  EXPECT_EQ(
      kvx_write_data_raw(stream, 1, 1, dim, data, Unsigned16, 0, HighByteFirst, 1, &error, nullptr),
      0);
  EXPECT_EQ(error, WriteDataError);
  close();
  EXPECT_EQ(contents("huge.kvx").size(), 0u);
}

}  // namespace
