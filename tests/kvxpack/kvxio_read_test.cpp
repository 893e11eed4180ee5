// Opening existing files: block lookup, appending, the dimension query,
// damaged and foreign files, BSL data sets.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "kvxio.h"
#include "kvxio_internal.h"
#include "kvxio_scan.h"
#include "kvxio_test_util.h"

namespace {

using kvxtest::header_entries;
using kvxtest::padded_header;
using kvxtest::read_file;

void write_file(const std::string &name, const std::string &bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

// A hand-made header: "{" CR LF, the entries, CR LF "}" LF.
std::string header(const std::string &entries) { return "{\r\n" + entries + "\r\n}\n"; }

class KvxRead : public kvxtest::LibraryTest {
 protected:
  // Writes images of `numbers` (w x h unsigned 16-bit) into a file.
  std::string write_images(const std::string &file, const char *mode, std::vector<long> numbers,
                           long w = 100, long h = 50) {
    const std::string name = dir_.file(file);
    const std::vector<uint16_t> data(static_cast<size_t>(w * h), 7);
    std::vector<testsupport::KvxTestImage> images;
    for (long n : numbers) images.emplace_back(n, std::vector<long>{2, w, h}, data.data());
    int error = -99;
    EXPECT_TRUE(testsupport::write_kvx_file(name, images, mode, -1, &error)) << "error " << error;
    return name;
  }

  // Opens `name`; returns the stream and the error value.
  int open(const std::string &name, const char *mode, int *error, int *status = nullptr) {
    *error = -99;
    return kvx_open_data_file(name.c_str(), mode, error, status);
  }

  kvxtest::TempDir dir_;
};

kvxio::Data_Block *block_of(int stream, const char *chain, long number) {
  kvxio::Data_Chain *c = kvxio::search_chain(*kvxio::file_entry(stream), chain);
  return c != nullptr ? kvxio::search_block(*c, std::to_string(number)) : nullptr;
}

TEST_F(KvxRead, WrittenFilesAreFoundOnTheGridInEveryMode) {
  const std::string name = write_images("a.kvx", "new", {1, 2, 3});
  const std::string before = read_file(name);
  for (const char *mode : {"any", "old", "read"}) {
    SCOPED_TRACE(mode);
    int error = 0;
    const int stream = open(name, mode, &error);
    ASSERT_GE(stream, 0) << error;
    const kvxio::Data_File &file = *kvxio::file_entry(stream);
    EXPECT_EQ(file.BlockBoundary, 512u);
    EXPECT_EQ(file.NextSequenceNumber, 4u);
    for (long n = 1; n <= 3; ++n) {
      SCOPED_TRACE(n);
      const kvxio::Data_Block *block = block_of(stream, "Image.Psd", n);
      ASSERT_NE(block, nullptr);
      EXPECT_EQ(block->TextPos, static_cast<uint64_t>((n - 1) * 18432));
      EXPECT_EQ(block->TextLen, 8192u);
      EXPECT_EQ(block->BinaryPos, block->TextPos + 8192);
      EXPECT_EQ(block->BinaryLen, 10240u);
      EXPECT_EQ(block->SequenceNumber, static_cast<uint64_t>(n));
      EXPECT_TRUE(block->Flags.HeaderExternal && block->Flags.DataExternal &&
                  block->Flags.DiskBlockFixed);
      EXPECT_TRUE(block->SymbolList.empty()) << "a located block keeps no values";
    }
    EXPECT_EQ(file.LastBlockInFile, block_of(stream, "Image.Psd", 3));
    if (std::string(mode) == "read") {
      const long dim[] = {1, 1};
      const uint16_t value = 1;
      ::testing::internal::CaptureStderr();
      EXPECT_EQ(kvx_write_data_raw(stream, 4, 1, dim, &value, Unsigned16, 0, HighByteFirst, 1,
                                   &error, nullptr),
                0)
          << "a file opened for reading is not written";
      ::testing::internal::GetCapturedStderr();
    }
    EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
    EXPECT_EQ(read_file(name), before) << "opening and closing changes nothing";
  }
}

TEST_F(KvxRead, AppendingContinuesTheSequence) {
  const std::string name = write_images("a.kvx", "new", {1, 2});
  const std::string before = read_file(name);
  write_images("a.kvx", "any", {3, 4});
  const std::string after = read_file(name);
  ASSERT_EQ(after.size(), 4u * 18432);
  EXPECT_EQ(after.substr(0, before.size()), before) << "old blocks are untouched";
  for (size_t n = 3; n <= 4; ++n) {
    SCOPED_TRACE(n);
    auto entries = header_entries(after, (n - 1) * 18432);
    EXPECT_EQ(entries["KVX_DataBlockID"], std::to_string(n) + ".Image.Psd");
    EXPECT_EQ(entries["HeaderID"], "EH:00000" + std::to_string(n) + ":000000:000000");
  }
}

TEST_F(KvxRead, DimensionQueryTellsWhetherAnImageExists) {
  const std::string name = write_images("a.kvx", "new", {1, 5});
  int error = 0, status = 0;
  const int stream = open(name, "any", &error);
  ASSERT_GE(stream, 0);
  struct Case {
    long number, capacity;
    int result, error;
    std::vector<long> dims;  // elements 1 to capacity afterwards
    size_t size;
  };
  const Case cases[] = {
      {2, 2, 0, CouldNotFindHeader, {0, 0}, 0},
      {5, 2, 1, RoutineSucceeded, {100, 50}, 10000},
      {1, 3, 1, RoutineSucceeded, {100, 50, 1}, 10000},
      {1, 1, 1, NotNdData, {0}, 0},
      {-1, 2, 0, CouldNotFindHeader, {0, 0}, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.number);
    std::vector<long> dim(static_cast<size_t>(c.capacity + 1), 0);
    dim[0] = c.capacity;
    size_t size = 0;
    EXPECT_EQ(kvx_read_data_dimension(stream, c.number, 1, dim.data(), &size, &error, &status),
              c.result);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(status, c.error == RoutineSucceeded ? Success : ExternalErrorReport);
    EXPECT_EQ(std::vector<long>(dim.begin() + 1, dim.end()), c.dims);
    EXPECT_EQ(size, c.size);
  }
  EXPECT_EQ(kvx_read_data_dimension(stream, 1, 1, nullptr, nullptr, &error, nullptr), 1);
  EXPECT_EQ(kvx_read_data_dimension(25, 1, 1, nullptr, nullptr, &error, nullptr), 0);
  EXPECT_EQ(error, InvalidStream);
  EXPECT_EQ(kvx_read_data_dimension(stream + 1, 1, 1, nullptr, nullptr, &error, nullptr), 0);
  EXPECT_EQ(error, NoFileOpen);

  // Reading a block's header and then writing a new image keeps the file.
  const long dim[] = {2, 4, 4};
  const std::vector<uint16_t> data(16, 1);
  EXPECT_EQ(kvx_write_data_raw(stream, 6, 1, dim, data.data(), Unsigned16, 0, HighByteFirst, 1,
                               &error, nullptr),
            1);
  size_t size = 0;
  EXPECT_EQ(kvx_read_data_dimension(stream, 6, 1, nullptr, &size, &error, nullptr), 1);
  EXPECT_EQ(size, 32u);
  EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
  EXPECT_EQ(header_entries(read_file(name), 2 * 18432)["HeaderID"], "EH:000003:000000:000000");
}

TEST_F(KvxRead, DimensionsAreIntegerExpressions) {
  const std::string name = dir_.file("dims.kvx");
  struct Case {
    std::string entries;
    int error;
    std::vector<long> dims;
    size_t size;
  };
  const std::vector<Case> cases = {
      {"Dim_1 = 2*8 ;\r\nDim_2 = (3) ;\r\nDataType = SignedInteger ;",
       RoutineSucceeded,
       {16, 3},
       192},
      {"Dim_1 = 4 ;", RoutineSucceeded, {4, 1}, 16},
      {"Dim_1 = 4 ;\r\nDim_2 = 0 ;", RoutineSucceeded, {4, 0}, 0},
      {"Dim_1 = four ;", CouldNotReadDimension, {0, 0}, 0},
      {"Dim_1 = 4x ;", CouldNotReadDimension, {0, 0}, 0},
      {"Dim_2 = 4 ;", CouldNotReadDimension, {0, 0}, 0},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(i);
    write_file(name, padded_header("KVX_DataBlockID = 1.Image.Psd ;\r\nKVX_BinarySize = 0 ;\r\n" +
                                c.entries + "\r\n",
                            512));
    int error = 0;
    const int stream = open(name, "read", &error);
    ASSERT_GE(stream, 0);
    long dim[] = {2, 0, 0};
    size_t size = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(kvx_read_data_dimension(stream, 1, 1, dim, &size, &error, nullptr), 1);
    const std::string messages = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(std::vector<long>(dim + 1, dim + 3), c.dims);
    EXPECT_EQ(size, c.size);
    if (c.error == CouldNotReadDimension && c.entries.rfind("Dim_1", 0) == 0) {
      EXPECT_EQ(messages, "ERROR: Failed to read header value Dim_1\n");
    }
    EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
  }
}

TEST_F(KvxRead, OldStyleFiles) {
  // Version 1.00: no "KVX_" keys; ids from "HeaderID" or "Image", sizes from
  // "Size" or the dimensions and the type, headers anywhere.
  const std::string v1a = header(
      "HeaderID = EH:000012:000000:000000 ;\r\nDim_1 = 4 ;\r\nDim_2 = 2 ;\r\n"
      "DataType = UnsignedShort ;");
  const std::string v1b = header("Image = 13 ;\r\nSize = 3 ;\r\nDim_1 = 99 ;");
  const std::string v1c = header("Dim_1 = 1 ;\r\nDim_2 = 1 ;");
  const std::string v1 = v1a + std::string(16, 'd') + v1b + "abc" + v1c + std::string(4, 'f');
  const uint64_t v1b_at = v1a.size() + 16, v1c_at = v1b_at + v1b.size() + 3;
  // Version 2.00 with a header end off the grid: read with boundary 1, and
  // only read: a block appended on the grid would be taken into that header.
  const std::string v2a =
      header("KVX_DataBlockID = 7.Image.Psd ;\r\nKVX_BinarySize = 8 ;\r\nDim_1 = 2 ;");
  const std::string v2 =
      v2a + std::string(8, 'd') + header("KVX_DataBlockID = 8.Image.Psd ;\r\nKVX_BinarySize = 0 ;");
  const auto numbered = [](int image) {
    return header("Image = " + std::to_string(image) + " ;\r\nSize = 0 ;");
  };
  const std::string unnumbered = header("Size = 0 ;\r\nTitle = x ;");  // as long as numbered(n)
  const uint64_t step = unnumbered.size();
  struct Case {
    const char *what;
    std::string bytes;
    std::vector<std::pair<long, uint64_t>> blocks;  // image, header position
    std::string message;
    const char *mode;
  };
  const std::vector<Case> cases = {
      {"version 1.00",
       v1,
       {{12, 0}, {13, v1b_at}, {3, v1c_at}},
       "WARNING: Missing block ID, using sequence number\n",
       "any"},
      {"blocks without id take the next free number, never an earlier block's",
       numbered(1) + unnumbered + numbered(3) + unnumbered,
       {{1, 0}, {2, step}, {3, 2 * step}, {4, 3 * step}},
       "WARNING: Missing block ID, using sequence number\n"
       "WARNING: Missing block ID, using sequence number\n",
       "any"},
      {"version 2.00 off the grid",
       v2,
       {{7, 0}, {8, v2a.size() + 8}},
       "WARNING: The binary section of this block starts at position " +
           std::to_string(v2a.size()) +
           ".\n"
           "         This is not a multiple of the block boundary 512.\n"
           "\nINFO: Reading the file " +
           dir_.file("old.kvx") + " with block boundary 1.\n\n",
       "read"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = dir_.file("old.kvx");
    write_file(name, c.bytes);
    int error = 0;
    ::testing::internal::CaptureStderr();
    const int stream = open(name, c.mode, &error);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.message);
    ASSERT_GE(stream, 0) << error;
    EXPECT_EQ(kvxio::file_entry(stream)->BlockBoundary, 1u);
    for (auto [number, pos] : c.blocks) {
      SCOPED_TRACE(number);
      const kvxio::Data_Block *block = block_of(stream, "Image.Psd", number);
      ASSERT_NE(block, nullptr);
      EXPECT_EQ(block->TextPos, pos);
    }
    EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
    EXPECT_EQ(read_file(name), c.bytes);
  }
}

TEST_F(KvxRead, OnlyTheFormatKeysOfEachHeaderAreRead) {
  // Behind the "KVX_" keys the second header is broken; the walk never
  // reads it (the first header is read whole).
  const std::string name = dir_.file("tail.kvx");
  write_file(name, padded_header("KVX_DataBlockID = 2.Image.Psd ;\r\nKVX_BinarySize = 0 ;", 512) +
                       padded_header("KVX_DataBlockID = 1.Image.Psd ;\r\nKVX_BinarySize = 512 ;\r\n"
                              "Title = no terminator\r\n",
                              512) +
                       std::string(512, '\0'));
  int error = 0;
  const int stream = open(name, "any", &error);
  ASSERT_GE(stream, 0) << error;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(kvx_read_data_dimension(stream, 1, 1, nullptr, nullptr, &error, nullptr), 1);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(error, ReadDataError) << "the full header is read only when asked for";
}

TEST_F(KvxRead, DamagedFilesAreRefusedAndLeftAlone) {
  const std::string good = padded_header(
                               "KVX_DataBlockID = 1.Image.Psd ;\r\nKVX_BinarySize = 512 ;\r\n"
                               "Dim_1 = 1 ;",
                               512) +
                           std::string(512, 'd');
  std::mt19937 random(5);
  std::string noise(4096, ' ');
  for (char &c : noise) c = static_cast<char>(random() % 256);
  noise[0] = 'x';
  const std::string general =
      "KVX_DataFormatVersion = 2.40 ;\r\nKVX_DataBlocks = 0 ;\r\nKVX_BlockBoundary = ";
  struct Case {
    const char *what;
    std::string bytes;
    int error;      // of "any" and "old"
    bool readable;  // "read" succeeds
  };
  const std::vector<Case> cases = {
      {"text", "hello world\n", ErrorReadingGeneralBlock, false},
      {"zero bytes", std::string(1024, '\0'), ErrorReadingGeneralBlock, false},
      {"random bytes", noise, ErrorReadingGeneralBlock, false},
      {"first header without end marker", "{\r\nKVX_DataBlockID = 1.Image.Psd ;\r\n",
       ErrorReadingGeneralBlock, false},
      {"end marker not followed by a line end", "{\r\nA = 1 ;\r\n}x", ErrorReadingGeneralBlock,
       false},
      {"second header without end marker", good + "{\r\nKVX_DataBlockID = 2.Image.Psd ;\r\n",
       ErrorLocatingBlocks, true},
      {"truncated last block", good + good.substr(0, 700), ErrorLocatingBlocks, true},
      {"binary size beyond the end",
       padded_header("KVX_DataBlockID = 1.Image.Psd ;\r\nKVX_BinarySize = 99999999999 ;", 512),
       ErrorLocatingBlocks, true},
      {"negative binary size",
       good + padded_header("KVX_DataBlockID = 2.Image.Psd ;\r\nKVX_BinarySize = -512 ;", 512),
       ErrorLocatingBlocks, true},
      {"binary end beyond 64 bits",
       good + padded_header("KVX_DataBlockID = 2.Image.Psd ;\r\nKVX_BinarySize = "
                     "18446744073709551615 ;",
                     512),
       ErrorLocatingBlocks, true},
      {"zero bytes behind the blocks", good + std::string(512, '\0'), ErrorLocatingBlocks, true},
      {"text behind the blocks", good + "trailing text", ErrorLocatingBlocks, true},
      // Ends in FF LF "}" LF, found only byte by byte: a block appended on
      // the grid would be read as part of this header.
      {"header end off the grid", good.substr(0, 508) + "\f\n}\n" + good.substr(512),
       ErrorLocatingBlocks, true},
      {"unreadable block id", good + padded_header("KVX_DataBlockID = 2 ;\r\nKVX_BinarySize = 0 ;", 512),
       ErrorLocatingBlocks, true},
      {"binary file without position",
       good + padded_header("KVX_DataBlockID = 2.Image.Psd ;\r\nKVX_BinarySize = 0 ;\r\n"
                     "KVX_BinaryFileName = x.bin ;",
                     512),
       ErrorLocatingBlocks, true},
      {"block boundary 0", padded_header(general + "0 ;", 512), ErrorReadingGeneralBlock, false},
      {"negative block boundary", padded_header(general + "-512 ;", 512), ErrorReadingGeneralBlock, false},
      {"block boundary no number", padded_header(general + "many ;", 512), ErrorReadingGeneralBlock,
       false},
      {"block boundary above 1 MiB", padded_header(general + "2097152 ;", 512), ErrorReadingGeneralBlock,
       false},
  };
  const std::string name = dir_.file("bad.kvx");
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(std::to_string(i) + ": " + c.what);
    for (const char *mode : {"any", "old", "read"}) {
      SCOPED_TRACE(mode);
      write_file(name, c.bytes);
      int error = 0, status = 0;
      ::testing::internal::CaptureStderr();
      const int stream = open(name, mode, &error, &status);
      const std::string messages = ::testing::internal::GetCapturedStderr();
      const bool reading = std::string(mode) == "read";
      if (reading && c.readable) {
        EXPECT_GE(stream, 0) << "the blocks before the defect are kept";
        EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
      } else if (reading || (std::string(mode) == "old" && c.error == ErrorReadingGeneralBlock &&
                             c.bytes[0] != '{')) {
        EXPECT_EQ(stream, -1) << "foreign files go to the BSL reader, which refuses them";
      } else {
        EXPECT_EQ(stream, -1);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(status, ExternalErrorReport);
        EXPECT_NE(messages.find("KVX FILE ERROR"), std::string::npos) << messages;
      }
      EXPECT_EQ(read_file(name), c.bytes) << "the file is unchanged";
    }
  }
  int error = 0;
  for (int stream = 0; stream < 20; ++stream)
    EXPECT_FALSE(kvxio::file_entry(stream)->Used) << "failed opens free their entry";
  write_file(name, "hello\n");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(open(name, "any", &error), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "\n   KVX FILE ERROR\n   This file is not a KVX file\n   File name    : " + name +
                "\n   File position: 0 (0)\n   Last block ID: (no block read)\n\n");
}

TEST_F(KvxRead, LongKeysAndValuesAreCutEmptyKeysIgnored) {
  const std::string name = dir_.file("long.kvx");
  const std::string bytes =
      padded_header("KVX_DataBlockID = 1.Image.Psd ;\r\nKVX_BinarySize = 0 ;\r\nDim_1 = 3 ;\r\n" +
                 std::string(100, 'k') + " = 1 ;\r\nTitle = " + std::string(600, 'v') +
                 " ;\r\n = orphan ;\r\n \t = orphan ;",
             1024);
  write_file(name, bytes);
  int error = 0;
  const int stream = open(name, "any", &error);
  ASSERT_GE(stream, 0);
  EXPECT_EQ(kvx_read_data_dimension(stream, 1, 1, nullptr, nullptr, &error, nullptr), 1);
  kvxio::Data_Block *block = block_of(stream, "Image.Psd", 1);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(*kvxio::search_general(*block, "Title"), std::string(512, 'v'));
  EXPECT_NE(kvxio::search_general(*block, std::string(64, 'k')), nullptr);
  EXPECT_EQ(block->SymbolList.size(), 5u) << "entries without key are dropped";
  EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
  EXPECT_EQ(read_file(name), bytes);
}

TEST_F(KvxRead, BlocksBeyondFourGibibytes) {
  // A sparse file: block 1 holds 5 GiB of data, block 2 lies behind it.
  const std::string name = dir_.file("big.kvx");
  const uint64_t big = 5ULL << 30;
  const std::string second = padded_header("KVX_DataBlockID = 2.Image.Psd ;\r\nKVX_BinarySize = 0 ;", 512);
  {
    std::ofstream out(name, std::ios::binary);
    out << padded_header(
        "KVX_DataBlockID = 1.Image.Psd ;\r\nKVX_BinarySize = " + std::to_string(big) + " ;", 512);
    out.seekp(static_cast<std::streamoff>(512 + big));
    out << second;
  }
  int error = 0;
  const int stream = open(name, "any", &error);
  ASSERT_GE(stream, 0) << error;
  const kvxio::Data_Block *block = block_of(stream, "Image.Psd", 2);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->TextPos, 512 + big);
  EXPECT_EQ(block_of(stream, "Image.Psd", 1)->BinaryLen, big);
  EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
  std::filesystem::remove(name);
}

