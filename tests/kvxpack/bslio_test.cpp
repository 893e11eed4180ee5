#include "bslio.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kvxio.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

const char kIndicator[] = "512 512 3 0 0 0 0 0 0 0";

using testsupport::read_file;
using testsupport::write_file;

// Each test works in a fresh directory and leaves the table empty.
class BslioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bsl_reset_table();
    ASSERT_FALSE(dir_.empty()) << "no scratch folder";
  }
  void TearDown() override { bsl_reset_table(); }

  std::string make(const std::string &content, const std::string &name = "set.bsl") {
    write_file(dir_ / name, content);
    return (dir_ / name).string();
  }

  testsupport::ScratchDir scratch_{"bslio"};
  fs::path dir_ = scratch_.path();
};

TEST_F(BslioTest, DescribesTheFramesOfTheExample) {
  const std::string name = make(std::string("title\nsubtitle\n") + kIndicator + "\ndata.bin\n");
  const int stream = open_bsl_file(name.c_str(), "read");
  ASSERT_GE(stream, 0);

  const char *first = nullptr, *second = nullptr;
  read_bsl_file_headers(stream, &first, &second);
  EXPECT_STREQ(first, "title");
  EXPECT_STREQ(second, "subtitle");

  long low = 0, high = 0;
  ASSERT_EQ(bsl_memory_range(stream, &low, &high), 0);
  EXPECT_EQ(low, 1);
  EXPECT_EQ(high, 1);
  ASSERT_EQ(bsl_frame_range(stream, 1, &low, &high), 0);
  EXPECT_EQ(low, 1);
  EXPECT_EQ(high, 3);

  const BslDataSpec *desc = read_bsl_data_spec(stream, 1, 3);
  ASSERT_NE(desc, nullptr);
  EXPECT_EQ(desc->BinaryFileName, (dir_ / "data.bin").string());
  EXPECT_EQ(desc->BinaryFilePos, 2097152u);
  EXPECT_EQ(desc->BinaryFileLen, 1048576u);
  EXPECT_EQ(desc->Dim, (std::vector<long>{2, 512, 512}));
  EXPECT_EQ(desc->DataType, FloatIEEE32);
  EXPECT_EQ(desc->ByteOrder, kvx_byteorder());
  EXPECT_EQ(desc->RasterConfiguration, 1);
  EXPECT_EQ(desc->Compression, UnCompressed);
  EXPECT_EQ(read_bsl_data_spec(stream, 1, 1)->BinaryFilePos, 0u);
  EXPECT_EQ(read_bsl_data_spec(stream, 1, 4), nullptr) << "only three frames";
  EXPECT_EQ(read_bsl_data_spec(stream, 2, 1), nullptr) << "only one memory";

  EXPECT_EQ(close_bsl_file(stream), 0);
  EXPECT_EQ(read_bsl_data_spec(stream, 1, 3), nullptr) << "closed slots describe nothing";
  read_bsl_file_headers(stream, &first, &second);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(second, nullptr);
}

TEST_F(BslioTest, TwelveMemoriesKeepTheirOwnFrames) {
  std::string content = "t\ns\n";
  for (int m = 1; m <= 12; ++m)
    content += std::to_string(m) + " 2 " + std::to_string(m) + " 0 0 0 0 0 0 0\n" +
               std::to_string(m) + ".bin\n";
  const int stream = open_bsl_file(make(content).c_str(), "old");
  ASSERT_GE(stream, 0);
  long low = 0, high = 0;
  ASSERT_EQ(bsl_memory_range(stream, &low, &high), 0);
  EXPECT_EQ(low, 1);
  EXPECT_EQ(high, 12) << "memory keys sort as text, the range is numeric";
  for (long m = 1; m <= 12; ++m) {
    SCOPED_TRACE(m);
    ASSERT_EQ(bsl_frame_range(stream, m, &low, &high), 0);
    EXPECT_EQ(low, 1);
    EXPECT_EQ(high, m);
    const BslDataSpec *last = read_bsl_data_spec(stream, m, m);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->BinaryFileName, (dir_ / (std::to_string(m) + ".bin")).string());
    EXPECT_EQ(last->BinaryFilePos, static_cast<std::uint64_t>(m * 2 * 4 * (m - 1)));
    EXPECT_EQ(last->Dim, (std::vector<long>{2, m, 2}));
  }
  EXPECT_EQ(bsl_frame_range(stream, 13, &low, &high), -1);
}

