// Everything kvxinfo refuses: wrong command lines, files it cannot read,
// images it cannot show, pictures it cannot write.  Each ends with a message
// and an exit status, and never with a partial or changed picture.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "kvxinfo_test_util.h"

namespace {

using namespace kvxinfotest;

TEST_F(KvxinfoTest, WrongCommandLinesShowTheUsage) {
  const std::vector<std::vector<std::string>> lines = {
      {},
      {"-k", "a.kvx"},
      {"-k", "a.kvx", "1", "2"},
      {"--png"},
      {"--png", "o.png", "a.kvx"},
      {"-k", "--png", "o.png", "a.kvx", "1"},
      {"--log", "a.kvx"},
      {"-k", "a.kvx", "one"},
      {"-k", "a.kvx", "99999999999999999999999"},
      {"-x", "a.kvx"},
      {"--format", "xml", "a.kvx"},
      {"--keys", "Time,,Title", "a.kvx"},
      {"--keys"},
      {"--format=csv", "-k", "a.kvx", "1"},
      {"--stats", "--png", "o.png", "a.kvx", "1"},
      {"--png", "o.png", "a.kvx", "1:3"},
      {"--max-image-bytes=0", "a.kvx"},
      {"--max-image-bytes", "12k", "a.kvx"},
      {"--png", "o%d.png", "a.kvx", "3:1"},
      {"--log=yes", "--png", "o.png", "a.kvx", "1"},
      {"--repair"},
      {"--repair", "a.kvx", "1"},
      {"--repair", "-k", "a.kvx", "1"},
      {"--repair", "--png", "o.png", "a.kvx", "1"},
  };
  for (size_t n = 0; n < lines.size(); ++n) {
    SCOPED_TRACE(n);
    const Outcome run = kvxinfo(lines[n]);
    EXPECT_EQ(run.exit, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("kvxinfo: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("Usage: kvxinfo FILE...\n"), std::string::npos) << run.err;
  }
  for (const char *help : {"-h", "--help"}) {
    const Outcome run = kvxinfo({help});
    EXPECT_EQ(run.exit, 0);
    EXPECT_EQ(run.out.rfind("Usage: kvxinfo FILE...\n", 0), 0u);
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(KvxinfoTest, FilesAndImagesThatCannotBeShown) {
  const std::vector<uint8_t> bytes(20, 1);
  ASSERT_TRUE(
      write_image(path("good.kvx").string(), 1, {2, 10, 2}, bytes.data(), Unsigned8, LowByteFirst));
  ASSERT_TRUE(
      write_image(path("vax.kvx").string(), 1, {2, 5, 1}, bytes.data(), FloatVAX32, LowByteFirst));
  fs::copy_file(path("good.kvx"), path("type.kvx"));
  patch(path("type.kvx"), "DataType = UnsignedByte", "DataType = NoSuchTypeXY");
  fs::copy_file(path("good.kvx"), path("short.kvx"));
  patch(path("short.kvx"), "Dim_1 = 10 ;", "Dim_1 = 900;");
  const std::vector<uint8_t> row(100000, 1);
  ASSERT_TRUE(write_image(path("wide.kvx").string(), 1, {2, 100000, 1}, row.data(), Unsigned8,
                          LowByteFirst));
  patch(path("wide.kvx"), "Dim_1 = 100000 ;", "Dim_1 = 2000000;");
  ASSERT_TRUE(write_image(path("cube.kvx").string(), 1, {3, 10, 1, 2}, bytes.data(), Unsigned8,
                          LowByteFirst));
  fs::copy_file(path("good.kvx"), path("order.kvx"));
  patch(path("order.kvx"), "ByteOrder = LowByteFirst", "ByteOrder = SidewayFirst");
  std::vector<uint8_t> ramp(4096);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i / 64);
  ASSERT_TRUE(write_image(path("zip.kvx").string(), 1, {2, 64, 64}, ramp.data(), Unsigned8,
                          LowByteFirst, {}, GzipCompression));
  fs::copy_file(path("zip.kvx"), path("more.kvx"));
  patch(path("more.kvx"), "Dim_2 = 64 ;", "Dim_2 = 63 ;");
  fs::copy_file(path("zip.kvx"), path("less.kvx"));
  patch(path("less.kvx"), "Dim_2 = 64 ;", "Dim_2 = 65 ;");
  {
    std::string zip = read_file(path("zip.kvx"));
    zip[8192 + 20] ^= 0x55;  // inside the deflate stream
    write_file(path("damaged.kvx"), zip);
  }
  write_file(path("text.kvx"), "this is not a KVX file\n");
  write_file(path("cut.kvx"), "{\r\nKVX_DataBlockID = 1.Image.Psd");
  fs::create_directory(path("folder"));
  ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0) << "a pipe that no one writes to";

  struct Case {
    std::vector<std::string> args;
    std::string message;
    int exit = KvxinfoFailed;
  };
  const std::vector<Case> cases = {
      {{"missing.kvx"}, "kvxinfo: missing.kvx: No such file or directory\n"},
      {{"folder"}, "kvxinfo: folder: Is a directory\n"},
      {{"pipe"}, "kvxinfo: pipe: not a regular file\n"},
      {{"/dev/zero"}, "kvxinfo: /dev/zero: not a regular file\n"},
      {{"text.kvx"}, "kvxinfo: text.kvx: not a KVX file\n"},
      {{"-k", "text.kvx", "1"}, "kvxinfo: text.kvx: not a KVX file\n"},
      {{"cut.kvx"},
       "kvxinfo: cut.kvx: incomplete last block: at position 0 (32 bytes); no run holds "
       "the file: kvxinfo --repair cuts it off\n",
       KvxinfoNeedsRepair},
      {{"-k", "good.kvx", "2"}, "kvxinfo: good.kvx: no image 2\n"},
      {{"--png", "o.png", "good.kvx", "-1"}, "kvxinfo: good.kvx: no image -1\n"},
      {{"--png", "o.png", "vax.kvx", "1"},
       "kvxinfo: vax.kvx: image 1: data type FloatVAX32 cannot be shown as numbers\n"},
      {{"--png", "o.png", "type.kvx", "1"},
       "kvxinfo: type.kvx: image 1: unknown data type \"NoSuchTypeXY\"\n"},
      {{"--png", "o.png", "order.kvx", "1"},
       "kvxinfo: order.kvx: image 1: unknown byte order \"SidewayFirst\"\n"},
      {{"--png", "o.png", "short.kvx", "1"},
       "kvxinfo: short.kvx: image 1: the binary section is shorter than the image's 1800 "
       "bytes\n",
       KvxinfoDamaged},
      {{"--png", "o.png", "wide.kvx", "1"},
       "kvxinfo: wide.kvx: image 1: the image is wider or higher than 1000000 pixels\n"},
      {{"--png", "o.png", "cube.kvx", "1"},
       "kvxinfo: cube.kvx: image 1: Dim_3 is 2: only two-dimensional images can be shown\n"},
      {{"--png", "o.png", "more.kvx", "1"},
       "kvxinfo: more.kvx: image 1: the compressed data are damaged or do not hold the image's "
       "4032 bytes\n",
       KvxinfoDamaged},
      {{"--png", "o.png", "less.kvx", "1"},
       "kvxinfo: less.kvx: image 1: the compressed data are damaged or do not hold the image's "
       "4160 bytes\n",
       KvxinfoDamaged},
      {{"--png", "o.png", "damaged.kvx", "1"},
       "kvxinfo: damaged.kvx: image 1: the compressed data are damaged or do not hold the "
       "image's 4096 bytes\n",
       KvxinfoDamaged},
  };
  for (size_t n = 0; n < cases.size(); ++n) {
    const Case &c = cases[n];
    SCOPED_TRACE(std::to_string(n) + ": " + c.args.back());
    const Outcome run = kvxinfo(c.args);
    EXPECT_EQ(run.exit, c.exit);
    // The library may have described a damaged file before.
    EXPECT_TRUE(run.err.ends_with(c.message)) << run.err;
    EXPECT_FALSE(fs::exists(path("o.png"))) << "no picture of a failure";
  }
}

TEST_F(KvxinfoTest, APictureThatCannotBeWrittenLeavesNothingBehind) {
  const std::vector<uint8_t> bytes(20, 1);
  ASSERT_TRUE(
      write_image(path("good.kvx").string(), 1, {2, 10, 2}, bytes.data(), Unsigned8, LowByteFirst));
  fs::create_directory(path("taken.png"));
  write_file(path("old.png"), "old picture");
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--png", "nodir/out.png", "good.kvx", "1"},
       "kvxinfo: nodir/out.png: cannot be written: No such file or directory\n"},
      {{"--png", "taken.png", "good.kvx", "1"},
       "kvxinfo: taken.png: cannot be written: Is a directory\n"},
      {{"--png", "old.png", "good.kvx", "7"}, "kvxinfo: good.kvx: no image 7\n"},
      {{"--png", "./good.kvx", "good.kvx", "1"},
       "kvxinfo: ./good.kvx: is the file to show; the picture would replace it\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args[1]);
    const Outcome run = kvxinfo(c.args);
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(run.err, c.message);
  }
  EXPECT_EQ(read_file(path("old.png")), "old picture") << "an existing picture is kept";
  EXPECT_EQ(read_file(path("good.kvx")).substr(0, 2), "{\r") << "the data are kept";
  EXPECT_TRUE(fs::is_empty(path("taken.png")));
  size_t files = 0;
  for ([[maybe_unused]] const auto &entry : fs::directory_iterator(dir_)) ++files;
  EXPECT_EQ(files, 6u) << "good.kvx, taken.png, old.png and the three streams: no temporary file";
}

TEST_F(KvxinfoTest, ListingOfADamagedFileSaysWhatIsMissing) {
  convert(2, 8, 4, 2);
  std::string file = read_file(path("gasdet001.kvx"));
  write_file(path("tail.kvx"), file + "garbage after the last block");
  const Outcome tail = kvxinfo({"tail.kvx"});
  EXPECT_EQ(tail.exit, KvxinfoDamaged);
  EXPECT_NE(tail.out.find("total: 2 blocks, 17408 bytes\n"), std::string::npos) << tail.out;
  EXPECT_TRUE(
      tail.err.ends_with("kvxinfo: tail.kvx: damaged at position 17408: no block starts "
                         "here (the 28 bytes from there on are not read)\n"))
      << tail.err;

  write_file(path("empty.kvx"), "");
  const Outcome empty = kvxinfo({"empty.kvx"});
  EXPECT_EQ(empty.exit, 0) << "an empty file is a KVX file without blocks";
  EXPECT_NE(empty.out.find("total: 0 blocks, 0 bytes\n"), std::string::npos) << empty.out;
}

}  // namespace

namespace {

using namespace kvxinfotest;

TEST_F(KvxinfoTest, APictureCutShortByAFullDiskKeepsTheOldOne) {
  std::vector<uint8_t> noise(128 * 128);
  uint32_t state = 1;
  for (auto &pixel : noise)
    pixel = static_cast<uint8_t>((state = state * 1103515245 + 12345) >> 16);
  ASSERT_TRUE(write_image(path("noise.kvx").string(), 1, {2, 128, 128}, noise.data(), Unsigned8,
                          LowByteFirst));
  write_file(path("old.png"), "old picture");
  // Files may grow to 1 KiB only; the picture needs more.  Whether or not
  // the shell lets the limit's signal kill, kvxinfo sees a failed write.
  for (const char *shell :
       {"ulimit -f 1; trap '' XFSZ; exec \"$0\" \"$@\"", "ulimit -f 1; exec \"$0\" \"$@\""}) {
    SCOPED_TRACE(shell);
    const Outcome run =
        run_program("sh", {"-c", shell, KVXINFO_BIN_PATH, "--png", "old.png", "noise.kvx", "1"});
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(run.err, "kvxinfo: old.png: cannot be written: File too large\n");
    EXPECT_EQ(read_file(path("old.png")), "old picture");
    size_t files = 0;
    for ([[maybe_unused]] const auto &entry : fs::directory_iterator(dir_)) ++files;
    EXPECT_EQ(files, 5u) << "noise.kvx, old.png and the three streams: no temporary file";
  }
}

}  // namespace

namespace {

using namespace kvxinfotest;

// Address space limits from too small to start the program up to plenty:
// at every limit kvxinfo either writes the picture or says it ran out of
// memory; it is never aborted.
TEST_F(KvxinfoTest, RunningOutOfMemoryIsReportedAtEveryStep) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer reserves far more address space than any limit tried here";
#else
  constexpr long kSide = 2000;
  const std::vector<uint8_t> pixels(kSide * kSide, 9);
  ASSERT_TRUE(write_image(path("big.kvx").string(), 1, {2, kSide, kSide}, pixels.data(), Unsigned8,
                          LowByteFirst));
  int pictures = 0, out_of_memory = 0;
  for (int mib = 4; mib <= 48; mib += 2) {
    SCOPED_TRACE("ulimit -v " + std::to_string(mib) + " MiB");
    const Outcome run =
        run_program("sh", {"-c", "ulimit -v " + std::to_string(mib * 1024) + "; exec \"$0\" \"$@\"",
                           KVXINFO_BIN_PATH, "--png", "big.png", "big.kvx", "1"});
    if (run.err.find("error while loading shared libraries") != std::string::npos) continue;
    if (run.exit == 0) {
      ++pictures;
      continue;
    }
    EXPECT_EQ(run.exit, 1) << run.err;
    // The reader, the grey levels and libpng each word it their own way.
    EXPECT_NE(run.err.find("emory"), std::string::npos) << run.err;
    ++out_of_memory;
  }
  EXPECT_GT(out_of_memory, 0) << "the smallest limits that start the program are too small";
  EXPECT_GT(pictures, 0) << "48 MiB are enough for the picture";
#endif
}

}  // namespace