TEST_F(KvxRead, GeneralBlockOfAFileWrittenWithoutThem) {
  // Block boundary 1024 from the general block; general-block writing is
  // off, so the general block takes no sequence number and stays as it is.
  const std::string general = padded_header(
      "KVX_DataFormatVersion = 2.40 ;\r\nKVX_DataBlocks = 1           ;\r\n"
      "KVX_BlockBoundary = 1024 ;\r\nKVX_DataKey-1 = Frames ;",
      1024);
  const std::string block =
      padded_header("KVX_DataBlockID = 4.Frames ;\r\nKVX_BinarySize = 1024 ;", 1024) +
      std::string(1024, 'd');
  const std::string name = dir_.file("gb.kvx");
  write_file(name, general + block);
  int error = 0;
  const int stream = open(name, "any", &error);
  ASSERT_GE(stream, 0) << error;
  EXPECT_EQ(kvxio::file_entry(stream)->BlockBoundary, 1024u);
  EXPECT_EQ(kvxio::file_entry(stream)->NextSequenceNumber, 2u);
  long dim[] = {1, 0};
  EXPECT_EQ(kvx_read_data_dimension(stream, 4, 1, dim, nullptr, &error, nullptr), 1)
      << "chain 1 is called Frames in this file";
  const long size[] = {1, 4};
  const uint16_t data[4] = {};
  EXPECT_EQ(kvx_write_data_raw(stream, 5, 1, size, data, Unsigned16, 0, HighByteFirst, 1, &error,
                               nullptr),
            1);
  EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
  const std::string after = read_file(name);
  EXPECT_EQ(after.substr(0, general.size() + block.size()), general + block);
  auto entries = header_entries(after, general.size() + block.size());
  EXPECT_EQ(entries["KVX_DataBlockID"], "5.Frames");
  EXPECT_EQ(entries["HeaderID"], "EH:000002:000000:000000");
}

