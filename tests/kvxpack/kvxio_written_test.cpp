// Written blocks kept as their place in the file only: found, read back and
// appended behind as whole blocks are.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "kvxio_browse.h"
#include "kvxio_internal.h"
#include "kvxio_test_util.h"

namespace {

class KvxWritten : public kvxtest::LibraryTest {
 protected:
  int open(const char *mode) {
    int error = -99;
    const int stream = kvx_open_data_file(name_.c_str(), mode, &error, nullptr);
    EXPECT_GE(stream, 0) << error;
    return stream;
  }
  kvxio::Data_Chain &images(int stream) {
    return *kvxio::search_chain(*kvxio::file_entry(stream), "Image.Psd");
  }

  kvxtest::TempDir dir_;
  std::string name_ = dir_.file("written.kvx");
};

// 2 x 2 values that name their image.
std::vector<uint16_t> values_of(long image) {
  return {static_cast<uint16_t>(image), 1000, 7, static_cast<uint16_t>(image * 3)};
}

bool write_image(int stream, long image) {
  const std::vector<uint16_t> data = values_of(image);
  return testsupport::write_kvx_image(stream,
                                      testsupport::KvxTestImage(image, {2, 2, 2}, data.data()));
}

std::vector<long> images_in_file_order(int stream) {
  std::vector<long> numbers;
  EXPECT_EQ(kvx_visit_blocks(
                stream,
                [&](const KvxBlockInfo &block, const KvxBlockHeader *, int) {
                  numbers.push_back(std::stol(block.BlockKey));
                  return true;
                },
                nullptr, nullptr),
            1);
  return numbers;
}

TEST_F(KvxWritten, ImagesOfAnyOrderAreFoundInTheSessionAndAfterIt) {
  // Descending, ascending above them, then between and around them.
  std::vector<long> order;
  for (long n = 40; n > 30; --n) order.push_back(n);
  for (long n = 41; n <= 50; ++n) order.push_back(n);
  for (long n : {5, 60, 1, 55, 20, 3, 58, 10}) order.push_back(n);
  int stream = open("new");
  for (long n : order) ASSERT_TRUE(write_image(stream, n)) << n;
  EXPECT_TRUE(images(stream).BlockList.empty()) << "no written block is kept whole";

  for (long n : {58L, 1L, 50L, 31L, 60L, 5L, 40L}) {
    long dim[] = {2, 0, 0};
    size_t size = 0;
    EXPECT_EQ(kvx_read_data_dimension(stream, n, 1, dim, &size, nullptr, nullptr), 1) << n;
    EXPECT_EQ(dim[1] * dim[2], 4) << n;
  }
  for (long n : {0L, 2L, 30L, 61L}) {
    int error = -99;
    long dim[] = {2, 0, 0};
    EXPECT_EQ(kvx_read_data_dimension(stream, n, 1, dim, nullptr, &error, nullptr), 0) << n;
    EXPECT_EQ(error, CouldNotFindHeader) << n;
  }
  ASSERT_TRUE(write_image(stream, 100));
  order.push_back(100);
  EXPECT_LE(images(stream).BlockList.size(), 1u) << "blocks read back are compacted again";
  EXPECT_EQ(images_in_file_order(stream), order) << "the file being written, in write order";
  ASSERT_EQ(kvx_close_data_file(stream, nullptr, nullptr), 1);
  EXPECT_EQ(std::filesystem::file_size(name_), order.size() * (8192 + 512)) << "no gap, no overlap";

  stream = open("read");
  EXPECT_EQ(images_in_file_order(stream), order);
  for (long n : order) {
    KvxBlockInfo block;
    std::vector<unsigned char> bytes;
    ASSERT_EQ(kvx_find_block(stream, n, 1, block, nullptr, nullptr), 1) << n;
    ASSERT_EQ(kvx_read_block_binary(stream, block, 8, bytes, nullptr, nullptr), 1) << n;
    const std::vector<uint16_t> expected = values_of(n);
    EXPECT_EQ(std::memcmp(bytes.data(), expected.data(), bytes.size()), 0) << n;
  }
}

// A freed block's memory may come back as another block: the header call
// must still address its own image.
TEST_F(KvxWritten, AHeaderValueForACompactedImageGoesToThatImage) {
  int stream = open("new");
  for (long n : {3L, 4L, 5L}) ASSERT_TRUE(write_image(stream, n));
  long dim[] = {2, 0, 0};
  ASSERT_EQ(kvx_read_data_dimension(stream, 3, 1, dim, nullptr, nullptr, nullptr), 1);
  ASSERT_EQ(kvx_write_header_line(stream, 5, 1, "Title", "five", nullptr, nullptr), 1);
  ASSERT_EQ(kvx_close_data_file(stream, nullptr, nullptr), 1);
  const std::string file = kvxtest::read_file(name_);
  EXPECT_EQ(kvxtest::header_entries(file, 2 * 8704)["Title"], "five");
  EXPECT_EQ(kvxtest::header_entries(file, 0).count("Title"), 0u) << "image 3 untouched";
}

// A compacted block is found under every key that names its number as the
// block list orders keys, and under no other.
TEST_F(KvxWritten, CompactedBlocksAnswerToTheKeysOfTheirNumber) {
  const int stream = open("new");
  for (long n : {0L, 7L}) ASSERT_TRUE(write_image(stream, n));
  kvxio::Data_Chain &chain = images(stream);
  ASSERT_EQ(chain.Written.size(), 2u);
  const struct {
    const char *key;
    const char *found;  // the block's key, or null
  } cases[] = {{"7", "7"},      {"007", "7"},     {"+7", "7"},
               {" 7\t", "7"},   {"0", "0"},       {"+000", "0"},
               {"-0", nullptr}, {"-7", nullptr},  {"70", nullptr},
               {"7a", nullptr}, {"7~1", nullptr}, {"99999999999999999999", nullptr}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string("key \"") + c.key + "\"");
    kvxio::Data_Block *block = kvxio::search_block(chain, c.key);
    if (c.found == nullptr) {
      EXPECT_EQ(block, nullptr);
      continue;
    }
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->BlockKey, c.found);
    EXPECT_TRUE(block->Flags.DiskBlockFixed && block->Flags.HeaderExternal);
    kvxio::compact_written(block);
    EXPECT_TRUE(chain.BlockList.empty()) << "compacted again";
    EXPECT_EQ(chain.Written.size(), 2u);
  }
}

