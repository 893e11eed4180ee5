// Floating-point expressions: values, error values and tails.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "numio.h"
#include "numio_test_util.h"

namespace {

using numiotest::check_double;
using numiotest::DoubleCase;

TEST(NumStr2Double, OperatorsAndPrecedence) {
  const DoubleCase cases[] = {
      {"1+2*3", 7, 0, ""},
      {"2_3", 6, 0, ""},
      {"10%3", 1, 0, ""},
      {"-7%3", -1, 0, ""},
      {"(-7)%3", 2, 0, ""},
      {"7.5%-2", 0, NumNoFloatNumber, "-2"},
      {"-2*3", -6, 0, ""},
      {"+2*3", 6, 0, ""},
      {"2*-3", 0, NumNoFloatNumber, "-3"},
      {"2*(-3)", -6, 0, ""},
      {"8/2/2", 2, 0, ""},
      {"8-2-2", 4, 0, ""},
      {"1/2_4", 0.125, 0, ""},
      {"1<2", 1, 0, ""},
      {"2<=1", 0, 0, ""},
      {"2>=2", 1, 0, ""},
      {"3>2", 1, 0, ""},
      {"1<2<3", 1, 0, "<3"},
      {"1==1==1", 1, 0, "==1"},
      {"(1==1)==1", 1, 0, ""},
      {"1!=2", 1, 0, ""},
      {"1<2==2>1", 1, 0, ""},
      {"1&&0||1", 1, 0, ""},
      {"0&&1", 0, 0, ""},
      {"0?1:2", 2, 0, ""},
      {"(1?2:3)", 2, 0, ""},
      {"1?-2:3", -2, 0, ""},
      {"1?2:3?4:5", 2, 0, "?4:5"},
      {"!0", 1, 0, ""},
      {"!5", 0, 0, ""},
      {"!0_5", 1, 0, ""},
      {"!0*5", 5, 0, ""},
      {"!!0", 0, NumNoFloatNumber, "!0"},
      {"1e3", 1000, 0, ""},
      {".5", 0.5, 0, ""},
      {"2.5e-1", 0.25, 0, ""},
      {".", 0, 0, "."},
      {"0x10", 0, 0, "x10"},
  };
  for (const DoubleCase &c : cases) check_double(c);
}

TEST(NumStr2Double, ErrorsAndTails) {
  const DoubleCase cases[] = {
      {"", 0, NumNoFloatNumber, ""},
      {"   ", 0, NumNoFloatNumber, ""},
      {nullptr, 0, NumNoFloatNumber, ""},
      {"1?2", 0, NumScanError, ""},
      {"1?2:1/0", 0, NumDivByZero, ""},
      {"1%0", 0, NumDivByZero, ""},
      {"(1+2", 0, NumBadParenthesis, ""},
      {"1+2)", 0, NumBadParenthesis, ")"},
      {"(1+2))", 0, NumBadParenthesis, ")"},
      {")", 0, NumNoFloatNumber, ")"},
      {"1 +2", 1, 0, " +2"},
      {"  4", 4, 0, ""},
      {"2,5", 2, 0, ",5"},
      {"foo(1)", 0, NumNoFloatFunction, "foo(1)"},
      {"_x", 0, NumNoVariable, "x"},
      {"5mm", 5, 0, "mm"},
      {"5_mm", 0.005, 0, ""},
      {"5_mms", 0.005, 0, "s"},
      {"1eV", 1, 0, "eV"},
      {"1_eV", 1.60217653e-19, 0, ""},
      {"(double)7/2", 3.5, 0, ""},
      {"(double)(7/2)", 3, 0, ""},
      {"(double)1.5", 1, 0, ".5"},
      {"(double)xyz", 0, NumNoFloatNumber, "xyz"},
      {"(double)(round)2.5", 3, 0, ""},
      {"2*", 0, NumNoFloatNumber, ""},
      {"1_", 0, NumNoFloatNumber, ""},
  };
  for (const DoubleCase &c : cases) check_double(c);
}

TEST(NumStr2Double, NegativeZeroAndNullOutParameters) {
  EXPECT_TRUE(std::signbit(num_str2double("-0", nullptr, nullptr)));
  EXPECT_EQ(num_str2double("2*pi", nullptr, nullptr), 2 * 3.141592653589793);
}

TEST(NumStr2Double, VariablesArePushedByAddress) {
  numprog_reset();
  NumProg *p = numprog_new("vars");
  NumVar *radius = nullptr;
  ASSERT_EQ(numprog_define_variable(p, "r", 2.0, &radius), 0);
  numprog_define_variable(p, "rr", 9.0, nullptr);
  const char *s = "_rr*3";
  int errval = -1;
  dpcondition(p, &s, 0, &errval);
  ASSERT_EQ(errval, NumSuccess);
  EXPECT_STREQ(s, "r*3") << "the first variable whose name begins the text is taken";
  s = "_r__rr*3";
  dpcondition(p, &s, 0, &errval);
  EXPECT_STREQ(s, "r*3");
  EXPECT_EQ(radius->Used, 3);
  radius->Value = 5.0;
  dpprogram_run(p, &errval);
  EXPECT_EQ(p->CurrentAccumulator->Value, 5.0 * 5.0) << "the value when run, not when read";
  s = "_q";
  dpcondition(p, &s, 0, &errval);
  EXPECT_EQ(errval, NumNoVariable);
  numprog_reset();
}

TEST(NumStr2Double, RulesAppendPostfixPrograms) {
  const struct {
    const char *text;
    std::string listing;
    size_t accumulators;
    double value;
  } cases[] = {
      {"1+2", "PUSHVAL 1|PUSHVAL 2|ADD 2|", 2, 3},
      {"(1?2:3)", "PUSHVAL 1|PUSHVAL 2|PUSHVAL 3|IF 3|", 3, 2},
      {"-2*3", "PUSHVAL 2|PUSHVAL 3|MUL 2|NEG 1|", 2, -6},
      {"!0_5", "PUSHVAL 0|PUSHVAL 5|MUL 2|NOT 1|", 2, 1},
      {"sqrt(4)", "PUSHVAL 4|SQRT 1|", 1, 2},
      {"pi()", "PUSHVAL 3.14159|", 1, 3.141592653589793},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    numprog_reset();
    NumProg *p = numprog_new("t");
    const char *s = c.text;
    int errval = -1;
    dpcondition(p, &s, 0, &errval);
    ASSERT_EQ(errval, NumSuccess);
    std::string listing;
    for (const NumInstr &i : p->InstructionList) {
      char value[32];
      snprintf(value, sizeof value, "%g", i.Command == 1 ? i.Value : i.Nargs);
      listing += std::string(numprog_cmd2str(i.Command)) + " " + value + "|";
    }
    EXPECT_EQ(listing, c.listing);
    dpprogram_run(p, &errval);
    EXPECT_EQ(errval, NumSuccess);
    EXPECT_EQ(p->AccumulatorList.size(), c.accumulators);
    EXPECT_DOUBLE_EQ(p->CurrentAccumulator->Value, c.value);
    EXPECT_EQ(p->CurrentAccumulator->Number, 1);
  }
  numprog_reset();
}

TEST(NumStr2Double, LeavesNoProgramBehind) {
  num_str2double("1+2", nullptr, nullptr);
  num_str2double("sqrt((double)pi)", nullptr, nullptr);
  NumProg *p = nullptr;
  numprog_search("str2double", &p);
  EXPECT_EQ(p, nullptr);
  numprog_search("lvfactor", &p);
  EXPECT_EQ(p, nullptr);
}

TEST(NumStr2Double, ProgramsAreListedOnlyForMachineErrorsOrWhenTracing) {
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  int errval = -1;
  num_str2double("1/0", nullptr, &errval);
  EXPECT_EQ(errval, NumDivByZero);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "errors up to 13 are quiet";
  testing::internal::CaptureStderr();
  numio_debug(3);
  num_str2double("1+2", nullptr, &errval);
  numio_debug(0);
  EXPECT_NE(testing::internal::GetCapturedStdout().find(" Program             = 'str2double'"),
            std::string::npos)
      << "trace level 3 lists every program";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(NumStr2Double, DeepNestingEndsInAnError) {
  for (const char *unit : {"(", "sqrt(", "(double)", "(double)(round)", "-(", "!("}) {
    SCOPED_TRACE(unit);
    std::string text;
    for (int i = 0; i < 100000; ++i) text += unit;
    text += "1";
    int errval = -1;
    EXPECT_EQ(num_str2double(text.c_str(), nullptr, &errval), 0.0);
    EXPECT_NE(errval, NumSuccess);
  }
  const std::string nested = std::string(150, '(').append("1").append(150, ')');
  int errval = -1;
  EXPECT_EQ(num_str2double(nested.c_str(), nullptr, &errval), 1.0) << "reasonable depths work";
  EXPECT_EQ(errval, NumSuccess);
}

}  // namespace
