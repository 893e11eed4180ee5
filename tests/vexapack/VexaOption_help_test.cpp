#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "VexaOption.h"
#include "VexaParameter.h"
#include "kvxio.h"
#include "vexapack_test_util.h"

namespace {

using vexapacktest::ClearErrorRecord;

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

constexpr const char *kUsage =
    "\n<i/p file> <dummy> <first> <last> <inc> <o/p file> <o/p first> <i/p hm>";
constexpr const char *kVersion = "V4.20 2008-12-05, Ardeny";

template <typename Print>
std::string Printed(Print print) {
  CaptureStdout();
  print();
  return GetCapturedStdout();
}

// The converter's option setting.
class HelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearErrorRecord();
    InitOptions(kUsage, kVersion, nullptr, 1, &cb, nullptr, 0);
    option_define(IO_tpline, "ext", ".kvx", &cb);
  }
  void TearDown() override { ClearErrorRecord(); }

  std::string Help(const char *word, int *status) {
    std::string program = "dld2vexa", option = word;
    char *argv[] = {program.data(), option.data(), nullptr};
    int arg_no = 0;
    return Printed([&] { ReadOptions(argv, &arg_no, &cb, nullptr, status); });
  }

  CommandBlock cb;
};

TEST_F(HelpTest, ShortHelp) {
  int status = -99;
  EXPECT_EQ(Help("-h", &status),
            "\nMain    : V4.20 2008-12-05, Ardeny\n"
            "Usage   : dld2vexa \n"
            "<i/p file> <dummy> <first> <last> <inc> <o/p file> <o/p first> <i/p hm>\n");
  EXPECT_EQ(status, StoppedAfterHelp);
}

TEST_F(HelpTest, FullHelp) {
  const std::string data_types = Printed([] { kvx_showdatatypes(0); });
  int status = -99;
  const std::string help = Help("+h", &status);
  EXPECT_EQ(status, StoppedAfterHelp);
  EXPECT_EQ(
      help,
      "\nMain    : V4.20 2008-12-05, Ardeny\n"
      "Usage   : dld2vexa \n"
      "<i/p file> <dummy> <first> <last> <inc> <o/p file> <o/p first> <i/p hm>\n"
      "\nVexaDefinition V2.31 Ardeny 2009-10-02 (V2.458)\n"
      "reference : V2.34 Ardeny 2011-05-14\n"
      "VexaError V1.54 Ardeny 2011-06-08\n"
      "VexaInput V4.40 Ardeny 2007-04-19\n"
      "VexaOption V6.72 Ardeny 2011-07-24\n"
      "VexaImage : V2.49 Ardeny 2012-01-29 (SDV = 2.40, GDV = 2.40)\n"
      "VexaRoutine : V1.49 Ardeny 2011-07-24\n"
      "numio : V1.35 Ardeny 2012-04-11\n"
      "kvxio : V2.39 Ardeny 2011-12-13 (E2.219)\n"
      "Contact : report problems to the maintainers of this program\n"
      "\nConversion of file data types to internal data types\n" +
          data_types +
          "\nList of options [<num of parameters>,<type>]\n"
          " \n      -test [ 0, +]        -h [ 0, +]        -p [ 0, +]     -shft [ 2, F]"
          " \n      -rsys [ 1, R]     -usys [ 1, R]     -gblk [ 0, +]     -pass [ 0, +]"
          " \n       -var [ 0, +]       -aa [ 0, +]       -vw [ 0, +]     -type [ 1, d]"
          " \n       -dvo [ 1, d]     -cmpr [ 1, d]     -bibo [ 1, d]      -add [ 1, d]"
          " \n      -pmin [ 1, f]      -mlw [ 1, d]      -mhs [ 1, d]     -cori [ 0, +]"
          " \n       -ext [ 1, s]\n"
          "\nNumber of image blocks            : 0\n"
          "\n"
          "\nUse -rsys and -usys with one of the following reference systems : \n"
          "    array,    image,   center,   region,     real,   normal,  tangens,     vexa\n");
}

TEST(HelpImageBlocks, FullHelpListsBlockOptionsAndModes) {
  CommandBlock cb;
  std::vector<ImageBlock> blocks(3);
  InitOptions("<files>", "V1", nullptr, 0, &cb, blocks.data(), 3);
  cb.Help.V = 1;
  const std::string help = Printed([&] { ShowHelp(&cb); });
  for (const char *part :
       {" \n      -omod [ 1, M]     -onam [ 1, s]", "  -i<n>nam [ 1, s]", "    -oaxis [ 2, A]\n",
        "\nNumber of image blocks            : 3\n"
        "Maximum number <n> of input blocks: 2\n"
        "Dummy file name                   : /dev/null\n"
        "\nUse -omod with one of the following modes : \n"}) {
    SCOPED_TRACE(part);
    EXPECT_NE(help.find(part), std::string::npos) << help;
  }
}

TEST(ShowOptions, FourEntriesToALine) {
  std::vector<OptionDescriptor> table(7);
  table[0].npar = 6;
  const char *codes[] = {"test", "h", "#hid", "p", "shft"};
  for (int i = 0; i < 5; ++i) {
    std::snprintf(table[i + 1].code.data(), IO_CodeLen, "%s", codes[i]);
    table[i + 1].ptyp = i == 4 ? IO_tpflexp : IO_tpflag;
    table[i + 1].npar = i == 4 ? 2 : 0;
  }
  EXPECT_EQ(Printed([&] { ShowOptions("-", table); }),
            " \n      -test [ 0, +]        -h [ 0, +]        -p [ 0, +]     -shft [ 2, F]\n")
      << "codes beginning with \"#\" are hidden";
  std::snprintf(table[6].code.data(), IO_CodeLen, "%s", "x");
  table[6].ptyp = 42;
  table[0].npar = 7;
  EXPECT_EQ(Printed([&] { ShowOptions("+", table); }),
            " \n      +test [ 0, +]        +h [ 0, +]        +p [ 0, +]     +shft [ 2, F]"
            " \n         +x [ 0, ?]\n");
  EXPECT_EQ(Printed([] { ShowOptions("-", {}); }), "\n");
}