TEST_F(BslioTest, RangesOfMissingMemoriesAndFramesFail) {
  std::string content = "t\ns\n";
  for (int m = 1; m <= 3; ++m) content += std::string("4 4 0 0 0 0 0 0 0 0\nf.bin\n");
  const int stream = open_bsl_file(make(content).c_str(), "read");
  ASSERT_GE(stream, 0);
  long low = 0, high = 0;
  EXPECT_EQ(bsl_frame_range(stream, 5, &low, &high), -1) << "memory 5 of three";
  EXPECT_EQ(bsl_frame_range(stream, 2, &low, &high), -1) << "a memory without frames";
  EXPECT_EQ(bsl_memory_range(stream + 1, &low, &high), -1) << "a free slot";
  EXPECT_EQ(bsl_memory_range(-1, &low, &high), -1);
  EXPECT_EQ(bsl_memory_range(20, &low, &high), -1);
}

TEST_F(BslioTest, HeaderLinesAreTrimmedCutAndTheLastNeedsALineFeed) {
  struct Case {
    const char *what;
    std::string content;
    std::string first, second;
    int memories;  // -1: bsl_memory_range fails
  };
  const std::string long_title(600, 'x');
  const std::vector<Case> cases = {
      {"trimmed, cut at CR", "  a b \r rest\n\tsub \n", "a b", "sub", -1},
      {"only the two title lines", "t\ns\n", "t", "s", -1},
      {"indicator without file line", std::string("t\ns\n") + kIndicator + "\n", "t", "s", -1},
      {"file line without line feed", std::string("t\ns\n") + kIndicator + "\nd.bin", "t", "s", -1},
      {"title of 600 characters cut to 511", long_title + "\ns\n", long_title.substr(0, 511), "s",
       -1},
      {"nine integers and a word make ten", "t\ns\n1 1 1 0 0 0 0 0 0 x\nd.bin\n", "t", "s", 1},
      {"CR LF line ends", std::string("t\r\ns\r\n") + kIndicator + "\r\nd.bin\r\n", "t", "s", 1},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(std::to_string(i) + ": " + c.what);
    const int stream = open_bsl_file(make(c.content).c_str(), "read");
    ASSERT_GE(stream, 0);
    const char *first = nullptr, *second = nullptr;
    read_bsl_file_headers(stream, &first, &second);
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(second, c.second);
    long low = 0, high = 0;
    EXPECT_EQ(bsl_memory_range(stream, &low, &high), c.memories < 0 ? -1 : 0);
    if (c.memories > 0) {
      EXPECT_EQ(high, c.memories);
      EXPECT_EQ(read_bsl_data_spec(stream, 1, 1)->BinaryFileName, (dir_ / "d.bin").string());
    }
    EXPECT_EQ(close_bsl_file(stream), 0);
  }
}

TEST_F(BslioTest, BadHeadersAndModesFailAndLeaveTheFileAlone) {
  struct Case {
    const char *what;
    std::string content;
    const char *mode;
  };
  const std::string ok = std::string("t\ns\n") + kIndicator + "\nd.bin\n";
  const std::vector<Case> cases = {
      {"empty file", "", "read"},
      {"one line", "title\n", "read"},
      {"two lines, the second without line feed", "title\nsub", "read"},
      {"nine integers", "t\ns\n512 512 3 0 0 0 0 0 0\nd.bin\n", "read"},
      {"no integers", "t\ns\nabc\nd.bin\n", "read"},
      {"width 0", "t\ns\n0 512 3 0 0 0 0 0 0 0\nd.bin\n", "read"},
      {"height -1", "t\ns\n512 -1 3 0 0 0 0 0 0 0\nd.bin\n", "read"},
      {"frame size beyond 64 bits", "t\ns\n4294967296 4294967296 1 0 0 0 0 0 0 0\nd.bin\n", "read"},
      {"frame positions beyond 64 bits", "t\ns\n65536 65536 4294967296 0 0 0 0 0 0 0\nd.bin\n",
       "read"},
      {"too many frames to hold", "t\ns\n1 1 2000000000 0 0 0 0 0 0 0\nd.bin\n", "read"},
      {"file line of 600 characters",
       "t\ns\n" + std::string(kIndicator) + "\n" + std::string(600, 'f') + "\n", "read"},
      {"mode rw", ok, "rw"},
      {"mode new", ok, "new"},
      {"mode empty", ok, ""},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(std::to_string(i) + ": " + c.what);
    const std::string name = make(c.content);
    EXPECT_EQ(open_bsl_file(name.c_str(), c.mode), -1);
    EXPECT_EQ(read_file(name), c.content) << "the header file is unchanged";
  }
  long low = 0, high = 0;
  EXPECT_EQ(bsl_memory_range(0, &low, &high), -1) << "failed opens leave their slot free";
}

