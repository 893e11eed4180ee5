#include "VexaOption.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>
#include "vexapack_test_util.h"

namespace {

using vexapacktest::Text;

class OptionInitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitOptions("<in> <out>", "V1.0", nullptr, 1, &cb, blocks.data(),
                static_cast<int>(blocks.size()));
  }
  CommandBlock cb;
  std::vector<ImageBlock> blocks = std::vector<ImageBlock>(2);
};

TEST_F(OptionInitTest, CommandBlockDefaults) {
  EXPECT_STREQ(cb.MainHelp, "<in> <out>");
  EXPECT_STREQ(cb.MainVersion, "V1.0");
  EXPECT_EQ(cb.MainName, nullptr) << "the program name is set by option reading";
  EXPECT_EQ(cb.argc, 0);
  EXPECT_EQ(cb.RejectNum, 1);
  EXPECT_EQ(cb.TestBit, 0);
  EXPECT_EQ(cb.ImgBlkLen, 2);
  EXPECT_EQ(cb.infile, stdin);

  struct Case {
    const char *name;
    const IO_long &holder;
    int32_t value;
  };
  const Case cases[] = {
      {"Help", cb.Help, 0},
      {"Prompt", cb.Prompt, 1},
      {"RSys", cb.RSys, 2},
      {"USys", cb.USys, 2},
      {"GeneralBlock", cb.GeneralBlock, 0},
      {"OutputDataType", cb.OutputDataType, 0},
      {"OutputCompression", cb.OutputCompression, 1},
      {"MaxLineWidth", cb.MaxLineWidth, 0},
      {"Add", cb.Add, 1},
      {"Num[9]", cb.Num[9], 0},
      {"Flg[0]", cb.Flg[0], 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.holder.V, c.value);
    EXPECT_EQ(c.holder.I, 0) << "every value starts as the default";
  }
  EXPECT_FLOAT_EQ(cb.IPMin.V, 0.5F);
  EXPECT_EQ(Text(cb.Shift[0].V), "2.0") << "element 0 counts the elements that follow";
  EXPECT_EQ(Text(cb.Shift[1].V), "0.0");
  EXPECT_EQ(Text(cb.Shift[2].V), "0.0");
  EXPECT_EQ(Text(cb.Lin[0].V), "");
  EXPECT_EQ(Text(cb.Flexp[29].V), "");
}

TEST_F(OptionInitTest, ReinitialisingClearsUserValues) {
  cb.Prompt = {0, -1};
  cb.Lin[3].V[0] = 'x';
  cb.Lin[3].I = 1;
  cb.TestBit = 3;
  InitOptions("", "", nullptr, 0, &cb, nullptr, 0);
  EXPECT_EQ(cb.Prompt.V, 1);
  EXPECT_EQ(cb.Prompt.I, 0);
  EXPECT_EQ(Text(cb.Lin[3].V), "");
  EXPECT_EQ(cb.TestBit, 0);
  EXPECT_EQ(cb.RejectNum, 0);
}

