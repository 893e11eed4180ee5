#include "VexaExpression.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

TEST(ErrvalToStatusTest, EveryErrorValue) {
  const Status expected[] = {
      Success,
      NotEnoughMemoryAvailable,
      ScanError,
      CommaExpected,
      BadParenthesis,
      NoFloatNumber,
      UnknownFloatFunction,
      DomainError,
      NoIntegerNumber,
      IntegerOverflow,
      DivByZero,
      ExpressionWriteError,
      NoVariable,
      VariableError,
      ProgramError,
      NoInstruction,
      NoAccumulator,
  };
  for (int errval = 0; errval < static_cast<int>(std::size(expected)); ++errval) {
    SCOPED_TRACE(errval);
    EXPECT_EQ(errval2status(errval), expected[errval]);
  }
  for (const int outside : {-1, 17, 100}) {
    SCOPED_TRACE(outside);
    EXPECT_EQ(errval2status(outside), Failed);
  }
}

TEST(DoubleExprTest, BlanksCommentsCommaAndTrailingText) {
  struct Case {
    const char *text;
    int status;
    double value;  // checked for Success and Failed only
  };
  const Case cases[] = {
      {"1 2", Success, 12.0},
      {" 2 * 3 # six", Success, 6.0},
      {"2*\t0.25\n", Success, 0.5},
      {"5,7", Success, 5.0},
      {"5,", Success, 5.0},
      {"2;", Failed, 2.0},
      {"1/0", DivByZero, 0.0},
      {"sqrt(-1)", DomainError, 0.0},
      {"nosuchfunction(1)", UnknownFloatFunction, 0.0},
      {"(1+2", BadParenthesis, 0.0},
      {"", NoFloatNumber, 0.0},
      {"# only a comment", NoFloatNumber, 0.0},
      {nullptr, NoFloatNumber, 0.0},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i << ": " << (c.text ? c.text : "(null)"));
    int status = 12345;
    const double value = doubleexpr(c.text, &status);
    EXPECT_EQ(status, c.status);
    if (status == Success || status == Failed) {
      EXPECT_DOUBLE_EQ(value, c.value);
    }
  }
}

TEST(FloatExprTest, RoundsToSinglePrecision) {
  int status = 12345;
  EXPECT_EQ(floatexpr("0.1", &status), 0.1F);
  EXPECT_EQ(status, Success);
  EXPECT_EQ(floatexpr("1 5 , 3", &status), 15.0F);
  EXPECT_EQ(status, Success);
  EXPECT_EQ(floatexpr("-1e40", &status), -std::numeric_limits<float>::infinity());
  EXPECT_EQ(status, Success);
  EXPECT_EQ(floatexpr("4x", &status), 4.0F) << "the value read so far";
  EXPECT_EQ(status, Failed);
}

TEST(LongExprTest, IntegerExpressions) {
  struct Case {
    const char *text;
    int status;
    int value;  // checked for Success and Failed only
  };
  const Case cases[] = {
      {"3*4", Success, 12},
      {"3 4", Success, 34},
      {"7,8", Success, 7},
      {"5;6", Failed, 5},
      {"-2147483647-1", Success, -2147483647 - 1},
      {"17%5", Success, 2},
      {"1/0", DivByZero, 0},
      {"(2+3", BadParenthesis, 0},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i << ": " << c.text);
    int status = 12345;
    const int value = longexpr(c.text, &status);
    EXPECT_EQ(status, c.status);
    if (status == Success || status == Failed) {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST(ExpressionTest, NullStatusAndLongTexts) {
  EXPECT_DOUBLE_EQ(doubleexpr("2", nullptr), 2.0) << "a null status pointer is allowed";
  EXPECT_EQ(longexpr("2", nullptr), 2);

  std::string sum = "1";
  for (int i = 0; i < 5000; ++i) sum += " + 1";
  int status = 12345;
  EXPECT_EQ(longexpr(sum.c_str(), &status), 5001);
  EXPECT_EQ(status, Success);
  EXPECT_DOUBLE_EQ(doubleexpr(sum.c_str(), &status), 5001.0);
  EXPECT_EQ(status, Success);
}

}  // namespace
