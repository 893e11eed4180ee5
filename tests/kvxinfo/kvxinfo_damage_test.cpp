// What every mode of kvxinfo that reads a file says about damage, image
// numbers held twice and the limits, and the true values it shows.
#include <gtest/gtest.h>

#include "kvxinfo_test_util.h"

namespace {

using namespace kvxinfotest;

TEST_F(KvxinfoTest, DamageGivesItsMessageAndStatusInEveryMode) {
  convert(3, 8, 4, 2);
  const std::string whole = read_file(path("gasdet001.kvx"));
  std::string start = whole;
  start.replace(2 * Block, 4, "XXXX");  // the third block's header start
  write_file(path("start.kvx"), start);
  struct Shape {
    const char *file;
    std::string from, to;  // the first block's binary size, changed
    std::string message;
  };
  const std::vector<Shape> shapes = {
      {"start.kvx", "", "",
       "kvxinfo: start.kvx: damaged at position 17408: no block starts here (the 8704 bytes from "
       "there on are not read)\n"},
      {"minus.kvx", "= 512 ;", "= -1  ;",
       "kvxinfo: minus.kvx: damaged at position 0: the block here cannot be read (the 26112 bytes "
       "from there on are not read)\n"},
      {"exponent.kvx", "= 512 ;", "= 1e3 ;", ""},
      {"power.kvx", "= 512 ;", "= 2^64;", ""},
  };
  for (const Shape &shape : shapes) {
    if (shape.from.empty()) continue;
    write_file(path(shape.file), whole);
    patch(path(shape.file), shape.from, shape.to);
  }
  const std::vector<std::vector<std::string>> modes = {
      {}, {"--keys", "HMFrame", "--format", "csv"}, {"--stats", "--format", "json"}};
  for (const Shape &shape : shapes) {
    for (const auto &mode : modes) {
      SCOPED_TRACE(std::string(shape.file) + (mode.empty() ? "" : " " + mode.front()));
      std::vector<std::string> args = mode;
      args.push_back(shape.file);
      const Outcome run = kvxinfo(args);
      EXPECT_EQ(run.exit, KvxinfoDamaged) << run.err;
      EXPECT_NE(run.err.find(std::string("kvxinfo: ") + shape.file + ": damaged at position "),
                std::string::npos)
          << run.err;
      if (!shape.message.empty()) {
        EXPECT_TRUE(run.err.ends_with(shape.message)) << run.err;
      }
      if (shape.file == std::string("start.kvx")) {
        EXPECT_NE(run.out.find("Image.Psd"), std::string::npos) << "the whole blocks are shown";
      }
    }
  }
  // An intact image of a damaged file is shown, and the damage reported.
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"-k", "start.kvx", "1"}, {"--png", "-", "start.kvx", "1"}}) {
    SCOPED_TRACE(args.front());
    const Outcome run = kvxinfo(args);
    EXPECT_EQ(run.exit, KvxinfoDamaged);
    EXPECT_FALSE(run.out.empty());
    EXPECT_TRUE(run.err.ends_with(shapes[0].message)) << run.err;
  }
}

TEST_F(KvxinfoTest, AnImageNumberHeldTwiceIsListedTwiceAndReported) {
  convert(3, 8, 4, 2);
  write_file(path("f.kvx"), read_file(path("gasdet001.kvx")));
  patch(path("f.kvx"), "KVX_DataBlockID = 2.Image.Psd", "KVX_DataBlockID = 1.Image.Psd");
  const std::string before = read_file(path("f.kvx"));
  const std::string warning = "kvxinfo: f.kvx: image 1 appears 2 times\n";
  struct Mode {
    std::vector<std::string> args;
    std::string rows;  // what both blocks of image 1 show
  };
  const std::vector<Mode> modes = {
      {{"f.kvx"}, "1      Image.Psd  8x4"},
      {{"--keys", "HMFrame", "--format", "csv", "f.kvx"}, "f.kvx,1,Image.Psd,"},
      {{"--stats", "f.kvx"}, "f.kvx      1  Image.Psd      32"},
  };
  for (const Mode &mode : modes) {
    SCOPED_TRACE(mode.args.front());
    const Outcome run = kvxinfo(mode.args);
    EXPECT_EQ(run.exit, KvxinfoDamaged);
    EXPECT_EQ(run.err, warning);
    const size_t first = run.out.find(mode.rows);
    ASSERT_NE(first, std::string::npos) << run.out;
    EXPECT_NE(run.out.find(mode.rows, first + 1), std::string::npos) << "both blocks\n" << run.out;
  }
  EXPECT_NE(kvxinfo({"f.kvx"}).out.find("total: 3 blocks, 26112 bytes"), std::string::npos);
  const Outcome repair = kvxinfo({"--repair", "f.kvx"});
  EXPECT_EQ(repair.exit, KvxinfoDamaged);
  EXPECT_TRUE(repair.err.starts_with(warning)) << repair.err;
  EXPECT_TRUE(read_file(path("f.kvx")) == before) << "left unchanged";
}