TEST(ShowNames, Lists) {
  EXPECT_EQ(Printed(ShowPro),
            "\nUse -pro with one of the following projection types : \n     Vexa,     Waxs\n");
  EXPECT_EQ(Printed(ShowAxis),
            "\nUse -axis with one of the following axis types : \n"
            " Distance,    Angle, Numerator\n");
}

TEST(PrintOptions, Rows) {
  CommandBlock cb;
  InitOptions("", "", nullptr, 0, &cb, nullptr, 0);
  const std::string listing = Printed([&] { PrintOptions("ImageOption", cb.io); });
  EXPECT_EQ(listing.substr(0, listing.find('\n') + 1),
            "         ImageOption\t\t    code      ptyp\t   npar      poff\n");
  for (const char *row : {"         ImageOption[   0]       Cmd         1        31\n",
                          "         ImageOption[  30]      axis        10         2\n"}) {
    SCOPED_TRACE(row);
    EXPECT_NE(listing.find(row), std::string::npos) << listing;
  }
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 32)
      << "title, table header and 30 codes";
}

TEST_F(HelpTest, DebugListingAfterReading) {
  std::string program = "dld2vexa";
  std::vector<std::string> words = {"+test", "-p",   "-ext",  ".dat", "-type", "FloatValue",
                                    "-rsys", "real", "-pmin", "0.25", "in.dld"};
  std::vector<char *> argv{program.data()};
  for (std::string &word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int arg_no = 0, status = -99;
  const std::string out =
      Printed([&] { ReadOptions(argv.data(), &arg_no, &cb, nullptr, &status); });
  ASSERT_EQ(status, Success);
  EXPECT_EQ(cb.TestBit, 1);
  const size_t list = out.find(
      "List : +test -p -ext .dat -type FloatValue -rsys real -pmin 0.25 "
      "in.dld\n");
  ASSERT_NE(list, std::string::npos) << out;
  // "+test" raises the level after its own trace.
  EXPECT_EQ(out.substr(0, list),
            "blk_no = -1, opt_no = 3, opt_onoff = -1\n"
            "blk_no = -1, opt_no = 101, opt_onoff = -1\n"
            "blk_no = -1, opt_no = 12, opt_onoff = -1\n"
            "blk_no = -1, opt_no = 5, opt_onoff = -1\n"
            "blk_no = -1, opt_no = 17, opt_onoff = -1\n");
  EXPECT_NE(out.find("       CommandOption[ 101]       ext         2         1\n"),
            std::string::npos);
  const std::string block_listing =
      "CommandBlock.Prompt.V                = 0\n"
      "CommandBlock.RSys.V                  = 5\n"
      "CommandBlock.OutputDataType.V        = FloatValue\n"
      "CommandBlock.IPMin.V                 = 0.25\n"
      "CommandBlock.Lin[0].V\t         = .dat\n";
  ASSERT_GE(out.size(), block_listing.size());
  EXPECT_EQ(out.substr(out.size() - block_listing.size()), block_listing)
      << "the block listing ends the output and never shows the debug level";
}

TEST(PrintBlocks, EveryUserSettingOfTheCommandBlock) {
  CommandBlock cb;
  InitOptions("", "", nullptr, 0, &cb, nullptr, 0);
  cb.Help = {1, 1};
  cb.Shift[2].I = -1;
  cb.OutputCompression = {2, -1};
  cb.Arg[3] = {1.5F, 1};
  cb.Flexp[0].I = 1;
  cb.Num[9] = {-4, -1};
  cb.Lvexp[2].I = 1;
  cb.Flg[1] = {1, 1};
  EXPECT_EQ(Printed([&] { PrintBlocks(&cb, nullptr); }),
            "CommandBlock.Help.V                  = 1\n"
            "CommandBlock.Shift[2].V              = 0.0\n"
            "CommandBlock.OutputCompression.V     = GzipCompression\n"
            "CommandBlock.Arg[3].V\t         = 1.500000e+00\n"
            "CommandBlock.Flexp[0].V          = \n"
            "CommandBlock.Num[9].V\t         = -4\n"
            "CommandBlock.Lvexp[2].V          = \n"
            "CommandBlock.Flg[1].V              = 1\n");
}

TEST(PrintBlocks, ImageBlockListing) {
  CommandBlock cb;
  std::vector<ImageBlock> blocks(2);
  InitOptions("", "", nullptr, 0, &cb, blocks.data(), 2);
  blocks[1].OpenMode = {9, -1};
  blocks[1].Name.I = 1;
  blocks[1].Dim[2].I = -1;
  blocks[1].AxisType[1] = {2, 1};
  EXPECT_EQ(Printed([&] { PrintBlocks(&cb, blocks.data()); }),
            "Image Block (blkno = 0)\n"
            "Image Block (blkno = 1)\n"
            "ImageBlock[1].Name.V           = datafile.kvx\n"
            "ImageBlock[1].OpenMode.V       = 0x9\n"
            "ImageBlock[1].Dim[2].V         = 1\n"
            "ImageBlock[1].AxisType[1].V    = 2\n");
}

}  // namespace
