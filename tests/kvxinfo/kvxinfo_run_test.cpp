// kvxinfo run as a user runs it: listing and header of converted files,
// exit statuses and messages.
#include <gtest/gtest.h>

#include <sstream>

#include "kvxinfo_test_util.h"

namespace {

using namespace kvxinfotest;

TEST_F(KvxinfoTest, ListsEveryConvertedFrameWithATotal) {
  convert(3, 64, 32, 4);
  const Outcome run = kvxinfo({"gasdet001.kvx"});
  ASSERT_EQ(run.exit, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "Image  Chain      Dimensions  DataType         ByteOrder      Compression  HeaderPos  "
            "HeaderSize  BinarySize\n"
            "1      Image.Psd  64x32       UnsignedInteger  HighByteFirst  None                 0  "
            "      8192        8192\n"
            "2      Image.Psd  64x32       UnsignedInteger  HighByteFirst  None             16384  "
            "      8192        8192\n"
            "3      Image.Psd  64x32       UnsignedInteger  HighByteFirst  None             32768  "
            "      8192        8192\n"
            "total: 3 blocks, 49152 bytes\n");
}

}  // namespace

namespace {

using namespace kvxinfotest;

// The keys of the header at `start` of `file`, in the order they stand.
std::vector<std::string> keys_in_file(const std::string &file, size_t start) {
  std::vector<std::string> keys;
  const size_t stop = file.find("\r\n}\n", start);
  for (size_t pos = file.find("\r\n", start) + 2; pos < stop;) {
    const size_t eq = file.find(" = ", pos);
    const size_t end = file.find(" ;\r\n", pos);
    if (eq == std::string::npos || end == std::string::npos || eq > end) break;
    keys.push_back(file.substr(pos, eq - pos));
    pos = end + 4;
  }
  return keys;
}

TEST_F(KvxinfoTest, HeaderOfAConvertedImageInFileOrder) {
  convert(2, 8, 4, 2);
  const Outcome run = kvxinfo({"-k", "gasdet001.kvx", "2"});
  ASSERT_EQ(run.exit, 0) << run.err;
  EXPECT_EQ(run.err, "");
  std::vector<std::string> listed;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    const size_t eq = line.find(" = ");
    ASSERT_NE(eq, std::string::npos) << line;
    listed.push_back(line.substr(0, eq));
  }
  const std::string file = read_file(path("gasdet001.kvx"));
  EXPECT_EQ(listed, keys_in_file(file, 8192 + 512)) << "every key of image 2, as it stands";
  for (const char *line : {"KVX_DataBlockID = 2.Image.Psd\n", "Dim_1 = 8\n", "Dim_2 = 4\n",
                           "DataType = UnsignedShort\n", "HeaderID = EH:000002:000000:000000\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line;
  }
}

TEST_F(KvxinfoTest, HeaderValuesAreDecodedJoinedAndKeptOnTheirLine) {
  const std::string title = std::string(300, 'a') + std::string(300, 'b');
  const std::vector<uint8_t> pixels(4, 0);
  ASSERT_TRUE(write_image(path("a.kvx").string(), 5, {2, 2, 2}, pixels.data(), Unsigned8,
                          LowByteFirst,
                          {{"Title", title},
                           {"Note", "a;b{c}\\d"},
                           {"Lines", "one\ntwo\r\n"},
                           {"Bell", "ring\x07"},
                           {"Text", "one\\ntwo\\x07"},
                           {"Spaced", " padded "}}));
  const Outcome run = kvxinfo({"-k", "a.kvx", "5"});
  ASSERT_EQ(run.exit, 0) << run.err;
  for (const std::string &line :
       {"Title = " + title + "\n", std::string("Note = a;b{c}\\\\d\n"),
        std::string("Lines = one\\ntwo\\n\n"), std::string("Bell = ring\\x07\n"),
        // The text of an escape is not taken for the escape itself.
        std::string("Text = one\\\\ntwo\\\\x07\n"), std::string("Spaced =  padded \n")}) {
    EXPECT_NE(run.out.find("\n" + line), std::string::npos) << line << "in\n" << run.out;
  }
  EXPECT_EQ(run.out.find("Title~"), std::string::npos) << "continuation keys are joined";
}

}  // namespace