TEST_F(KvxRead, ValuesAreFoundInTheBlockOrTheGeneralBlock) {
  kvx_general_block(1);
  const std::string name = dir_.file("g.kvx");
  int error = 0;
  int stream = open(name, "new", &error);
  ASSERT_GE(stream, 0);
  const std::string title(600, 't');
  EXPECT_EQ(kvx_write_header_line(stream, 0, 0, "Owner", "me; {you}", &error, nullptr), 1);
  EXPECT_EQ(kvx_write_header_line(stream, 1, 1, "Title", title.c_str(), &error, nullptr), 1);
  const long dim[] = {1, 2};
  const uint16_t data[2] = {1, 2};
  EXPECT_EQ(
      kvx_write_data_raw(stream, 1, 1, dim, data, Unsigned16, 0, HighByteFirst, 1, &error, nullptr),
      1);
  EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
  const std::string before = read_file(name);

  stream = open(name, "any", &error);
  ASSERT_GE(stream, 0) << error;
  EXPECT_EQ(kvxio::file_entry(stream)->NextSequenceNumber, 3u) << "general block and image 1";
  EXPECT_EQ(kvx_read_data_dimension(stream, 1, 1, nullptr, nullptr, &error, nullptr), 1);
  kvxio::Data_Block *block = block_of(stream, "Image.Psd", 1);
  EXPECT_EQ(*kvxio::search_general(*block, "Title"), title) << "continuation keys joined";
  EXPECT_EQ(*kvxio::search_general(*block, "owner"), "me; {you}") << "from the general block";
  EXPECT_EQ(kvxio::search_general(*block, "KVX_DataBlocks"), nullptr)
      << "format keys are not looked up in the general block";
  EXPECT_EQ(
      kvx_write_data_raw(stream, 2, 1, dim, data, Unsigned16, 0, HighByteFirst, 1, &error, nullptr),
      1);
  EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
  const std::string after = read_file(name);
  EXPECT_EQ(after.substr(before.size() - 8192 - 512, 8192 + 512),
            before.substr(before.size() - 8192 - 512))
      << "image 1 is untouched";
  auto entries = header_entries(after, before.size());
  EXPECT_EQ(entries["HeaderID"], "EH:000003:000000:000000");
  EXPECT_EQ(header_entries(after, 0)["KVX_DataBlocks"], "2           ");
}

