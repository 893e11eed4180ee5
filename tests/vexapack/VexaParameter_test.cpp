#include "VexaParameter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include "vexapack_test_util.h"

namespace {

using vexapacktest::ClearErrorRecord;
using vexapacktest::Text;

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

class ParameterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearErrorRecord();
    InitOptions("", "", nullptr, 1, &cb, nullptr, 0);
  }
  void TearDown() override { ClearErrorRecord(); }

  // Looks a parameter up; its holder, with the status in *status.
  void *Find(const char *name, int *status) { return option_parameter_search(name, &cb, status); }

  CommandBlock cb;
};

TEST_F(ParameterTest, LineParametersTakeTheLineSlotsInTurn) {
  option_define(IO_tpline, "ext", ".kvx", &cb);
  EXPECT_EQ(search_command_option(&cb, "ext"), NLinFst);
  EXPECT_STREQ(cb.co[NLinFst].code.data(), "ext");
  EXPECT_EQ(cb.co[NLinFst].ptyp, IO_tpline);
  EXPECT_EQ(cb.co[NLinFst].npar, 1);
  EXPECT_EQ(Text(cb.Lin[0].V), ".kvx");
  EXPECT_EQ(cb.Lin[0].I, 0) << "a default is no user setting";

  option_define(IO_tpline, "Title", "none", &cb);
  EXPECT_EQ(search_command_option(&cb, "titl"), NLinFst + 1);
  EXPECT_STREQ(cb.co[NLinFst + 1].code.data(), "titl") << "lower case, four letters";

  int status = -99;
  auto *ext = static_cast<IO_line *>(Find("ext", &status));
  EXPECT_EQ(status, Success);
  EXPECT_EQ(ext, &cb.Lin[0]);
}

