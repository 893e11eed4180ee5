// Error texts, version and the case-insensitive comparison.
#include "numio.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(NumErrorTexts, EveryValueHasItsText) {
  const struct {
    int errval;
    std::string text;
  } cases[] = {
      {NumSuccess, "success"},
      {NumMemoryAllocationFailed, "memory allocation failed"},
      {NumScanError, "error scanning expression"},
      {NumCommaExpected, "missing comma in expression"},
      {NumBadParenthesis, "bad parenthesis in expression"},
      {NumNoFloatNumber, "expression is not a float number"},
      {NumNoFloatFunction, "unknown float function in expression"},
      {NumDomainError, "domain error"},
      {NumNoIntegerNumber, "expression is not an integer number"},
      {NumIntegerOverflow, "integer overflow"},
      {NumDivByZero, "division by zero"},
      {NumWriteError, "error writing value"},
      {NumNoVariable, "undefined variable"},
      {NumVariableError, ""},
      {NumProgramError, "error creating program"},
      {NumNoInstruction, "unknown program instruction"},
      {NumNoAccumulator, "not enough program registers"},
      {-1, "unknown error value"},
      {17, "unknown error value"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.errval);
    EXPECT_EQ(num_errval2str(c.errval), c.text);
  }
}

TEST(NumVersion, Text) { EXPECT_STREQ(numio_version(), "numio : V1.35 Ardeny 2012-04-11"); }

TEST(NumStrncasecmp, ComparesLowerCasedPrefixes) {
  const struct {
    const char *s1;
    const char *s2;
    size_t n;
    int sign;
  } cases[] = {
      {"TRUE", "true", 4, 0},
      {"Yesterday", "yes", 3, 0},
      {"yes", "yesterday", 4, -1},
      {"abc", "abd", 2, 0},
      {"abc", "abd", 3, -1},
      {"b", "A", 1, 1},
      {"", "", 5, 0},
      {nullptr, "", 1, 0},
      {"x", nullptr, 1, 1},
      {"anything", "else", 0, 0},
  };
  int i = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(++i);
    const int r = num_strncasecmp(c.s1, c.s2, c.n);
    EXPECT_EQ((r > 0) - (r < 0), c.sign);
  }
}

}  // namespace
