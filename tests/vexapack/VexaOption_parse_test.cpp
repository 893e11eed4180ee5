#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "VexaOption.h"
#include "VexaParameter.h"
#include "kvxio.h"
#include "vexapack_test_util.h"

namespace {

using vexapacktest::ClearErrorRecord;
using vexapacktest::Text;

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

// A writable, null-terminated argument vector.
class Args {
 public:
  Args(std::vector<std::string> words) : words_(std::move(words)) {
    for (std::string &word : words_) pointers_.push_back(word.data());
    pointers_.push_back(nullptr);
  }
  Args(const Args &) = delete;
  char **argv() { return pointers_.data(); }
  std::string operator[](size_t i) const { return pointers_[i]; }

 private:
  std::vector<std::string> words_;
  std::vector<char *> pointers_;
};

std::string Message() {
  const char *message = VexaErrorRecord().Message;
  return message != nullptr ? message : "<none>";
}

std::vector<std::string> Prog(std::vector<std::string> words) {
  words.insert(words.begin(), "prog");
  return words;
}

// The converter's setting: no image blocks, numbers are never options, one
// line parameter "ext".
class ReadOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearErrorRecord();
    kvx_history_reset();
    Reset();
  }
  void TearDown() override {
    ClearErrorRecord();
    kvx_history_reset();
  }

  void Reset() {
    cb = CommandBlock{};
    InitOptions("<in> <out>", "V1", nullptr, 1, &cb, nullptr, 0);
    option_define(IO_tpline, "ext", ".kvx", &cb);
    arg_no = 0;
  }

  // Reads the options; the status, with the printed text in *out.
  int Read(Args &args, std::string *out = nullptr) {
    int status = -99;
    CaptureStdout();
    ReadOptions(args.argv(), &arg_no, &cb, nullptr, &status);
    const std::string printed = GetCapturedStdout();
    if (out != nullptr) *out = printed;
    return status;
  }

  CommandBlock cb;
  int arg_no = 0;
};

TEST_F(ReadOptionsTest, NoOptionsConsumesNothing) {
  Args args({"/usr/bin/prog", "in.dld", "5"});
  EXPECT_EQ(Read(args), Success);
  EXPECT_EQ(arg_no, 0) << "positional arguments are left to the program";
  EXPECT_STREQ(cb.MainName, "/usr/bin/prog");
  EXPECT_EQ(cb.argc, 3);
  EXPECT_EQ(cb.parg_no, &arg_no);
  EXPECT_STREQ(kvx_history_argv_line("i0"), "prog") << "program name without directory";
  EXPECT_TRUE(cb.io.empty()) << "the image table is released after reading";
  EXPECT_FALSE(cb.co.empty()) << "the command table stays for parameter lookup";
}

TEST_F(ReadOptionsTest, StartIndexAndMissingLists) {
  Args args(Prog({"in", "-p"}));
  arg_no = 1;  // the caller has taken "in" already
  EXPECT_EQ(Read(args), Success);
  EXPECT_EQ(arg_no, 2);
  EXPECT_EQ(cb.Prompt.V, 0);

  Reset();
  Args short_list(Prog({"-p"}));
  arg_no = 7;
  EXPECT_EQ(Read(short_list), Success) << "an index past the list reads nothing";
  EXPECT_EQ(arg_no, 7);
  EXPECT_EQ(cb.Prompt.I, 0);

  Reset();
  int status = -99;
  ReadOptions(nullptr, &arg_no, &cb, nullptr, &status);
  EXPECT_EQ(status, Success);
  EXPECT_EQ(cb.MainName, nullptr);
  ReadOptions(short_list.argv(), &arg_no, nullptr, nullptr, &status);
  EXPECT_EQ(status, Failed) << "no command block";
}

TEST_F(ReadOptionsTest, HistoryRecordsTheConsumedWords) {
  Args args(Prog({"-ext", ".dat", "+p", "in.dld"}));
  ASSERT_EQ(Read(args), Success);
  EXPECT_EQ(arg_no, 3);
  EXPECT_STREQ(kvx_history_argv_line("i0"), "prog -ext .dat +p");
}