TEST_F(KvxRead, DebugTraces) {
  const std::string name = write_images("a.kvx", "new", {1, 2});
  kvxio_debug(1);
  int error = 0;
  ::testing::internal::CaptureStdout();
  const int stream = open(name, "old", &error);
  (void)kvx_read_data_dimension(stream, 3, 1, nullptr, nullptr, &error, nullptr);
  (void)kvx_read_data_dimension(stream, 2, 1, nullptr, nullptr, &error, nullptr);
  const std::string trace = ::testing::internal::GetCapturedStdout();
  kvxio_debug(0);
  for (const std::string &line : std::vector<std::string>{
           "kvx_open_data_file BEGIN\n", "kvx_open_data_file END (status=0)\n",
           " Stream 0: \"" + name + "\"\n", "   LastBlockInFile 2.Image.Psd\n",
           "   Chain Image.Psd: 2 blocks\n",
           "kvx_read_data_dimension: \nCouldNotFindHeader\nkvx_read_data_dimension END "
           "(status=100)\n",
           "kvx_read_data_dimension BEGIN\nkvx_read_data_dimension END\n"}) {
    EXPECT_NE(trace.find(line), std::string::npos) << line << " in:\n" << trace;
  }
}

TEST_F(KvxRead, ModesAndTheFileTable) {
  const std::string missing = dir_.file("missing.kvx");
  const std::string empty = dir_.file("empty.kvx");
  write_file(empty, "");
  struct Case {
    std::string name;
    const char *mode;
    int error;
  };
  const Case cases[] = {
      {missing, "old", CouldNotOpenFile},        {missing, "read", CouldNotOpenFile},
      {empty, "old", CouldNotFindHeader},        {empty, "read", RoutineSucceeded},
      {empty, "any", RoutineSucceeded},          {dir_.file(""), "any", CouldNotOpenFile},
      {dir_.file(""), "read", CouldNotOpenFile},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name + " " + c.mode);
    int error = 0;
    const int stream = open(c.name, c.mode, &error);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(stream >= 0, c.error == RoutineSucceeded);
    if (stream >= 0) {
      EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
    }
  }
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_EQ(read_file(empty), "") << "the empty file stays empty";

  int error = 0;
  const int created = open(missing, "any", &error);
  ASSERT_GE(created, 0);
  EXPECT_EQ(kvx_close_data_file(created, &error, nullptr), 1);
  EXPECT_EQ(read_file(missing), "") << "a new file stays empty";

  std::vector<int> streams;
  for (int i = 0; i < 20; ++i) streams.push_back(open(empty, "read", &error));
  EXPECT_EQ(streams.back(), 19);
  EXPECT_EQ(open(empty, "any", &error), -1);
  EXPECT_EQ(error, NoMoreStreamsAvailable) << "the 21st open";
  EXPECT_EQ(kvx_close_data_file(25, &error, nullptr), 1);
  EXPECT_EQ(error, RoutineSucceeded) << "stream 25 closes nothing";
}