TEST_F(OptionInitTest, CommandTable) {
  ASSERT_EQ(cb.co.size(), 122u);
  struct Case {
    int index;
    const char *code;
    int32_t ptyp, npar;
  };
  const Case cases[] = {
      {NEmpty, "Cmd", IO_tpflag, 121}, {NTestBit, "test", IO_tpflag, 0},
      {NHelp, "h", IO_tpflag, 0},      {NShift, "shft", IO_tpflexp, 2},
      {NRSys, "rsys", IO_tprsys, 1},   {NOutputDataType, "type", IO_tplong, 1},
      {NIPMin, "pmin", IO_tpfloat, 1}, {NCommonOrientation, "cori", IO_tpflag, 0},
      {NArgFst, "", IO_tpfloat, 1},    {NArgLst, "", IO_tpfloat, 1},
      {NFlexpFst, "", IO_tpflexp, 1},  {NNumLst, "", IO_tplong, 1},
      {NLvexpFst, "", IO_tplvexp, 1},  {NLinFst, "", IO_tpline, 1},
      {NLinLst, "", IO_tpline, 1},     {NFlgFst, "", IO_tpflag, 0},
      {NFlgLst, "", IO_tpflag, 0},     {NCmdLast, "", IO_tpnone, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_STREQ(cb.co[c.index].code.data(), c.code);
    EXPECT_EQ(cb.co[c.index].ptyp, c.ptyp);
    EXPECT_EQ(cb.co[c.index].npar, c.npar);
  }
}

TEST_F(OptionInitTest, ImageTable) {
  ASSERT_EQ(cb.io.size(), 32u);
  struct Case {
    int index;
    const char *code;
    int32_t ptyp, npar;
  };
  const Case cases[] = {
      {0, "Cmd", IO_tpflag, 31},         {NOpenMode, "mod", IO_tpmode, 1},
      {NName, "nam", IO_tpline, 1},      {NBin, "bin", IO_tplvexp, 2},
      {NAve, "ave", IO_tpflag, 0},       {NDDummy, "ddum", IO_tpflexp, 1},
      {NDetRot, "rot", IO_tpflexp, 3},   {NProjection, "pro", IO_tppro, 1},
      {NAxisType, "axis", IO_tpaxis, 2}, {NImgLast, "", IO_tpnone, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_STREQ(cb.io[c.index].code.data(), c.code);
    EXPECT_EQ(cb.io[c.index].ptyp, c.ptyp);
    EXPECT_EQ(cb.io[c.index].npar, c.npar);
  }
}

TEST_F(OptionInitTest, ImageBlockDefaults) {
  for (int b = 0; b < 2; ++b) {
    SCOPED_TRACE(b);
    const ImageBlock &ib = blocks[b];
    EXPECT_EQ(ib.blkno, b);
    EXPECT_EQ(ib.Stream, -1) << "no file open";
    EXPECT_EQ(Text(ib.Name.V), "datafile.kvx");
    EXPECT_EQ(ib.OpenMode.V, 8);
    EXPECT_EQ(ib.First.V, 1);
    EXPECT_EQ(ib.FInc.V, 1);
    EXPECT_EQ(Text(ib.MinClip.V), "-inf");
    EXPECT_EQ(Text(ib.DDummy.V), "0.5");
    EXPECT_EQ(Text(ib.Bin[0].V), "2");
    EXPECT_EQ(Text(ib.Gnaw[1].V), "0");
    EXPECT_EQ(Text(ib.DetRot[0].V), "3");
    EXPECT_EQ(Text(ib.WaveLength.V), "1e-10");
    EXPECT_EQ(ib.AxisType[0].V, 0);
    EXPECT_EQ(ib.AxisType[2].V, 1);
    EXPECT_EQ(ib.Name.I, 0);
  }
}

TEST_F(OptionInitTest, CheckOptionDuplication) {
  struct Case {
    const char *name;
    int expected;
  };
  const Case cases[] = {
      {"out", 1},      // reserved first letter of output-block options
      {"input", 1},    // reserved first letter of input-block options
      {"Out", 1},      // names are compared in lower case
      {"test", 1},     // a code
      {"testing", 1},  // its first four letters are a code
      {"TEST", 1},     //
      {"h", 1},        // a one-letter code
      {"hx", 0},       // differs from "h"
      {"tes", 0},      // no abbreviations
      {"ext", 0},      //
      {"", 1},         // an empty name can never be written
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CheckOptionDuplication(&cb, c.name), c.expected);
  }
}

TEST_F(OptionInitTest, CheckOptionDuplicationSeesDefinedCodes) {
  cb.co[NLinFst].code = {'e', 'x', 't', 'e', '\0'};
  EXPECT_EQ(CheckOptionDuplication(&cb, "exte"), 1);
  EXPECT_EQ(CheckOptionDuplication(&cb, "extension"), 1) << "cut to its first four letters";
  EXPECT_EQ(CheckOptionDuplication(&cb, "ext"), 0);
}

// The "ERROR: ..." lines go to standard output; the child sends them to the
// error stream, where the death test looks for them.
void StdoutToStderr() {
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
}

TEST(OptionInitDeathTest, ShortTablesEndTheProcessAsFailure) {
  std::vector<OptionDescriptor> table(IO_CmdOptLen - 1);
  EXPECT_EXIT(
      {
        StdoutToStderr();
        InitCommandOptions(table);
      },
      ::testing::ExitedWithCode(255), "^ERROR: Command option array too short\n$");
  table.resize(IO_ImgOptLen - 1);
  EXPECT_EXIT(
      {
        StdoutToStderr();
        InitImageOptions(table);
      },
      ::testing::ExitedWithCode(255), "^ERROR: Image option array too short\n$");
}

TEST(OptionInit, LongerTablesKeepTheirSearchRange) {
  std::vector<OptionDescriptor> table(IO_CmdOptLen + 3);
  InitCommandOptions(table);
  EXPECT_EQ(table[0].npar, NCmdLast);
  EXPECT_STREQ(table[IO_CmdOptLen + 2].code.data(), "");
}

}  // namespace
