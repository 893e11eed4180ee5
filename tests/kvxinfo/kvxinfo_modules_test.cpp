// kvxinfo's modules in process: the command line, the listing of files the
// converter never writes (general block, error chain, a header that went
// bad), and grey levels at the edges of the number range.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>

#include "kvxinfo_args.h"
#include "kvxinfo_list.h"
#include "kvxinfo_png.h"
#include "kvxinfo_test_util.h"

namespace {

using namespace kvxinfotest;

TEST(KvxinfoArgs, CommandLinesThatAreRight) {
  struct Case {
    std::vector<std::string> words;
    KvxinfoAction action;
    std::string file;
    long image;
    std::string png;
    bool log;
  };
  const std::vector<Case> cases = {
      {{"a.kvx"}, KvxinfoAction::List, "a.kvx", 0, "", false},
      {{"-k", "a.kvx", "-3"}, KvxinfoAction::Header, "a.kvx", -3, "", false},
      {{"a.kvx", "7", "-k"}, KvxinfoAction::Header, "a.kvx", 7, "", false},
      {{"a.kvx", "2", "--log", "--png", "o.png"}, KvxinfoAction::Png, "a.kvx", 2, "o.png", true},
      {{"--png", "-x.png", "a.kvx", "007"}, KvxinfoAction::Png, "a.kvx", 7, "-x.png", false},
      {{"-k", "--", "-a.kvx", "1"}, KvxinfoAction::Header, "-a.kvx", 1, "", false},
      {{"a.kvx", "-h"}, KvxinfoAction::Help, "", 0, "", false},
      {{"--png=o.png", "a.kvx", "2"}, KvxinfoAction::Png, "a.kvx", 2, "o.png", false},
      {{"--pn", "-3", "a.kvx", "1"}, KvxinfoAction::Png, "a.kvx", 1, "-3", false},
      {{"a.kvx", "-5:-3", "--png", "o%d.png"}, KvxinfoAction::Png, "a.kvx", -5, "o%d.png", false},
  };
  for (size_t n = 0; n < cases.size(); ++n) {
    SCOPED_TRACE(n);
    const Case &c = cases[n];
    KvxinfoArgs args;
    std::string what;
    ASSERT_TRUE(kvxinfo_parse_args(c.words, args, what)) << what;
    EXPECT_EQ(args.action, c.action);
    EXPECT_EQ(args.files, c.file.empty() ? std::vector<std::string>{} : std::vector{c.file});
    EXPECT_EQ(args.image, c.image);
    EXPECT_EQ(args.png, c.png);
    EXPECT_EQ(args.log, c.log);
  }
  KvxinfoArgs rows;
  std::string what;
  ASSERT_TRUE(kvxinfo_parse_args(
      {"b.kvx", "--keys=Time,Title", "--for", "json", "--keys", "Dummy", "--", "-a.kvx"}, rows,
      what))
      << what;
  EXPECT_EQ(rows.action, KvxinfoAction::Rows);
  EXPECT_EQ(rows.keys, (std::vector<std::string>{"Time", "Title", "Dummy"}));
  EXPECT_EQ(rows.format, KvxinfoFormat::Json);
  EXPECT_EQ(rows.files, (std::vector<std::string>{"b.kvx", "-a.kvx"})) << "in their order";
  for (const char *image : {"+3", " 3", "3 ", "0x10", "", "1e3"}) {
    SCOPED_TRACE(image);
    KvxinfoArgs args;
    std::string what;
    EXPECT_FALSE(kvxinfo_parse_args({"-k", "a.kvx", image}, args, what));
    EXPECT_NE(what.find("is not an image number"), std::string::npos) << what;
  }
}

TEST(KvxinfoArgs, PictureNamesTakeOneIntegerConversion) {
  struct Case {
    std::string pattern;
    std::string name;  // of image 7; "" when the pattern is refused
  };
  const Case cases[] = {
      {"o%d.png", "o7.png"},
      {"o%03d.png", "o007.png"},
      {"o%-4d.png", "o7   .png"},
      {"o%5d.png", "o    7.png"},
      {"o%+d.png", "o+7.png"},
      {"%% %d%%.png", "% 7%.png"},
      {"o%99d", "o" + std::string(98, ' ') + "7"},
      {"o.png", ""},
      {"o%s.png", ""},
      {"o%n.png", ""},
      {"o%ld.png", ""},
      {"o%d-%d.png", ""},
      {"o%.3d.png", ""},
      {"o%100d.png", ""},
      {"o%*d.png", ""},
      {"o%d%", ""},
      {"o%%d.png", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.pattern);
    std::string what;
    EXPECT_EQ(kvxinfo_png_pattern(c.pattern, what), !c.name.empty()) << what;
    if (!c.name.empty()) {
      EXPECT_EQ(kvxinfo_png_name(c.pattern, 7), c.name);
    }
  }
  EXPECT_EQ(kvxinfo_png_name("o%03d.png", -7), "o-07.png");
}

// Lists `file` in process; the listing and the problems' texts.
std::string list(const std::string &name, std::vector<std::string> &messages,
                 const std::function<void()> &after_open = {}) {
  KvxinfoFile file;
  KvxinfoProblem problem;
  EXPECT_TRUE(file.open(name, problem)) << problem.what;
  if (after_open) after_open();
  std::FILE *out = std::tmpfile();
  std::vector<KvxinfoProblem> problems;
  KvxinfoListing listing(false, KvxinfoFormat::Text);
  listing.add(file, problems);
  listing.print(out);
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
  std::fclose(out);
  for (const KvxinfoProblem &p : problems) messages.push_back(p.file + ": " + p.what);
  return text;
}

TEST_F(KvxinfoTest, ListingOfFilesTheConverterDoesNotWrite) {
  const std::vector<int16_t> pixels(6, 1);
  const std::string general = path("general.kvx").string();
  kvx_general_block(1);
  std::vector<testsupport::KvxTestImage> images;
  for (const int chain : {1, -1})
    images.push_back(testsupport::KvxTestImage(12, {2, 3, 2}, pixels.data())
                         .as(Signed16, LowByteFirst)
                         .in_chain(chain));
  ASSERT_TRUE(testsupport::write_kvx_file(general, images, "new"));
  kvx_reset_settings();

  std::vector<std::string> messages;
  const std::string listing = list(general, messages);
  EXPECT_EQ(messages, std::vector<std::string>{}) << "the general block is not a gap";
  EXPECT_EQ(listing,
            "Image  Chain        Dimensions  DataType     ByteOrder     Compression  HeaderPos  "
            "HeaderSize  BinarySize\n"
            "12     Image.Psd    3x2         SignedShort  LowByteFirst  None              8192  "
            "      8192         512\n"
            "12     Image.Error  3x2         SignedShort  LowByteFirst  None             16896  "
            "      8192         512\n"
            "total: 2 blocks, 17408 bytes\n");

  // A header that goes bad while the file is open is listed as unknown.
  messages.clear();
  const std::string damaged = list(general, messages, [&] {
    std::fstream file(general, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(16896);
    file << "X";
  });
  EXPECT_NE(damaged.find("\n12     Image.Error  ?           ?            ?             ?     "),
            std::string::npos)
      << damaged;
  EXPECT_EQ(messages, std::vector<std::string>(
                          {general + ": image 12: header cannot be read (ReadDataError)"}));
}

KvxinfoImage doubles(const std::vector<double> &values) {
  KvxinfoImage image;
  image.width = values.size();
  image.height = 1;
  image.values = values;
  return image;
}

TEST(KvxinfoGrey, ScalesAcrossTheWholeNumberRange) {
  const double big = std::numeric_limits<double>::max();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char *name;
    std::vector<double> values;
    KvxinfoScale scale;
    std::vector<unsigned char> grey;
  };
  const std::vector<Case> cases = {
      {"largest span", {-big, 0, big}, KvxinfoScale::Linear, {0, 128, 255}},
      {"largest span, log", {-big, -big, big}, KvxinfoScale::Log, {0, 0, 255}},
      {"infinities are no pixels", {-inf, 1, 2, inf}, KvxinfoScale::Linear, {0, 0, 255, 0}},
      {"tiny span", {1e-300, 2e-300}, KvxinfoScale::Linear, {0, 255}},
      {"no pixels", {}, KvxinfoScale::Linear, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(kvxinfo_grey_levels(doubles(c.values), c.scale), c.grey);
  }
}

}  // namespace