// A line end at the very end of a file, where a header could start, is the
// end of the file: the next image is written from there, over that line end.
// A file that holds nothing else is an empty KVX file.
TEST_F(KvxRead, LineEndAtTheEndOfTheFileIsNoBlock) {
  const std::string one = read_file(write_images("one.kvx", "new", {1}));
  const std::string two = read_file(write_images("two.kvx", "new", {1, 2}));
  struct Case {
    std::string before;
    long image;
    const std::string &after;
  };
  const Case cases[] = {
      {"\r", 1, one},       {"\n", 1, one},       {"\r\n", 1, one},
      {one + "\r", 2, two}, {one + "\n", 2, two}, {one + "\r\n", 2, two},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.before.substr(c.before.size() > 2 ? one.size() : 0)) +
                 " after " + std::to_string(c.image - 1) + " images");
    const std::string name = dir_.file("line-end.kvx");
    write_file(name, c.before);
    write_images("line-end.kvx", "any", {c.image});
    EXPECT_EQ(read_file(name), c.after) << "the image starts where the line end was";
  }
}

TEST_F(KvxRead, AnyNeverEmptiesAFileItCannotWrite) {
  const std::string name = write_images("ro.kvx", "new", {1});
  const std::string before = read_file(name);
  chmod(dir_.path().c_str(), 0755);
  chmod(name.c_str(), 0444);
  const auto error = kvxtest::run_unprivileged([&] {
    int value = 0;
    return open(name, "any", &value) == -1 ? value : 254;
  });
  if (!error) GTEST_SKIP() << "running as root, and the user 65534 cannot be taken on";
  EXPECT_EQ(*error, CouldNotOpenFile);
  EXPECT_EQ(read_file(name), before);
}

