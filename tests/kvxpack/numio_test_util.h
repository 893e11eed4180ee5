// Table cases for the expression reader: a text, the value and status it
// reads as, and the text left after reading.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "numio.h"

namespace numiotest {

struct DoubleCase {
  const char *text;
  double value;
  int errval;
  const char *tail;  // the text left after reading
};

// Reads the case's text as a double expression; a tolerance of 0 asks for
// the value to within rounding.
inline void check_double(const DoubleCase &c, double tolerance = 0.0) {
  SCOPED_TRACE(std::string("text \"") + (c.text ? c.text : "(null)") + "\"");
  const char *tail = nullptr;
  int errval = -1;
  const double value = num_str2double(c.text, &tail, &errval);
  EXPECT_EQ(errval, c.errval) << num_errval2str(errval);
  if (tolerance > 0.0) {
    EXPECT_NEAR(value, c.value, tolerance);
  } else {
    EXPECT_DOUBLE_EQ(value, c.value);
  }
  ASSERT_NE(tail, nullptr);
  EXPECT_STREQ(tail, c.tail);
}

}  // namespace numiotest
