// Looking into open files: blocks and header entries in file order, raw
// binary data, checked lengths.
#include "kvxio_browse.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "kvxio.h"
#include "kvxio_test_util.h"

namespace {

class KvxBrowse : public kvxtest::LibraryTest {
 protected:
  // Writes images with `keys` and 2 x 3 pixels of 16 bits each, valued
  // number * 100 + index, in the order given.
  void write(const std::vector<long> &numbers,
             const std::vector<std::pair<std::string, std::string>> &keys = {}) {
    std::vector<std::vector<unsigned short>> values;
    std::vector<testsupport::KvxTestImage> images;
    for (const long number : numbers) {
      std::vector<unsigned short> &data = values.emplace_back(6);
      for (int i = 0; i < 6; ++i) data[i] = static_cast<unsigned short>(number * 100 + i);
      images.push_back(testsupport::KvxTestImage(number, {2, 2, 3}, data.data())
                           .as(Unsigned16, kvx_byteorder())
                           .with(keys));
    }
    ASSERT_TRUE(testsupport::write_kvx_file(name_, images));
  }

  int open_read() {
    const int stream = kvx_open_data_file(name_.c_str(), "read", nullptr, nullptr);
    EXPECT_GE(stream, 0);
    return stream;
  }

  kvxtest::TempDir dir_;
  std::string name_ = dir_.file("browse.kvx");
};

TEST_F(KvxBrowse, BlocksAreListedInFileOrder) {
  write({10, 2, -1});
  write({7});  // appended
  const int stream = open_read();
  std::vector<KvxBlockInfo> blocks;
  std::vector<std::string> images;
  const auto collect = [&](const KvxBlockInfo &block, const KvxBlockHeader *header, int) {
    blocks.push_back(block);
    EXPECT_NE(header, nullptr);
    if (header != nullptr) images.push_back(*kvx_header_value(*header, "Image"));
    return true;
  };
  int error = -99;
  ASSERT_EQ(kvx_visit_blocks(stream, collect, &error, nullptr), 1);
  EXPECT_EQ(error, RoutineSucceeded);
  EXPECT_EQ(images, std::vector<std::string>({"10", "2", "-1", "7"})) << "each block's own header";
  ASSERT_EQ(blocks.size(), 4u);
  const char *keys[] = {"10", "2", "-1", "7"};
  for (size_t i = 0; i < blocks.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(blocks[i].BlockKey, keys[i]) << "file order, not number order";
    EXPECT_EQ(blocks[i].ChainKey, "Image.Psd");
    EXPECT_EQ(blocks[i].HeaderPos, i * (8192 + 512));
    EXPECT_EQ(blocks[i].HeaderSize, 8192u);
    EXPECT_EQ(blocks[i].BinaryPos, blocks[i].HeaderPos + 8192);
    EXPECT_EQ(blocks[i].BinarySize, 512u);
  }

  KvxBlockInfo found;
  ASSERT_EQ(kvx_find_block(stream, 7, 1, found, &error, nullptr), 1);
  EXPECT_EQ(found.HeaderPos, blocks[3].HeaderPos);
  EXPECT_EQ(kvx_find_block(stream, 3, 1, found, &error, nullptr), 0);
  EXPECT_EQ(error, CouldNotFindHeader);
  EXPECT_EQ(kvx_find_block(stream, 7, -1, found, &error, nullptr), 0)
      << "image 7 of the error chain";
  EXPECT_EQ(error, CouldNotFindHeader);
}

TEST_F(KvxBrowse, HeaderEntriesComeInFileOrderWithContinuationsJoined) {
  const std::string title(600, 't');
  write({1}, {{"Title", title}, {"Note", "a;b{c}\nd"}, {"zeta", "last"}});
  const int stream = open_read();
  KvxBlockInfo block;
  ASSERT_EQ(kvx_find_block(stream, 1, 1, block, nullptr, nullptr), 1);
  KvxBlockHeader header;
  ASSERT_EQ(kvx_read_block_header(stream, block, header, nullptr, nullptr), 1);

  // The order in the file, read straight from its bytes (without "~n").
  std::vector<std::string> written;
  for (const std::string &key : kvxtest::header_keys(kvxtest::read_file(name_), 0))
    if (key.find('~') == std::string::npos) written.push_back(key);
  std::vector<std::string> listed;
  for (const KvxHeaderEntry &entry : header.Entries) listed.push_back(entry.Key);
  EXPECT_EQ(listed, written);

  ASSERT_NE(kvx_header_value(header, "TITLE"), nullptr) << "keys found without regard to case";
  EXPECT_EQ(*kvx_header_value(header, "title"), title) << "the three pieces joined";
  EXPECT_EQ(*kvx_header_value(header, "Note"), "a;b{c}\nd") << "escapes undone";
  EXPECT_EQ(*kvx_header_value(header, "Dim_2"), "3");
  EXPECT_EQ(kvx_header_value(header, "Title~1"), nullptr) << "joined pieces are not listed";
  EXPECT_EQ(kvx_header_value(header, "Missing"), nullptr);
}

TEST_F(KvxBrowse, BinaryDataAreReadWithinTheBlock) {
  write({4, 5});
  const int stream = open_read();
  KvxBlockInfo block;
  ASSERT_EQ(kvx_find_block(stream, 5, 1, block, nullptr, nullptr), 1);
  std::vector<unsigned char> bytes;
  ASSERT_EQ(kvx_read_block_binary(stream, block, 12, bytes, nullptr, nullptr), 1);
  unsigned short data[6];
  std::memcpy(data, bytes.data(), sizeof data);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(data[i], 500 + i);

  struct Case {
    const char *name;
    int stream;
    size_t length;
    int error;
  };
  const Case cases[] = {
      {"the whole binary section", stream, 512, RoutineSucceeded},
      {"one byte beyond it", stream, 513, BadDataBlock},
      {"a length no file holds", stream, SIZE_MAX, BadDataBlock},
      {"stream out of range", 25, 12, InvalidStream},
      {"stream not open", stream + 1, 12, NoFileOpen},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    int error = -99;
    EXPECT_EQ(kvx_read_block_binary(c.stream, block, c.length, bytes, &error, nullptr),
              c.error == RoutineSucceeded ? 1 : 0);
    EXPECT_EQ(error, c.error);
  }

  KvxBlockInfo unknown = block;
  unknown.BlockKey = "6";
  int error = -99;
  EXPECT_EQ(kvx_read_block_binary(stream, unknown, 12, bytes, &error, nullptr), 0);
  EXPECT_EQ(error, CouldNotFindHeader) << "a block the file does not hold";
  KvxBlockHeader header;
  EXPECT_EQ(kvx_read_block_header(stream, unknown, header, &error, nullptr), 0);
  EXPECT_EQ(error, CouldNotFindHeader);
}

TEST_F(KvxBrowse, AHeaderDamagedAfterOpeningIsReportedNotTrusted) {
  write({1});
  const int stream = open_read();
  KvxBlockInfo block;
  ASSERT_EQ(kvx_find_block(stream, 1, 1, block, nullptr, nullptr), 1);
  {
    std::fstream file(name_, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(0);
    file << "X";
  }
  KvxBlockHeader header;
  int error = -99;
  EXPECT_EQ(kvx_read_block_header(stream, block, header, &error, nullptr), 0);
  EXPECT_EQ(error, ReadDataError);
}

TEST_F(KvxBrowse, ExternalBinaryDataAreCheckedAgainstTheFileThatHoldsThem) {
  // One image whose 100 data bytes lie at position 8 of a separate file.
  const std::string binary = dir_.file("data.bin");
  auto block_header = [&](const std::string &length_key) {
    const std::string text =
        "{\r\nKVX_DataBlockID = 1.Image.Psd ;\r\nKVX_BinarySize = 0 ;\r\n"
        "KVX_BinaryFileName = " +
        binary + " ;\r\nKVX_BinaryFilePosition = 8 ;\r\n" + length_key;
    return text + std::string(512 - text.size() - 4, ' ') + "\r\n}\n";
  };
  struct Case {
    const char *name;
    std::string lengthKey;  // "KVX_BinaryFileSize" entry, if any
    size_t fileBytes;       // size of the separate file
    uint64_t held;          // data size the library reports
    size_t length;          // bytes asked for
    int error;
  };
  const Case cases[] = {
      {"1: stated length, file holds it", "KVX_BinaryFileSize = 100 ;", 108, 100, 100,
       RoutineSucceeded},
      {"2: stated length, file cut short", "KVX_BinaryFileSize = 100 ;", 58, 50, 100, BadDataBlock},
      {"3: stated length, file ends before the position", "KVX_BinaryFileSize = 100 ;", 4, 0, 1,
       BadDataBlock},
      {"4: no stated length, up to the end of the file", "", 108, 100, 100, RoutineSucceeded},
      {"5: no stated length, one byte beyond the file", "", 108, 100, 101, BadDataBlock},
      {"6: stated length shorter than the file", "KVX_BinaryFileSize = 30 ;", 108, 30, 31,
       BadDataBlock},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    {
      std::ofstream out(name_, std::ios::binary | std::ios::trunc);
      out << block_header(c.lengthKey);
      std::ofstream data(binary, std::ios::binary | std::ios::trunc);
      data << std::string(c.fileBytes, 'd');
    }
    const int stream = open_read();
    KvxBlockInfo block;
    ASSERT_EQ(kvx_find_block(stream, 1, 1, block, nullptr, nullptr), 1);
    uint64_t held = 0;
    EXPECT_EQ(kvx_read_block_data_size(stream, block, held, nullptr, nullptr), 1);
    EXPECT_EQ(held, c.held) << "what the separate file holds, at most its stated length";
    std::vector<unsigned char> bytes;
    int error = -99;
    EXPECT_EQ(kvx_read_block_binary(stream, block, c.length, bytes, &error, nullptr),
              c.error == RoutineSucceeded ? 1 : 0);
    EXPECT_EQ(error, c.error) << "a length beyond the data is refused before any read";
    if (c.error == RoutineSucceeded) {
      EXPECT_EQ(bytes, std::vector<unsigned char>(c.length, 'd'));
    }
    EXPECT_EQ(kvx_close_data_file(stream, nullptr, nullptr), 1);
  }
}

}  // namespace

namespace {

// A header written by hand: a key given twice (in two spellings) and a
// continuation before its base key.
TEST(KvxBrowseHeader, EntriesOfAHandWrittenHeader) {
  kvxtest::TempDir dir;
  const std::string name = dir.file("hand.kvx");
  const auto entries = [&](int &error) {
    std::vector<std::string> listed;
    const int stream = kvx_open_data_file(name.c_str(), "read", nullptr, nullptr);
    KvxBlockInfo block;
    KvxBlockHeader header;
    error = RoutineSucceeded;
    if (kvx_find_block(stream, 1, 1, block, &error, nullptr) &&
        kvx_read_block_header(stream, block, header, &error, nullptr))
      for (const KvxHeaderEntry &entry : header.Entries)
        listed.push_back(entry.Key + "=" + entry.Value);
    (void)kvx_close_data_file(stream, nullptr, nullptr);
    return listed;
  };
  const std::string text =
      "{\r\nKVX_DataBlockID = 1.Image.Psd ;\r\nKVX_BinarySize = 0 ;\r\nZeta = 1 ;\r\n"
      "Note~1 = two ;\r\nTitle = old ;\r\nNote = one ;\r\nTI TLE = new ;\r\n";
  std::ofstream(name, std::ios::binary)
      << text + std::string(512 - text.size() - 4, ' ') + "\r\n}\n";
  int error = RoutineSucceeded;
  EXPECT_EQ(entries(error),
            (std::vector<std::string>{"KVX_DataBlockID=1.Image.Psd", "KVX_BinarySize=0", "Zeta=1",
                                      "Note=onetwo", "Title=new"}))
      << "file order, a key given twice where it was last given, continuations joined";
  EXPECT_EQ(error, RoutineSucceeded);
}

// A "}" in the padding ends the header only when a line end follows it,
// as it does for the tokenizer that reads headers from the stream.  The
// block is the second of its file: the walk reads only its leading
// "KVX_" keys.
TEST(KvxBrowseHeader, ABraceInThePaddingIsNoHeaderEnd) {
  kvxtest::TempDir dir;
  const std::string name = dir.file("brace.kvx");
  const auto block = [](int number, const std::string &padding) {
    const std::string text = "{\r\nKVX_DataBlockID = " + std::to_string(number) +
                             ".Image.Psd ;\r\nKVX_BinarySize = 0 ;\r\nTitle = t ;\r\n" + padding;
    return text + std::string(512 - text.size() - 4, ' ') + "\r\n}\n";
  };
  for (const auto &[padding, readable] : std::vector<std::pair<std::string, bool>>{
           {"   ", true}, {" }  ", false}, {" } \r\n ", false}, {" }\r\n  ", true}}) {
    SCOPED_TRACE("padding \"" + padding + "\"");
    std::ofstream(name, std::ios::binary) << block(1, "") + block(2, padding);
    const int stream = kvx_open_data_file(name.c_str(), "read", nullptr, nullptr);
    KvxBlockInfo info;
    KvxBlockHeader header;
    ASSERT_EQ(kvx_find_block(stream, 2, 1, info, nullptr, nullptr), 1);
    EXPECT_EQ(kvx_read_block_header(stream, info, header, nullptr, nullptr), readable ? 1 : 0);
    (void)kvx_close_data_file(stream, nullptr, nullptr);
  }
}

}  // namespace