TEST_F(KvxRead, FileTypes) {
  struct Case {
    std::string bytes;
    int type;
  };
  const Case cases[] = {
      {"", KvxType},
      {"{\r\n", KvxType},
      {"\r\n{", KvxType},
      {"text", BslType},
      {std::string(1, '\0'), BslType},
  };
  const std::string name = dir_.file("t");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.bytes);
    write_file(name, c.bytes);
    int error = -99;
    EXPECT_EQ(data_file_type(name.c_str(), &error, nullptr), c.type);
    EXPECT_EQ(error, RoutineSucceeded);
  }
  int error = 0;
  EXPECT_EQ(data_file_type(dir_.file("none").c_str(), &error, nullptr), InValidDFType);
  EXPECT_EQ(error, CouldNotOpenFile);
}

TEST_F(KvxRead, BslDataSetsOpenAsReadOnlyFiles) {
  const std::string name = dir_.file("set.bsl");
  write_file(name,
             "Title line\nSub line\n512 512 3 0 0 0 0 0 0 0\ndata.bin\n2 2 1 0 0 0 0 0 0 0\n"
             "second.bin\n");
  const std::string before = read_file(name);
  kvx_set_bsl_input_byteorder(HighByteFirst);
  for (const char *mode : {"read", "old"}) {
    SCOPED_TRACE(mode);
    int error = 0;
    const int stream = open(name, mode, &error);
    ASSERT_GE(stream, 0) << error;
    kvxio::Data_File &file = *kvxio::file_entry(stream);
    EXPECT_TRUE(file.Flags.ReadOnlyFile && file.Flags.ExistingFile);
    EXPECT_EQ(*kvxio::search_general(*file.GeneralBlock, "Title"), "Title line");
    EXPECT_EQ(*kvxio::search_general(*file.GeneralBlock, "SubTitle"), "Sub line");
    long dim[] = {2, 0, 0};
    size_t size = 0;
    EXPECT_EQ(kvx_read_data_dimension(stream, 3, 1, dim, &size, &error, nullptr), 1);
    EXPECT_EQ(error, RoutineSucceeded);
    EXPECT_EQ(dim[1], 512);
    EXPECT_EQ(dim[2], 512);
    EXPECT_EQ(size, 1048576u);
    const kvxio::Data_Block *frame = block_of(stream, "Image.Psd", 3);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->BinaryFileName, dir_.file("data.bin"));
    EXPECT_EQ(frame->BinaryFilePos, 2097152u);
    EXPECT_EQ(frame->BinaryFileLen, 1048576u);
    EXPECT_EQ(*kvxio::search_general(*const_cast<kvxio::Data_Block *>(frame), "ByteOrder"),
              "HighByteFirst");
    const kvxio::Data_Block *second = block_of(stream, "Image.Psd.2", 1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->BinaryFileName, dir_.file("second.bin"));
    EXPECT_EQ(kvx_read_data_dimension(stream, 4, 1, nullptr, nullptr, &error, nullptr), 0);
    EXPECT_EQ(kvx_close_data_file(stream, &error, nullptr), 1);
    EXPECT_EQ(read_file(name), before);
  }
  int error = 0;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(open(name, "any", &error), -1) << "mode any writes KVX files only";
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("This file is not a KVX file"),
            std::string::npos);
  EXPECT_EQ(error, ErrorReadingGeneralBlock);
  write_file(name, "t\ns\n1 1 1 0 0 0 0 0 0\nd.bin\n");
  EXPECT_EQ(open(name, "read", &error), -1);
  EXPECT_EQ(error, CannotOpenAsBslFile);
}