TEST_F(ReadOptionsTest, AcceptedOptions) {
  struct Case {
    std::vector<std::string> words;
    int consumed;
    std::function<void(const CommandBlock &)> check;
  };
  const Case cases[] = {
      {{"-p", "in"},
       1,
       [](const CommandBlock &b) {
         EXPECT_EQ(b.Prompt.V, 0);
         EXPECT_EQ(b.Prompt.I, -1);
       }},
      {{"+p"},
       1,
       [](const CommandBlock &b) {
         EXPECT_EQ(b.Prompt.V, 1);
         EXPECT_EQ(b.Prompt.I, 1);
       }},
      {{"-5", "-p"},
       0,
       [](const CommandBlock &b) { EXPECT_EQ(b.Prompt.I, 0) << "-5 ends reading"; }},
      {{"+7"}, 0, nullptr},
      {{"x", "-p"}, 0, nullptr},
      {{"-ext", ".dat", "-3"},
       2,
       [](const CommandBlock &b) {
         EXPECT_EQ(Text(b.Lin[0].V), ".dat");
         EXPECT_EQ(b.Lin[0].I, -1);
       }},
      {{"+EXT", ""},
       2,
       [](const CommandBlock &b) {
         EXPECT_EQ(Text(b.Lin[0].V), "");
         EXPECT_EQ(b.Lin[0].I, 1);
       }},
      {{"-ext", "=", "a"},
       2,
       [](const CommandBlock &b) {
         EXPECT_EQ(Text(b.Lin[0].V), ".kvx");
         EXPECT_EQ(b.Lin[0].I, 0);
       }},
      {{"-P", "+GBLK", "-Var", "+aa", "-vw", "+pass", "+cori"},
       7,
       [](const CommandBlock &b) {
         EXPECT_EQ(b.Prompt.V, 0);
         EXPECT_EQ(b.GeneralBlock.V, 1);
         EXPECT_EQ(b.GeneralBlock.I, 1);
         EXPECT_EQ(b.CreateVariance.V, 0);
         EXPECT_EQ(b.CreateVariance.I, -1);
         EXPECT_EQ(b.AntiAliased.V, 1);
         EXPECT_EQ(b.VarianceWeight.I, -1);
         EXPECT_EQ(b.PassHeader.V, 1);
         EXPECT_EQ(b.CommonOrientation.V, 1);
       }},
      {{"-pmin", "0.2*2", "-add", "3 * 4", "-mlw", "80,5", "+dvo", "-2", "-bibo", "1", "-mhs",
        "2*1024"},
       12,
       [](const CommandBlock &b) {
         EXPECT_FLOAT_EQ(b.IPMin.V, 0.4F);
         EXPECT_EQ(b.IPMin.I, -1);
         EXPECT_EQ(b.Add.V, 12) << "blanks inside an expression are removed";
         EXPECT_EQ(b.MaxLineWidth.V, 80) << "a comma ends the expression";
         EXPECT_EQ(b.OutputDataValueOffset.V, -2);
         EXPECT_EQ(b.OutputDataValueOffset.I, 1);
         EXPECT_EQ(b.BslInputByteOrder.V, 1);
         EXPECT_EQ(b.MinHeaderSize.V, 2048);
       }},
      {{"-shft", "1.5", "="},
       3,
       [](const CommandBlock &b) {
         EXPECT_EQ(Text(b.Shift[1].V), "1.5");
         EXPECT_EQ(b.Shift[1].I, -1);
         EXPECT_EQ(Text(b.Shift[2].V), "0.0");
         EXPECT_EQ(b.Shift[2].I, 0);
       }},
      {{"+shft", "=", "2*x"},
       3,
       [](const CommandBlock &b) {
         EXPECT_EQ(b.Shift[1].I, 0);
         EXPECT_EQ(Text(b.Shift[2].V), "2*x") << "kept as text, evaluated later";
         EXPECT_EQ(b.Shift[2].I, 1);
       }},
      {{"-rsys", "Real"},
       2,
       [](const CommandBlock &b) {
         EXPECT_EQ(b.RSys.V, 5);
         EXPECT_EQ(b.RSys.I, -1);
         EXPECT_EQ(b.USys.V, 5) << "the user system follows";
         EXPECT_EQ(b.USys.I, 0);
       }},
      {{"-usys", "ARRAY", "-rsys", "vexa"},
       4,
       [](const CommandBlock &b) {
         EXPECT_EQ(b.RSys.V, 8);
         EXPECT_EQ(b.USys.V, 1) << "a given user system stays";
       }},
      {{"-type", "UnsignedShort", "+cmpr", "gzip"},
       4,
       [](const CommandBlock &b) {
         EXPECT_EQ(b.OutputDataType.V, Unsigned16);
         EXPECT_EQ(b.OutputDataType.I, -1);
         EXPECT_EQ(b.OutputCompression.V, GzipCompression);
         EXPECT_EQ(b.OutputCompression.I, 1);
       }},
      {{"+test", "+test"}, 2, [](const CommandBlock &b) { EXPECT_EQ(b.TestBit, 2); }},
      {{"+test", "-test"}, 2, [](const CommandBlock &b) { EXPECT_EQ(b.TestBit, 0); }},
  };
  int n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE("case " + std::to_string(++n));
    Reset();
    Args args(Prog(c.words));
    EXPECT_EQ(Read(args), Success) << Message();
    EXPECT_EQ(arg_no, c.consumed);
    if (c.check) c.check(cb);
  }
}

