// kvxinfo for scripts: several files in one call, header values and pixel
// statistics per image as text, CSV and JSON, and pictures of a range.
#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "kvxinfo_table.h"
#include "kvxinfo_test_util.h"

namespace {

using namespace kvxinfotest;

class KvxinfoRowsTest : public KvxinfoTest {
 protected:
  void SetUp() override {
    KvxinfoTest::SetUp();
    const std::vector<uint8_t> pixels(4, 0);
    for (const auto &[file, image, keys] : std::vector<
             std::tuple<std::string, long, std::vector<std::pair<std::string, std::string>>>>{
             {"a.kvx", 1, {{"ExposureTime", "0.5"}, {"Title", "a, \"b\""}}},
             {"a.kvx", 2, {{"ExposureTime", "1"}}},
             {"b.kvx", 7, {{"ExposureTime", "2"}, {"Title", "x\ty \xc3\xa9 \xe9"}}}})
      ASSERT_TRUE(write_image(path(file).string(), image, {2, 2, 2}, pixels.data(), Unsigned8,
                              LowByteFirst, keys));
  }
};

TEST_F(KvxinfoRowsTest, KeysOfEveryImageOfSeveralFilesInEachFormat) {
  struct Case {
    std::vector<std::string> format;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{},
       "File   Image  Chain      ExposureTime  Title\n"
       "a.kvx      1  Image.Psd  0.5           a, \"b\"\n"
       "a.kvx      2  Image.Psd  1             -\n"
       "b.kvx      7  Image.Psd  2             x\\ty \xc3\xa9 \\xe9\n"},
      {{"--format", "csv"},
       "File,Image,Chain,ExposureTime,Title\r\n"
       "a.kvx,1,Image.Psd,0.5,\"a, \"\"b\"\"\"\r\n"
       "a.kvx,2,Image.Psd,1,\r\n"
       "b.kvx,7,Image.Psd,2,x\\ty \xc3\xa9 \\xe9\r\n"},
      {{"--format=json"},
       "[\n"
       "  {\"File\": \"a.kvx\", \"Image\": \"1\", \"Chain\": \"Image.Psd\", \"keys\": "
       "{\"ExposureTime\": 0.5, \"Title\": \"a, \\\"b\\\"\"}},\n"
       "  {\"File\": \"a.kvx\", \"Image\": \"2\", \"Chain\": \"Image.Psd\", \"keys\": "
       "{\"ExposureTime\": 1, \"Title\": null}},\n"
       "  {\"File\": \"b.kvx\", \"Image\": \"7\", \"Chain\": \"Image.Psd\", \"keys\": "
       "{\"ExposureTime\": 2, \"Title\": \"x\\u0009y \xc3\xa9 \\u00e9\"}}\n"
       "]\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.format.empty() ? "text" : c.format.back());
    std::vector<std::string> args = {"--keys", "ExposureTime,Title", "a.kvx", "b.kvx"};
    args.insert(args.end(), c.format.begin(), c.format.end());
    const Outcome run = kvxinfo(args);
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, c.out) << "a missing key is an empty field, not an error";
  }
}

TEST(KvxinfoNumbers, AHeaderValueIsANumberExactlyWhenItPrintsAsThatNumber) {
  // The cases of the Python package's rule, which the JSON output shares.
  // Texts apart by "|".
  const std::vector<std::pair<std::string, bool>> cases = {
      {"0|-12|9223372036854775807|-9223372036854775808|0.5|100.0|1e-05|1.5e+20|1e+16|"
       "1000000000000000.0|0.0001|-0.0|5e-324|100|0.1|0.30000000000000004",
       true},
      {"9223372036854775808|-0|007|+5| 5|1.50|1e5|1E3|.5|1.|1e999|1e-400|1e16|0.00001|nan|inf|"
       "|0x10|1,5|1 2|0.3000000000000000",
       false}};
  for (const auto &[list, number] : cases)
    for (size_t from = 0, bar = 0; bar != std::string::npos; from = bar + 1) {
      bar = list.find('|', from);
      const std::string text = list.substr(from, bar - from);
      EXPECT_EQ(kvxinfo_canonical_number(text), number) << "\"" << text << "\"";
    }
}