// Two files open at once share none of their per-file state (header logs
// and remembered orders, key groups, read buffers): written, reopened and
// read in turn, each holds the bytes it holds when written alone.
class KvxTwoFiles : public kvxtest::LibraryTest {};

TEST_F(KvxTwoFiles, WritesAndReadsInTurnGiveTheBytesOfOneAtATime) {
  struct File {
    explicit File(std::vector<std::string> with) : keys(std::move(with)) {}
    std::vector<std::string> keys;  // other keys, and as many, for each file
    std::string name;
    int stream = -1;
  };
  kvxtest::TempDir dir;
  auto write = [](File &file, long image) {
    for (size_t n = 0; n < file.keys.size(); ++n)
      ASSERT_EQ(kvx_write_header_line(file.stream, image, 1, file.keys[n].c_str(),
                                      std::to_string(image * 10 + static_cast<long>(n)).c_str(),
                                      nullptr, nullptr),
                1);
    ASSERT_TRUE(write_image(file.stream, image));
  };
  auto open = [](File &file, const char *mode) {
    int error = -99;
    file.stream = kvx_open_data_file(file.name.c_str(), mode, &error, nullptr);
    ASSERT_GE(file.stream, 0) << error;
  };
  auto read = [](const File &file, long image) {
    long dim[3] = {2, 0, 0};
    size_t size = 0;
    int error = -99;
    EXPECT_EQ(kvx_read_data_dimension(file.stream, image, 1, dim, &size, &error, nullptr), 1)
        << error;
    EXPECT_EQ(dim[1], 2);
  };
  auto close = [](File &file) { EXPECT_EQ(kvx_close_data_file(file.stream, nullptr, nullptr), 1); };
  // Two sessions per file: new images, then, reopened, reads and more images.
  auto run = [&](std::vector<File *> files, const std::string &suffix) {
    for (File *file : files) file->name = dir.file(file->keys.front() + suffix);
    for (File *file : files) open(*file, "new");
    for (long image = 1; image <= 3; ++image)
      for (File *file : files) write(*file, image);
    for (File *file : files) close(*file);
    for (File *file : files) open(*file, "any");
    for (long image = 4; image <= 6; ++image)
      for (File *file : files) {
        read(*file, image - 2);
        write(*file, image);
      }
    for (File *file : files) close(*file);
  };
  File a({"Title", "HS32C01", "Center_1"}), b({"Zeta", "Dim_9", "History-1", "Alpha", "H"});
  run({&a}, ".alone");
  run({&b}, ".alone");
  File a2(a.keys), b2(b.keys);
  run({&a2, &b2}, ".together");
  EXPECT_EQ(kvxtest::read_file(a2.name), kvxtest::read_file(a.name));
  EXPECT_EQ(kvxtest::read_file(b2.name), kvxtest::read_file(b.name));
}

}  // namespace