// Appending to a long file continues its numbering and still finds every
// image (the time of the walk is measured by the benchmarks).
TEST_F(KvxRead, TenThousandBlocksOpenForAppending) {
  kvx_set_minimumheadersize(512);
  std::vector<long> numbers(10000);
  for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = static_cast<long>(i + 1);
  const std::string name = write_images("many.kvx", "new", numbers, 16, 16);
  int error = 0;
  const int stream = open(name, "any", &error);
  ASSERT_GE(stream, 0);
  EXPECT_EQ(kvxio::file_entry(stream)->NextSequenceNumber, 10001u);
  long dim[] = {2, 0, 0};
  EXPECT_EQ(kvx_read_data_dimension(stream, 9999, 1, dim, nullptr, &error, nullptr), 1);
  EXPECT_EQ(dim[1], 16);
}

// Headers are read in one piece of about the size of the header before;
// headers that do not fit, or whose format keys alone do not, are still
// found, in any order of sizes.
TEST_F(KvxRead, HeadersOfChangingSizesAreAllFound) {
  std::string long_keys;
  for (int n = 0; n < 40; ++n)
    long_keys += "KVX_Note~" + std::to_string(n + 1) + " = " + std::string(300, 'n') + " ;\r\n";
  struct Block {
    std::string extra;  // entries behind the id and the size
    size_t header_size;
  };
  const std::vector<Block> blocks = {
      {"", 512}, {"", 3u << 20}, {"", 512}, {long_keys, 16384}, {"Title = t ;", 8192}, {"", 1536},
  };
  std::string bytes = padded_header("KVX_DataFormatVersion = 2.40 ;\r\nKVX_BinarySize = 0 ;", 512);
  for (size_t i = 0; i < blocks.size(); ++i)
    bytes += padded_header("KVX_DataBlockID = " + std::to_string(i + 1) +
                        ".Image.Psd ;\r\nKVX_BinarySize = 512 ;\r\n" + blocks[i].extra,
                    blocks[i].header_size) +
             std::string(512, 'd');
  const std::string name = dir_.file("sizes.kvx");
  write_file(name, bytes);
  int error = 0;
  ::testing::internal::CaptureStderr();
  const int stream = open(name, "old", &error);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "no block is taken for damaged";
  ASSERT_GE(stream, 0) << error;
  uint64_t pos = 512;
  for (size_t i = 0; i < blocks.size(); ++i) {
    SCOPED_TRACE(i);
    const kvxio::Data_Block *block = block_of(stream, "Image.Psd", static_cast<long>(i + 1));
    ASSERT_NE(block, nullptr) << "block found";
    EXPECT_EQ(block->TextPos, pos) << "header start";
    EXPECT_EQ(block->TextLen, blocks[i].header_size) << "header size";
    pos += blocks[i].header_size + 512;
  }
}

}  // namespace