TEST_F(ReadOptionsTest, RejectedOptions) {
  struct Case {
    std::vector<std::string> words;
    int status;
    int consumed;
    const char *message;
  };
  const Case cases[] = {
      {{"-foo", "x"}, NoOption, 1, "    prog -foo ... "},
      {{"-tes"}, NoOption, 1, "    prog -tes ... "},  // no abbreviations
      {{"-x5"}, NoOption, 1, "    prog -x5 ... "},
      {{"-"}, NoOption, 1, "    prog - ... "},
      {{"+"}, NoOption, 1, "    prog + ... "},
      {{"-onam", "x.kvx"}, NoOption, 1, "    prog -onam ... "},  // no image blocks
      {{"-i1nam", "x.kvx"}, NoOption, 1, "    prog -i1nam ... "},
      {{"-ixnam"}, NoOption, 1, "    prog -ixnam ... "},
      {{"-extension", "a"}, NoOption, 1, "    prog -extension ... "},
      {{"-ext"}, ScanEmpty, 2, "    -ext ... "},
      {{"-p", "-pmin"}, ScanEmpty, 3, "    -pmin ... "},
      {{"-shft", "1"}, ScanEmpty, 3, "    1 ... "},
      {{"-shft", "", "2"}, ScanError, 2, "    -shft  ... "},
      {{"-shft", "1", ""}, ScanError, 3, "    1  ... "},
      {{"-rsys", "foo", "in"}, ScanError, 2, "    -rsys foo ... "},
      {{"-usys"}, ScanEmpty, 2, "    -usys ... "},
      {{"-type", "foo"}, ScanError, 2, "    -type foo ... "},
      {{"-type"}, ScanError, 2, "    -type ... "},
      {{"-cmpr", "="}, ScanError, 2, "    -cmpr = ... "},
      {{"-add", "3x"}, ScanError, 2, "    -add 3x ... "},
      {{"-pmin", "1.5;2"}, Failed, 2, "    -pmin 1.5;2 ... "},
      {{"-add", "1/0"}, DivByZero, 2, "    -add 1/0 ... "},
      {{"-pmin", "(1"}, BadParenthesis, 2, "    -pmin (1 ... "},
      {{"-H", "in"}, StoppedAfterHelp, 1, "    prog -H ... "},
  };
  int n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE("case " + std::to_string(++n) + ": " + c.words[0]);
    Reset();
    ClearErrorRecord();
    Args args(Prog(c.words));
    EXPECT_EQ(Read(args), c.status) << Message();
    EXPECT_EQ(arg_no, c.consumed);
    EXPECT_STREQ(VexaErrorRecord().ModuleName, "VexaOption");
    EXPECT_STREQ(VexaErrorRecord().RoutineName, "ReadOptions");
    EXPECT_EQ(Message(), c.message);
    EXPECT_TRUE(cb.co.empty() && cb.io.empty()) << "both tables are released on failure";
  }
}