TEST_F(ParameterTest, DefaultsOfEveryType) {
  option_define(IO_tpflag, "flg", "1", &cb);
  option_define(IO_tplong, "num", "2*3", &cb);
  option_define(IO_tplvexp, "lv", "2*n", &cb);
  option_define(IO_tpfloat, "fl", "2*pi", &cb);
  option_define(IO_tpflexp, "fx", "sin(x)", &cb);
  const std::string long_default(300, 'd');
  option_define(IO_tpline, "lin", long_default.c_str(), &cb);

  struct Case {
    const char *name;
    int slot;
    int32_t npar;
  };
  const Case cases[] = {{"flg", NFlgFst, 1}, {"num", NNumFst, 1},  {"lv", NLvexpFst, 1},
                        {"fl", NArgFst, 1},  {"fx", NFlexpFst, 1}, {"lin", NLinFst, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(search_command_option(&cb, c.name), c.slot);
    EXPECT_EQ(cb.co[c.slot].npar, c.npar) << "defined flags show one value too";
  }
  EXPECT_EQ(cb.Flg[0].V, 1);
  EXPECT_EQ(cb.Num[0].V, 6);
  EXPECT_EQ(Text(cb.Lvexp[0].V), "2*n") << "kept as text";
  EXPECT_FLOAT_EQ(cb.Arg[0].V, static_cast<float>(2 * M_PI));
  EXPECT_EQ(Text(cb.Flexp[0].V), "sin(x)");
  EXPECT_EQ(Text(cb.Lin[0].V), long_default.substr(0, 255)) << "cut to the text limit";
}

TEST_F(ParameterTest, Lookups) {
  option_define(IO_tpline, "extension", ".kvx", &cb);
  option_define(IO_tplong, "count", "1", &cb);
  struct Case {
    const char *name;
    int status;
    void *holder;
  };
  const Case cases[] = {
      {"extension", Success, &cb.Lin[0]},
      {"exte", Success, &cb.Lin[0]},
      {"EXTE", Success, &cb.Lin[0]},
      {"ext", NoOption, nullptr},
      {"coun", Success, &cb.Num[0]},
      {"never", NoOption, nullptr},
      {"", NoOption, nullptr},
      {"#ext", NoOption, nullptr},
      {"test", OutOfRange, nullptr},     // a built-in option
      {"testing", OutOfRange, nullptr},  // begins with a built-in code
      {"h", OutOfRange, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ClearErrorRecord();
    int status = -99;
    EXPECT_EQ(Find(c.name, &status), c.holder);
    EXPECT_EQ(status, c.status);
    EXPECT_STREQ(VexaErrorRecord().ModuleName, "VexaParameter");
    EXPECT_STREQ(VexaErrorRecord().RoutineName, "option_parameter_search");
    EXPECT_STREQ(VexaErrorRecord().Message, c.name) << "the record names the parameter";
  }
  int status = -99;
  EXPECT_EQ(option_parameter_search("exte", nullptr, &status), nullptr);
  EXPECT_EQ(status, Failed);
}

TEST_F(ParameterTest, NewCommandOption) {
  struct Case {
    int ptyp;
    int slot;
  };
  const Case cases[] = {{IO_tpflag, NFlgFst},    {IO_tpline, NLinFst},  {IO_tplong, NNumFst},
                        {IO_tplvexp, NLvexpFst}, {IO_tpfloat, NArgFst}, {IO_tpflexp, NFlexpFst},
                        {IO_tpnone, 0},          {IO_tpmode, 0},        {IO_tprsys, 0},
                        {IO_tppro, 0},           {IO_tpaxis, 0},        {99, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.ptyp);
    EXPECT_EQ(new_command_option(&cb, c.ptyp, "abc"), c.slot);
  }
  for (int i = 1; i < NFlgLst - NFlgFst + 1; ++i) {
    EXPECT_EQ(new_command_option(&cb, IO_tpflag, "f"), NFlgFst + i);
  }
  EXPECT_EQ(new_command_option(&cb, IO_tpflag, "f"), 0) << "the range is full";
}

TEST(ParameterTypes, Names) {
  const char *names[] = {"none",  "flag", "line", "long", "lvexp", "float",
                         "flexp", "mode", "rsys", "none", "none"};
  for (int ptyp = 0; ptyp <= 10; ++ptyp) {
    SCOPED_TRACE(ptyp);
    EXPECT_STREQ(option_type2string(ptyp), names[ptyp]);
  }
  EXPECT_STREQ(option_type2string(-1), "none");
}

TEST_F(ParameterTest, DebugTraces) {
  cb.TestBit = 1;
  CaptureStdout();
  option_define(IO_tpline, "ext", ".kvx", &cb);
  int status = -99;
  (void)option_parameter_search("ext", &cb, &status);
  EXPECT_EQ(GetCapturedStdout(),
            "option_define: type=line, default ext.V=.kvx\n"
            "option_parameter_search: option=ext\n");
}

using ParameterDeathTest = ParameterTest;

TEST_F(ParameterDeathTest, DefinitionErrorsEndTheProcess) {
  struct Case {
    int ptyp;
    const char *name;
    const char *defval;
    const char *message;
  };
  const Case cases[] = {
      {IO_tpline, "output", "", "^ERROR: Option duplicated or reserved: -output\n$"},
      {IO_tpline, "input", "", "^ERROR: Option duplicated or reserved: -input\n$"},
      {IO_tpflag, "h", "0", "^ERROR: Option duplicated or reserved: -h\n$"},
      {IO_tpflexp, "shft", "0", "^ERROR: Option duplicated or reserved: -shft\n$"},
      {IO_tpline, "ext", "", "^ERROR: Option duplicated or reserved: -ext\n$"},
      {IO_tpfloat, "x", "2*", "^ERROR: Option definition failed: x: 2\\*\n$"},
      {IO_tplong, "n", "1.5", "^ERROR: Option definition failed: n: 1.5\n$"},
      {IO_tpmode, "m", "n", "^ERROR: Option definition failed: m\n$"},
  };
  option_define(IO_tpline, "ext", ".kvx", &cb);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(option_define(c.ptyp, c.name, c.defval, &cb), ::testing::ExitedWithCode(255),
                c.message);
  }
}

TEST(ParameterDeath, DefinitionBeforeInitialisation) {
  CommandBlock fresh;
  EXPECT_EXIT(option_define(IO_tpline, "ext", ".kvx", &fresh), ::testing::ExitedWithCode(255),
              "^ERROR: Option definition failed: ext\n$");
}

TEST_F(ParameterDeathTest, EleventhLineParameter) {
  for (char c = '0'; c <= '9'; ++c)
    option_define(IO_tpline, (std::string("l") + c).c_str(), "", &cb);
  EXPECT_EXIT(option_define(IO_tpline, "z", "", &cb), ::testing::ExitedWithCode(255),
              "^ERROR: Option definition failed: z\n$");
}

}  // namespace