TEST_F(KvxinfoTest, RepeatedKeyColumnsAppearOnceAndHeaderNumbersStayExact) {
  const std::vector<uint8_t> pixels(4, 0);
  ASSERT_TRUE(write_image(path("n.kvx").string(), 1, {2, 2, 2}, pixels.data(), Unsigned8,
                          LowByteFirst, {{"Count", "007"}, {"Time", "1.5e+20"}}));
  const std::vector<std::string> keys = {"--keys", "Image,Count,Time,Count,Chain", "n.kvx"};
  struct Case {
    std::string format, out;
  };
  const std::vector<Case> cases = {
      {"csv", "File,Image,Chain,Count,Time\r\nn.kvx,1,Image.Psd,007,1.5e+20\r\n"},
      {"text", "File   Image  Chain      Count  Time\nn.kvx      1  Image.Psd  007    1.5e+20\n"},
      {"json",
       "[\n  {\"File\": \"n.kvx\", \"Image\": \"1\", \"Chain\": \"Image.Psd\", \"keys\": "
       "{\"Count\": \"007\", \"Time\": 1.5e+20}}\n]\n"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.format);
    std::vector<std::string> args = keys;
    args.insert(args.end(), {"--format", c.format});
    const Outcome run = kvxinfo(args);
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, c.out) << "each title once; \"007\" would print as 7, so it stays a text";
  }
}

TEST_F(KvxinfoRowsTest, AFileThatCannotBeReadDoesNotStopTheOthers) {
  const Outcome run = kvxinfo({"a.kvx", "missing.kvx", "b.kvx"});
  EXPECT_EQ(run.exit, 1);
  EXPECT_EQ(run.err, "kvxinfo: missing.kvx: No such file or directory\n");
  EXPECT_NE(run.out.find("\nb.kvx  7      Image.Psd  2x2 "), std::string::npos) << run.out;
  EXPECT_TRUE(
      run.out.ends_with("total: a.kvx: 2 blocks, 17408 bytes\n"
                        "total: b.kvx: 1 block, 8704 bytes\n"))
      << run.out;
}

TEST_F(KvxinfoTest, StatisticsLeaveOutDummiesAndNonNumbers) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<uint16_t> counts = {1, 2, 3, 65535};
  const std::vector<double> values = {nan, -1.5, 2.5, 1e300};
  const std::vector<int32_t> empty = {-1, -1, -1, -1};
  const std::string file = path("s.kvx").string();
  ASSERT_TRUE(write_image(file, 1, {2, 2, 2}, counts.data(), Unsigned16, kvx_byteorder(),
                          {{"Dummy", "65535"}}));
  // A dummy that is not a number marks no pixel; "nan" is how a writer
  // says "no dummy" when it has none.
  ASSERT_TRUE(write_image(file, 2, {2, 2, 2}, values.data(), DoubleIEEE64, kvx_byteorder(),
                          {{"Dummy", "nan"}}));
  ASSERT_TRUE(write_image(file, 3, {2, 2, 2}, counts.data(), Unsigned16, kvx_byteorder(),
                          {{"Dummy", "x"}, {"DDummy", "y"}}));
  ASSERT_TRUE(
      write_image(file, 4, {2, 2, 2}, empty.data(), Signed32, kvx_byteorder(), {{"Dummy", "-1"}}));
  const Outcome run = kvxinfo({"--stats", "--format", "csv", "s.kvx"});
  EXPECT_EQ(run.exit, 0) << run.err;
  EXPECT_EQ(run.out,
            "File,Image,Chain,Pixels,Min,Max,Mean,Sum\r\n"
            "s.kvx,1,Image.Psd,3,1,3,2,6\r\n"
            "s.kvx,2,Image.Psd,3,-1.5,1e+300,3.3333333333333335e+299,1e+300\r\n"
            "s.kvx,3,Image.Psd,4,1,65535,16385.25,65541\r\n"
            "s.kvx,4,Image.Psd,0,,,,0\r\n");
  EXPECT_EQ(kvxinfo({"--png", "nan.png", "s.kvx", "2"}).exit, 0) << "the image can be shown";
}