TEST_F(BslioTest, NamesThatCannotBeOpened) {
  const std::string missing = (dir_ / "missing.bsl").string();
  for (const char *mode : {"read", "old", "any", "new"}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(open_bsl_file(missing.c_str(), mode), -1);
    EXPECT_FALSE(fs::exists(missing)) << "no file is created";
  }
  EXPECT_EQ(open_bsl_file(dir_.string().c_str(), "read"), -1) << "a directory";
  const std::string long_name = (dir_ / std::string(600, 'n')).string();
  EXPECT_EQ(open_bsl_file(long_name.c_str(), "read"), -1);
  const std::string at_limit = "/" + std::string(511, 'n');
  EXPECT_EQ(open_bsl_file(at_limit.c_str(), "read"), -1) << "512 characters";
  EXPECT_EQ(open_bsl_file(nullptr, "read"), -1);
}

TEST_F(BslioTest, RelativeNamesTakeTheWorkingDirectory) {
  make(std::string("t\ns\n") + kIndicator + "\nd.bin\n");
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  const int stream = open_bsl_file("set.bsl", "any");
  fs::current_path(before);
  ASSERT_GE(stream, 0);
  EXPECT_EQ(read_bsl_data_spec(stream, 1, 2)->BinaryFileName,
            (fs::canonical(dir_) / "d.bin").string());
}

TEST_F(BslioTest, TwentyStreamsAtATime) {
  const std::string name = make("t\ns\n");
  std::vector<int> streams;
  for (int i = 0; i < 20; ++i) {
    streams.push_back(open_bsl_file(name.c_str(), "read"));
    EXPECT_EQ(streams.back(), i);
  }
  EXPECT_EQ(open_bsl_file(name.c_str(), "read"), -1) << "the 21st open";
  EXPECT_EQ(close_bsl_file(7), 0);
  EXPECT_EQ(open_bsl_file(name.c_str(), "read"), 7) << "the freed slot is taken again";
  EXPECT_EQ(close_bsl_file(25), 0) << "a stream that is not open";
}

TEST_F(BslioTest, CompareModes) {
  struct Case {
    std::string a, b;
    int mode;
    int sign;
  };
  const std::string long_a = std::string(80, 'k') + "a", long_b = std::string(80, 'k') + "b";
  const Case cases[] = {
      {"a", "A", BslCaseSensitive, 1},     {"a", "A", BslCaseInsensitive, 0},
      {"10", "9", BslCaseInsensitive, -1}, {"10", "9", BslNumber, 1},
      {"-3", "2", BslNumber, -1},          {"x10", "x9", BslNumber, -1},
      {"7", "7a", BslNumber, -1},          {long_a, long_b, BslCaseSensitive, 0},
      {long_a, long_b, BslNumber, 0},      {"abc", "ABD", BslCaseInsensitive, -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.a + " vs " + c.b + " mode " + std::to_string(c.mode));
    const int r = bsl_compare_keys(c.a, c.b, c.mode);
    EXPECT_EQ((r > 0) - (r < 0), c.sign);
  }
  EXPECT_EXIT(bsl_compare_keys("a", "b", 3), ::testing::ExitedWithCode(255),
              "compare: Invalid smode");
}

TEST_F(BslioTest, TableListing) {
  auto listing = [](int level, int verbose) {
    char *text = nullptr;
    size_t size = 0;
    std::FILE *out = open_memstream(&text, &size);
    print_bsl_filetable(out, level, verbose);
    std::fclose(out);
    std::string result(text, size);
    std::free(text);
    return result;
  };
  EXPECT_EQ(listing(1, 0), "Bsl file table is not initialized\n");
  const std::string name = make(std::string("t\ns\n") + "3 2 2 0 0 0 0 0 0 0\nd.bin\n");
  ASSERT_EQ(open_bsl_file(name.c_str(), "read"), 0);
  EXPECT_EQ(listing(0, 1), "");
  const std::string head = "Stream               = 0\nName                 = \"" + name + "\"\n";
  EXPECT_EQ(listing(1, 0).rfind(head, 0), 0u) << listing(1, 0);
  EXPECT_EQ(listing(1, 0).find("MemoryKey"), std::string::npos);
  const std::string compact = listing(3, 0);
  EXPECT_NE(compact.find(" MemoryKey           = 1\n  FrameKey           = 1\n"
                         "  FrameKey           = 2\n"),
            std::string::npos)
      << compact;
  const std::string full = listing(3, 1);
  EXPECT_NE(full.find("    BinaryFileName      = \"" + (dir_ / "d.bin").string() + "\"\n"),
            std::string::npos)
      << full;
  EXPECT_NE(full.find("    BinaryFilePos       = 24\n"), std::string::npos) << full;
}

}  // namespace