TEST_F(ReadOptionsTest, NumbersAreOptionWordsWithoutRejectNum) {
  cb.RejectNum = 0;
  Args args(Prog({"-5"}));
  EXPECT_EQ(Read(args), NoOption);
  EXPECT_EQ(arg_no, 1);
}

TEST_F(ReadOptionsTest, UnknownOptionReport) {
  Args args(Prog({"-foo"}));
  ASSERT_EQ(Read(args), NoOption);
  ::testing::internal::CaptureStderr();
  ReportVexaStatus(NoOption, 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "\nMODULE   : VexaOption\nROUTINE  : ReadOptions\n    prog -foo ... \n"
            "Status = 6 -- NoOption: Unknown option\n");
}

TEST_F(ReadOptionsTest, HelpStopsWithItsStatus) {
  struct Case {
    const char *word;
    int32_t value;
  };
  for (const Case &c : {Case{"-H", 0}, Case{"+h", 1}}) {
    SCOPED_TRACE(c.word);
    Reset();
    Args args(Prog({c.word, "in"}));
    std::string out;
    EXPECT_EQ(Read(args, &out), StoppedAfterHelp);
    EXPECT_EQ(cb.Help.V, c.value);
    EXPECT_NE(out.find("Usage   : prog <in> <out>\n"), std::string::npos) << out;
  }
}

TEST_F(ReadOptionsTest, RejectedNamesListTheAcceptedOnes) {
  Args args(Prog({"-rsys", "foo"}));
  std::string out;
  ASSERT_EQ(Read(args, &out), ScanError);
  EXPECT_EQ(out,
            "\nUse -rsys and -usys with one of the following reference systems : \n"
            "    array,    image,   center,   region,     real,   normal,  tangens,     vexa\n");
}

TEST_F(ReadOptionsTest, ReferenceNamesAreLowerCasedInTheArgumentList) {
  Args args(Prog({"-rsys", "TANGENS"}));
  ASSERT_EQ(Read(args), Success);
  EXPECT_EQ(args[2], "tangens");
  EXPECT_EQ(cb.RSys.V, 7);
}

TEST_F(ReadOptionsTest, OverlongWordsAreCut) {
  const std::string long_word = "-" + std::string(1000, 'q');
  Args unknown(Prog({long_word, std::string(600, 'w')}));
  ASSERT_EQ(Read(unknown), NoOption);
  const std::string expected = ("    prog " + long_word).substr(0, 255);
  EXPECT_EQ(Message(), expected) << "the message keeps to the text limit";

  Reset();
  Args value(Prog({"-ext", std::string(300, 'v')}));
  ASSERT_EQ(Read(value), Success);
  EXPECT_EQ(Text(cb.Lin[0].V), std::string(255, 'v'));
}

// Every type of parameter a program can define, read from the command line.
TEST_F(ReadOptionsTest, ProgramParameters) {
  option_define(IO_tplong, "num", "1", &cb);
  option_define(IO_tpfloat, "fl", "0.5", &cb);
  option_define(IO_tpflexp, "fx", "1", &cb);
  option_define(IO_tplvexp, "lv", "1", &cb);
  option_define(IO_tpflag, "flg", "0", &cb);
  option_define(IO_tpflag, "go", "1", &cb);
  Args args(Prog({"-num", "3*3", "+fl", "2.5", "-fx", "", "-lv", "a+b", "+flg", "-go", "pos"}));
  ASSERT_EQ(Read(args), Success) << Message();
  EXPECT_EQ(arg_no, 10);
  EXPECT_EQ(cb.Num[0].V, 9);
  EXPECT_EQ(cb.Num[0].I, -1);
  EXPECT_FLOAT_EQ(cb.Arg[0].V, 2.5F);
  EXPECT_EQ(cb.Arg[0].I, 1);
  EXPECT_EQ(Text(cb.Flexp[0].V), "") << "user expression texts may be empty";
  EXPECT_EQ(Text(cb.Lvexp[0].V), "a+b");
  EXPECT_EQ(cb.Flg[0].V, 1);
  EXPECT_EQ(cb.Flg[1].V, 0);
  EXPECT_EQ(cb.Flg[1].I, -1);

  Reset();
  option_define(IO_tplong, "num", "1", &cb);
  Args bad(Prog({"-num", "x"}));
  EXPECT_NE(Read(bad), Success);
  EXPECT_EQ(cb.Num[0].V, 1) << "a rejected value keeps the default";
}

