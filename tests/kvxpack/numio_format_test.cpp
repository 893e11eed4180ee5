// Number formatting with and without units.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "numio.h"

namespace {

TEST(NumDouble2Str, WritesDigitsUnitsAndErrors) {
  const struct {
    size_t buflen;
    double value;
    const char *unit;
    int ndigits;
    const char *text;  // null: the call fails
    int errval;
  } cases[] = {
      {65, 0.005, "mm", 7, "5_mm", 0},
      {65, 1234.5678, "", 7, "1234.568", 0},
      {65, 1234.5678, "", 0, "1234.57", 0},
      {65, 1234.5678, nullptr, 7, "1234.568", 0},
      {5, 1234.5678, nullptr, 7, "1234", 0},
      {1, 1234.5678, nullptr, 7, "", 0},
      {65, 1234.5678, "", -7, "1234.568", 0},
      {65, 0.1, "", 200, "0.1000000000000000055511151231257827021181583404541015625", 0},
      {65, 1.0, "0_m", 7, nullptr, NumDivByZero},
      {65, 1.0, "xyz", 7, nullptr, NumNoFloatNumber},
      {65, 1.0, "1/0", 7, nullptr, NumDivByZero},
      {65, 1.0, "sqrt(", 7, nullptr, NumNoFloatNumber},
      {65, 2.0, "s+1", 7, "1_(s+1)", 0},
      {65, 1e4, "1/s", 7, "10000_1/s", 0},
      {65, 1.60217653e-16, "keV", 7, "1_keV", 0},
      {4, 0.005, "mm", 7, nullptr, NumWriteError},
      {5, 0.005, "mm", 7, "5_mm", 0},
      {7, 2.0, "s+1", 7, nullptr, NumWriteError},
      {8, 2.0, "s+1", 7, "1_(s+1)", 0},
      {0, 1.0, nullptr, 7, nullptr, NumWriteError},
  };
  int i = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(++i);
    char buffer[80];
    std::strcpy(buffer, "untouched");
    int errval = -1;
    const char *result = num_double2str(buffer, c.buflen, c.value, c.unit, c.ndigits, &errval);
    EXPECT_EQ(errval, c.errval) << num_errval2str(errval);
    if (c.text) {
      EXPECT_EQ(result, buffer);
      EXPECT_STREQ(buffer, c.text);
    } else {
      EXPECT_EQ(result, nullptr);
      EXPECT_STREQ(buffer, "untouched") << "a failure leaves the buffer unchanged";
    }
  }
}

TEST(NumDouble2Str, TextReadsBackToTheValue) {
  for (const char *unit : {"mm", "keV", "s+1", "m/s2", "deg", "(1+2)"}) {
    SCOPED_TRACE(unit);
    char buffer[65];
    int errval = -1;
    ASSERT_NE(num_double2str(buffer, sizeof buffer, 0.123456789, unit, 15, &errval), nullptr);
    EXPECT_NEAR(num_str2double(buffer, nullptr, &errval), 0.123456789, 1e-14);
    EXPECT_EQ(errval, NumSuccess);
  }
}

TEST(NumDouble2s, DigitsAreCappedAndDefaulted) {
  char buffer[NumDouble2sBufferSize];
  EXPECT_STREQ(double2s(buffer, 3.14159265, 3), "3.14");
  EXPECT_STREQ(double2s(buffer, 3.14159265, 0), "3.14159");
  char expected[NumDouble2sBufferSize];
  snprintf(expected, sizeof expected, "%.80lg", -1e300);
  EXPECT_STREQ(double2s(buffer, -1e300, 200), expected);
  EXPECT_STREQ(double2s(buffer, 1.0, INT_MIN), "1");
  EXPECT_LT(std::strlen(double2s(buffer, -1.7976931348623157e308, 80)), NumDouble2sBufferSize);
  EXPECT_EQ(double2s(nullptr, 1.0, 3), nullptr);
}

}  // namespace
