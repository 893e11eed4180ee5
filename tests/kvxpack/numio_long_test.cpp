// Integer expressions: values, wrap-around, casts, words, errors and tails.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "numio.h"

namespace {

struct LongCase {
  const char *text;
  long value;
  int errval;
  const char *tail;
};

TEST(NumStr2Long, ValuesErrorsAndTails) {
  const LongCase cases[] = {
      {"", 0, NumNoFloatNumber, ""},
      {"   7", 7, 0, ""},
      {"1+2*3", 7, 0, ""},
      {"-7/2", -3, 0, ""},
      {"-7%3", -1, 0, ""},
      {"7%-3", 0, NumNoFloatNumber, "-3"},
      {"7%(-3)", 1, 0, ""},
      {"+5", 5, 0, ""},
      {"7/0", 0, NumDivByZero, ""},
      {"7%0", 0, NumDivByZero, ""},
      {"1.5", 1, NumScanError, ".5"},
      {"3,4", 3, 0, ",4"},
      {"3;4", 3, 0, ";4"},
      {"3 4", 3, 0, " 4"},
      {"3)", 3, NumBadParenthesis, ")"},
      {"(3", 3, NumBadParenthesis, ""},
      {"(3)", 3, 0, ""},
      {"(1+2)*3", 9, 0, ""},
      {"3x", 3, NumScanError, "x"},
      {"0x1F", 0, NumScanError, "x1F"},
      {"TRUE", 1, 0, ""},
      {"No", 0, 0, ""},
      {"yes+false", 1, 0, ""},
      {"yesterday", 1, NumScanError, "terday"},
      {"none", 0, NumScanError, "ne"},
      {"(round)2.5", 3, 0, ""},
      {"(round)-2.5", 0, NumNoFloatNumber, "-2.5"},
      {"(round)(-2.5)", -2, 0, ""},
      {"(long int)2.9", 2, 0, ""},
      {"(long int)(-2.9)", -2, 0, ""},
      {"(long int)5_mm", 0, 0, ""},
      {"round(2.5)", 3, 0, ""},
      {"sqrt(2)", 1, 0, ""},
      {"sqrt(-1)", 0, NumDomainError, ""},
      {"Sqrt(2)", 0, NumNoFloatFunction, "Sqrt(2)"},
      {"pi", 3, 0, ""},
      {"1_km", 1, NumScanError, "_km"},
      {"(round)1_km", 1000, 0, ""},
      {"(round)1e10", 0, NumIntegerOverflow, ""},
      {"NA", 0, NumIntegerOverflow, ""},
      {"sqrt((double)pi)", 2, 0, ""},
      {"5+xyz", 5, NumNoFloatNumber, "xyz"},
      {"2*(3", 2, NumBadParenthesis, ""},
  };
  int i = 0;
  for (const LongCase &c : cases) {
    SCOPED_TRACE(std::to_string(++i) + " \"" + c.text + "\"");
    const char *tail = nullptr;
    int errval = -1;
    const long value = num_str2long(c.text, &tail, &errval);
    EXPECT_EQ(errval, c.errval) << num_errval2str(errval);
    if (c.errval == NumSuccess) {
      EXPECT_EQ(value, c.value);
    }
    EXPECT_STREQ(tail, c.tail);
  }
}

TEST(NumStr2Long, ThirtyTwoBitArithmeticWrapsAndClamps) {
  const LongCase cases[] = {
      {"2147483647+1", INT_MIN, 0, ""},
      {"-2147483647-2", INT_MAX, 0, ""},
      {"65536*65536", 0, 0, ""},
      {"65536*32768", INT_MIN, 0, ""},
      {"-2147483648", -INT_MAX, 0, ""},  // the literal is clamped before the sign
      {"-2147483647-1", INT_MIN, 0, ""},
      {"--1", 0, NumNoFloatNumber, "-1"},
      {"4294967297", INT_MAX, 0, ""},
      {"99999999999999999999999", INT_MAX, 0, ""},
      {"-4294967297", -INT_MAX, 0, ""},
      {"(round)2147483647", INT_MAX, 0, ""},
      {"(round)2147483647.5", 0, NumIntegerOverflow, ""},
      {"(long int)(-2147483648.9)", INT_MIN, 0, ""},
      {"(long int)(-2147483649)", 0, NumIntegerOverflow, ""},
      {"(round)(1_inf*10-1_inf*10)", 0, NumIntegerOverflow, ""},
      {"-2147483648/-1", 0, NumNoFloatNumber, "-1"},
      {"(-2147483647-1)/(-1)", 0, NumIntegerOverflow, ""},
      {"(2147483647+1)%(-1)", 0, NumIntegerOverflow, ""},
      {"(-2147483647-1)*(-1)", INT_MIN, 0, ""},
      {"-(-2147483647-1)", INT_MIN, 0, ""},
      {"(-2147483647)/(-1)", INT_MAX, 0, ""},
      {"(-2147483647-1)/1", INT_MIN, 0, ""},
      {"(-2147483647-1)%3", -2, 0, ""},
  };
  int i = 0;
  for (const LongCase &c : cases) {
    SCOPED_TRACE(std::to_string(++i) + " \"" + c.text + "\"");
    const char *tail = nullptr;
    int errval = -1;
    const long value = num_str2long(c.text, &tail, &errval);
    EXPECT_EQ(errval, c.errval) << num_errval2str(errval);
    if (c.errval == NumSuccess) {
      EXPECT_EQ(value, c.value);
    }
    EXPECT_STREQ(tail, c.tail);
  }
}

TEST(NumStr2Long, NestedTemporaryProgramsStayApart) {
  const struct {
    const char *text;
    long value;
  } cases[] = {
      {"sqrt((double)pi)", 2},
      {"max((double)(round)2.5,(double)pi)+pi", 6},
      {"(round)((double)(round)sqrt((double)e)_10)", 17},
      {"(round)max(1_km,(double)sqrt(16))", 1000},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    int errval = -1;
    EXPECT_EQ(num_str2long(c.text, nullptr, &errval), c.value);
    EXPECT_EQ(errval, NumSuccess);
  }
  NumProg *left = nullptr;
  for (const char *name : {"lvfactor", "lvfactor1", "lvfactor2", "str2double"}) {
    numprog_search(name, &left);
    EXPECT_EQ(left, nullptr) << name << " was released";
  }
}

TEST(NumStr2Long, DeepNestingEndsInAnError) {
  for (const char *unit : {"(", "-(", "(round)", "(long int)(double)", "sqrt("}) {
    SCOPED_TRACE(unit);
    std::string text;
    for (int i = 0; i < 100000; ++i) text += unit;
    text += "1";
    int errval = -1;
    num_str2long(text.c_str(), nullptr, &errval);
    EXPECT_NE(errval, NumSuccess);
  }
}

TEST(NumStr2Long, NullTextAndOutParameters) {
  const char *tail = nullptr;
  int errval = -1;
  num_str2long(nullptr, &tail, &errval);
  EXPECT_EQ(errval, NumNoFloatNumber);
  EXPECT_STREQ(tail, "");
  EXPECT_EQ(num_str2long("12", nullptr, nullptr), 12);
}

}  // namespace