// A program with an output block and two input blocks.
class ImageOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearErrorRecord();
    arg_no = 0;
    InitOptions("", "", nullptr, 1, &cb, blocks.data(), static_cast<int>(blocks.size()));
  }
  void TearDown() override { ClearErrorRecord(); }

  int Read(std::vector<std::string> words, std::string *out = nullptr) {
    Args args(Prog(std::move(words)));
    int status = -99;
    CaptureStdout();
    ReadOptions(args.argv(), &arg_no, &cb, blocks.data(), &status);
    const std::string printed = GetCapturedStdout();
    if (out != nullptr) *out = printed;
    return status;
  }

  CommandBlock cb;
  std::vector<ImageBlock> blocks = std::vector<ImageBlock>(3);
  int arg_no = 0;
};

TEST_F(ImageOptionsTest, ValuesOfEveryKind) {
  ASSERT_EQ(Read({"-omod", "N+IP",   "+i1tit", "my title", "-obin", "2",       "=",     "-i2rot",
                  "1",     "2",      "3",      "-opro",    "waxs",  "-i1axis", "angle", "Numerator",
                  "+oave", "-i2fst", "4*2",    "-oddum",   "0.1",   "-oori",   "3",     "in"}),
            Success)
      << Message();
  EXPECT_EQ(arg_no, 23);
  const ImageBlock &out = blocks[0], &in1 = blocks[1], &in2 = blocks[2];
  EXPECT_EQ(out.OpenMode.V, 9);
  EXPECT_EQ(out.OpenMode.I, -1);
  EXPECT_EQ(Text(in1.Title.V), "my title");
  EXPECT_EQ(in1.Title.I, 1);
  EXPECT_EQ(Text(out.Bin[1].V), "2");
  EXPECT_EQ(out.Bin[2].I, 0) << "\"=\" keeps the second value";
  EXPECT_EQ(Text(in2.DetRot[3].V), "3");
  EXPECT_EQ(out.Projection.V, 2);
  EXPECT_EQ(in1.AxisType[1].V, 2);
  EXPECT_EQ(in1.AxisType[2].V, 3);
  EXPECT_EQ(out.Ave.V, 1);
  EXPECT_EQ(in2.First.V, 8);
  EXPECT_EQ(Text(out.DDummy.V), "0.1");
  EXPECT_EQ(Text(out.Orientation.V), "3");
  EXPECT_EQ(in1.OpenMode.I, 0) << "other blocks keep their defaults";
}