TEST_F(KvxinfoTest, DummiesAreValuesWithinDDummyOfAPlainDecimalDummy) {
  struct Case {
    const char *dummy;   // null: no "Dummy" entry
    const char *ddummy;  // null: no "DDummy" entry
    int pixels;          // pixels of {4, 5, 6, 7} that are no dummies
  };
  const std::vector<Case> cases = {
      {"5", nullptr, 3},     {"5", "1", 1},        {"5", "-1", 1},
      {nullptr, "1", 4},     {" +5.0e0 ", "0", 3}, {"5", "0.5*2", 3},
      {"2*2+1", nullptr, 4}, {"0x5", nullptr, 4},  {"5_mm", "10", 4},
  };
  const std::vector<double> values = {4, 5, 6, 7};
  const std::string file = path("d.kvx").string();
  for (size_t n = 0; n < cases.size(); ++n) {
    std::vector<std::pair<std::string, std::string>> keys;
    if (cases[n].dummy != nullptr) keys.emplace_back("Dummy", cases[n].dummy);
    if (cases[n].ddummy != nullptr) keys.emplace_back("DDummy", cases[n].ddummy);
    ASSERT_TRUE(write_image(file, static_cast<long>(n + 1), {2, 2, 2}, values.data(), DoubleIEEE64,
                            kvx_byteorder(), keys));
  }
  const Outcome run = kvxinfo({"--stats", "--format", "csv", "d.kvx"});
  ASSERT_EQ(run.exit, 0) << run.err;
  for (size_t n = 0; n < cases.size(); ++n) {
    SCOPED_TRACE(std::string("Dummy ") + (cases[n].dummy ? cases[n].dummy : "(none)") +
                 ", DDummy " + (cases[n].ddummy ? cases[n].ddummy : "(none)"));
    const std::string row = "\r\nd.kvx," + std::to_string(n + 1) + ",Image.Psd," +
                            std::to_string(cases[n].pixels) + ",";
    EXPECT_NE(run.out.find(row), std::string::npos) << run.out;
  }
}

TEST_F(KvxinfoTest, AnImageThatCannotBeReadDoesNotStopTheOthers) {
  const std::vector<uint8_t> pixels = {0, 1, 2, 3};
  const std::string file = path("v.kvx").string();
  ASSERT_TRUE(write_image(file, 1, {2, 2, 2}, pixels.data(), Unsigned8, LowByteFirst));
  ASSERT_TRUE(write_image(file, 2, {2, 1, 1}, pixels.data(), FloatVAX32, LowByteFirst));
  const std::string message =
      "kvxinfo: v.kvx: image 2: data type FloatVAX32 cannot be shown "
      "as numbers\n";
  const Outcome stats = kvxinfo({"--stats", "--format", "json", "v.kvx"});
  EXPECT_EQ(stats.exit, 1);
  EXPECT_EQ(stats.err, message);
  EXPECT_EQ(stats.out,
            "[\n"
            "  {\"File\": \"v.kvx\", \"Image\": \"1\", \"Chain\": \"Image.Psd\", \"stats\": "
            "{\"Pixels\": 4, \"Min\": 0, \"Max\": 3, \"Mean\": 1.5, \"Sum\": 6}},\n"
            "  {\"File\": \"v.kvx\", \"Image\": \"2\", \"Chain\": \"Image.Psd\", \"stats\": "
            "{\"Pixels\": null, \"Min\": null, \"Max\": null, \"Mean\": null, \"Sum\": null}}\n"
            "]\n");
  const Outcome pictures = kvxinfo({"--png", "o%d.png", "v.kvx", "1:2"});
  EXPECT_EQ(pictures.exit, 1);
  EXPECT_EQ(pictures.err, message);
  EXPECT_TRUE(fs::exists(path("o1.png")));
  EXPECT_FALSE(fs::exists(path("o2.png")));
}

TEST_F(KvxinfoTest, PicturesOfARangeOfImages) {
  const std::vector<uint8_t> pixels = {0, 1, 2, 3};
  for (const long image : {1, 2, 3, 5})
    ASSERT_TRUE(write_image(path("r.kvx").string(), image, {2, 2, 2}, pixels.data(), Unsigned8,
                            LowByteFirst));
  const Outcome run = kvxinfo({"--png=frame-%d.png", "r.kvx", "2:6"});
  EXPECT_EQ(run.exit, 0) << run.err;
  for (const long image : {1, 2, 3, 4, 5})
    EXPECT_EQ(fs::exists(path("frame-" + std::to_string(image) + ".png")), image != 1 && image != 4)
        << image;
  const Outcome none = kvxinfo({"--png", "frame-%d.png", "r.kvx", "6:9"});
  EXPECT_EQ(none.exit, 1);
  EXPECT_EQ(none.err, "kvxinfo: r.kvx: no image from 6 to 9\n");
}

}  // namespace