TEST_F(KvxinfoTest, StatsAndPicturesShowTrueValues) {
  const std::vector<uint8_t> stored = {0, 1, 2, 3};
  ASSERT_TRUE(write_image(path("o.kvx").string(), 1, {2, 2, 2}, stored.data(), Unsigned8,
                          LowByteFirst, {{"Dummy", "1000"}}, UnCompressed, 1000));
  const Outcome stats = kvxinfo({"--stats", "--format", "csv", "o.kvx"});
  EXPECT_EQ(stats.exit, 0) << stats.err;
  EXPECT_EQ(
      stats.out,
      "File,Image,Chain,Pixels,Min,Max,Mean,Sum\r\no.kvx,1,Image.Psd,3,1001,1003,1002,3006\r\n")
      << "the dummy 1000 is the true value of the stored 0";

  const std::vector<uint8_t> bytes(20, 1);
  ASSERT_TRUE(
      write_image(path("big.kvx").string(), 1, {2, 10, 2}, bytes.data(), Unsigned8, LowByteFirst));
  const Outcome refused = kvxinfo({"--max-image-bytes=19", "--stats", "big.kvx"});
  EXPECT_EQ(refused.exit, KvxinfoFailed);
  EXPECT_TRUE(
      refused.err.ends_with("kvxinfo: big.kvx: image 1: the data array is larger than 19 "
                            "bytes (--max-image-bytes raises the limit)\n"))
      << refused.err;
  EXPECT_EQ(kvxinfo({"--max-image-bytes", "20", "--stats", "big.kvx"}).exit, 0);
  const Outcome picture = kvxinfo({"--max-image-bytes", "39", "--png", "p.png", "big.kvx", "1"});
  EXPECT_TRUE(
      picture.err.ends_with("image 1: the data array and its picture take more than 39 "
                            "bytes (--max-image-bytes raises the limit)\n"))
      << picture.err;
  EXPECT_EQ(kvxinfo({"--max-image-bytes", "40", "--png", "p.png", "big.kvx", "1"}).exit, 0)
      << "20 bytes of values and 20 of grey levels";
}

TEST_F(KvxinfoTest, ListingValuesKeepTheirFormInJsonAndCsv) {
  // A block with an image number that reads as a number, and no type keys.
  const std::string text =
      "{\r\nKVX_DataBlockID = 1e5.Image.Psd ;\r\nKVX_BinarySize = 0 ;"
      "\r\nDim_1 = 0 ;";
  write_file(path("k.kvx"), text + std::string(512 - text.size() - 4, ' ') + "\r\n}\n");
  const Outcome json = kvxinfo({"--format", "json", "k.kvx"});
  EXPECT_EQ(json.exit, 0) << json.err;
  EXPECT_EQ(json.out,
            "[\n  {\"Image\": \"1e5\", \"Chain\": \"Image.Psd\", \"Dimensions\": \"0\", "
            "\"DataType\": null, \"ByteOrder\": null, \"Compression\": null, \"HeaderPos\": 0, "
            "\"HeaderSize\": 512, \"BinarySize\": 0}\n]\n");
  const Outcome csv = kvxinfo({"--format", "csv", "k.kvx"});
  EXPECT_TRUE(csv.out.ends_with("\r\n1e5,Image.Psd,0,,,,0,512,0\r\n")) << csv.out;
}

}  // namespace