TEST_F(ImageOptionsTest, NumbersAfterTheFileName) {
  struct Case {
    const char *name;
    int block;
    int first, last, inc;
    bool file_numbers;
  };
  const Case cases[] = {
      {"file.kvx,3,10,2", 0, 3, 10, 2, false},
      {"file.kvx,,5", 1, 1, 5, 1, false},  // an empty field keeps the value
      {"f%%%.kvx,2*2,9.6", 2, 4, 10, 1, true},
      {"plain.kvx", 0, 1, 1, 1, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    const std::string option = c.block == 0 ? "-onam" : "-i" + std::to_string(c.block) + "nam";
    ASSERT_EQ(Read({option, c.name}), Success) << Message();
    const ImageBlock &b = blocks[c.block];
    const IO_long &first = c.file_numbers ? b.FFirst : b.First;
    const IO_long &last = c.file_numbers ? b.FLast : b.Last;
    const IO_long &inc = c.file_numbers ? b.FInc : b.Inc;
    EXPECT_EQ(first.V, c.first);
    EXPECT_EQ(last.V, c.last);
    EXPECT_EQ(inc.V, c.inc);
    EXPECT_EQ(Text(b.Name.V), c.name);
  }
  SetUp();
  ASSERT_EQ(Read({"-onam", "a.kvx,3,10"}), Success);
  EXPECT_EQ(blocks[0].Last.I, -1);
  EXPECT_EQ(blocks[0].Inc.I, 0) << "a field that is not given leaves the indicator";
}

TEST_F(ImageOptionsTest, RejectedImageOptions) {
  struct Case {
    std::vector<std::string> words;
    int status;
  };
  const Case cases[] = {
      {{"-i3nam", "x"}, NoOption},  // only blocks 0 to 2
      {{"-i0nam", "x"}, NoOption},
      {{"-ofoo", "x"}, NoOption},
      {{"-o"}, NoOption},
      {{"-omod", "x"}, ScanError},
      {{"-opro", "flat"}, ScanError},
      {{"-oaxis", "angle", "x"}, ScanError},
      {{"-ofst", "1/0"}, DivByZero},
      {{"-onam", "x,1e20"}, IntegerOverflow},
      {{"-onam", "x,1,(1"}, BadParenthesis},
      {{"-omin", ""}, ScanError},
      {{"-odim", "1"}, ScanEmpty},
  };
  int n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE("case " + std::to_string(++n));
    SetUp();
    arg_no = 0;
    EXPECT_EQ(Read(c.words), c.status) << Message();
  }
}

TEST_F(ImageOptionsTest, RejectedModeListsTheModes) {
  std::string out;
  ASSERT_EQ(Read({"-omod", "x"}, &out), ScanError);
  EXPECT_EQ(out,
            "Use -omod with one of the following modes : \n"
            "     n+fp,     n+ip,        n\n     o+fp,     o+ip,        o\n"
            "     a+fp,     a+ip,        a\n");
}

// Direct calls of the building blocks.
TEST(OptionScanners, CommonRules) {
  int32_t value = 7;
  int status = -99;
  EXPECT_EQ(ScanLong(nullptr, &value, &status), 0);
  EXPECT_EQ(status, ScanEmpty);
  EXPECT_EQ(ScanLong("=", &value, &status), 0);
  EXPECT_EQ(status, Success);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(ScanLong("2+3", &value, &status), 1);
  EXPECT_EQ(value, 5);

  IO_text text{};
  EXPECT_EQ(ScanFlExp("", &text, &status), 0);
  EXPECT_EQ(status, ScanError);
  EXPECT_EQ(ScanLvExp("", &text, &status), 0);
  EXPECT_EQ(ScanLine("", &text, &status), 1);
  EXPECT_EQ(status, Success);

  struct Case {
    const char *name;
    int pro, axis;
  };
  const Case cases[] = {{"vexa", 1, 0},     {"WAXS", 2, 0},      {"angle", 0, 2},
                        {"Distance", 0, 1}, {"numerator", 0, 3}, {"vex", 0, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(strtopro(c.name), c.pro);
    EXPECT_EQ(strtoaxis(c.name), c.axis);
  }
}

TEST(OptionScanners, GetOptionMatchesWholeCodes) {
  CommandBlock cb;
  InitOptions("", "", nullptr, 0, &cb, nullptr, 0);
  int opt_no = -1;
  int status = -99;
  GetOption("shft", cb.co, &opt_no, &status);
  EXPECT_EQ(opt_no, NShift);
  EXPECT_EQ(status, Success);
  for (const char *code : {"shf", "shftx", "", "Cmd"}) {
    SCOPED_TRACE(code);
    GetOption(code, cb.co, &opt_no, &status);
    EXPECT_EQ(opt_no, 0);
    EXPECT_EQ(status, NoOption);
  }
  GetOption("test", std::span<const OptionDescriptor>{}, &opt_no, &status);
  EXPECT_EQ(status, NoOption) << "a released table finds nothing";
}

}  // namespace
