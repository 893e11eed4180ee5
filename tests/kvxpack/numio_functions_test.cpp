// The function library: every function, the power rules, domain errors and
// argument-list errors.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>

#include "numio.h"
#include "numio_test_util.h"

namespace {

using numiotest::check_double;
using numiotest::DoubleCase;

TEST(NumFunctions, ValuesAndDomainErrors) {
  const double pi = 3.141592653589793;
  const DoubleCase cases[] = {
      {"sqrt(4)", 2, 0, ""},
      {"sqrt(-1)", 0, NumDomainError, ""},
      {"sqrt(0)", 0, 0, ""},
      {"log(0)", 0, NumDomainError, ""},
      {"log(e)", 1, 0, ""},
      {"log10(1000)", 3, 0, ""},
      {"log10(-1)", 0, NumDomainError, ""},
      {"asin(1.5)", 0, NumDomainError, ""},
      {"asin(1)", 1.5707963267948966, 0, ""},
      {"acos(-1)", pi, 0, ""},
      {"acos(-1.01)", 0, NumDomainError, ""},
      {"atan(1)", pi / 4, 0, ""},
      {"atan2(1,0)", 1.5707963267948966, 0, ""},
      {"atan2(0,-1)", pi, 0, ""},
      {"sin(pi()/2)", 1, 0, ""},
      {"cos(0)", 1, 0, ""},
      {"tan(0)", 0, 0, ""},
      {"sinh(0)", 0, 0, ""},
      {"cosh(0)", 1, 0, ""},
      {"tanh(0)", 0, 0, ""},
      {"floor(-1.5)", -2, 0, ""},
      {"ceil(-1.5)", -1, 0, ""},
      {"exp(0)", 1, 0, ""},
      {"round(2.5)", 3, 0, ""},
      {"round(-2.5)", -2, 0, ""},
      {"abs(-0)", 0, 0, ""},
      {"abs(-3)", 3, 0, ""},
      {"min(3,2)", 2, 0, ""},
      {"max(3,2)", 3, 0, ""},
      {"degC2K(25)", 298.15, 0, ""},
      {"K2degC(273.15)", 0, 0, ""},
      {"degF2K(32)", 273.15, 0, ""},
      {"degF2degC(212)", 100, 0, ""},
      {"degC2degF(100)", 212, 0, ""},
      {"K2degF(273.15)", 32, 0, ""},
      {"degK2K(5)", 5, 0, ""},
      {"K2degK(5)", 5, 0, ""},
      {"rad(180)", pi, 0, ""},
      {"deg(pi())", 180, 0, ""},
      {"pi()", pi, 0, ""},
      {"pi", pi, 0, ""},
      {"gamma(5)", 24, 0, ""},
      {"gamma(1)", 1, 0, ""},
      {"gamma(2)", 1, 0, ""},
      {"gamma(0)", DBL_MAX, 0, ""},
      {"gamma(-3)", DBL_MAX, 0, ""},
      {"gamma(-1e20)", DBL_MAX, 0, ""},
      {"gamma(-1e300)", DBL_MAX, 0, ""},
      {"2*sqrt(9)+1", 7, 0, ""},
      {"sqrt(max(4,-1)*4)", 4, 0, ""},
      {"min(1?2:3,0)", 0, 0, ""},
  };
  for (const DoubleCase &c : cases) check_double(c);
  check_double({"gamma(0.5)", 1.77245381867, 0, ""}, 1e-7);
  check_double({"gamma(25)", 6.2044840173e23, 0, ""}, 1e14);
}

TEST(NumFunctions, PowerRules) {
  const DoubleCase cases[] = {
      {"pow(2,10)", 1024, 0, ""},
      {"pow(2,-1)", 0.5, 0, ""},
      {"pow(-8,3)", -512, 0, ""},
      {"pow(-2,-2)", 0.25, 0, ""},
      {"pow(-8,0.5)", 0, NumDomainError, ""},
      {"pow(0,0)", 1, 0, ""},
      {"pow(0,-1)", 0, NumDomainError, ""},
      {"pow(0,2)", 0, 0, ""},
      {"pow(4,0.5)", 2, 0, ""},
      {"pow(-1,1/0)", 0, NumDivByZero, ""},
  };
  for (const DoubleCase &c : cases) check_double(c);
}

TEST(NumFunctions, NaNArgumentsFollowTheirRules) {
  // 0/0 cannot be written (division by zero), but the arcsine of 2 cannot
  // either; NaN reaches a function through the overflow inf - inf.
  const DoubleCase cases[] = {
      {"sqrt(1_inf*10-1_inf*10)", 0, NumDomainError, ""},
      {"log(1_inf*10-1_inf*10)", 0, NumDomainError, ""},
      {"asin(1_inf*10-1_inf*10)", 0, NumDomainError, ""},
      {"pow(1_inf*10-1_inf*10,0)", 1, 0, ""},
      {"pow(1_inf*10-1_inf*10,2)", 0, NumSuccess, ""},
      {"pow(1_inf*10-1_inf*10,0.5)", 0, NumDomainError, ""},
  };
  for (const DoubleCase &c : cases) {
    SCOPED_TRACE(c.text);
    int errval = -1;
    const double value = num_str2double(c.text, nullptr, &errval);
    EXPECT_EQ(errval, c.errval);
    if (c.errval == NumSuccess && c.value == 0) {
      EXPECT_TRUE(std::isnan(value));
    } else {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST(NumFunctions, ArgumentListErrors) {
  const DoubleCase cases[] = {
      {"pow(23)", 0, NumCommaExpected, ")"},
      {"pow(2;3)", 0, NumCommaExpected, ";3)"},
      {"sin(1", 0, NumBadParenthesis, ""},
      {"sin(1,2)", 0, NumBadParenthesis, ",2)"},
      {"Sin(1)", 0, NumNoFloatFunction, "Sin(1)"},
      {"min(1,xyz)", 0, NumNoFloatNumber, "xyz)"},
      {"pi(1)", 0, NumBadParenthesis, "1)"},
      {"sqrt()", 0, NumNoFloatNumber, ")"},
      {"sqrt (4)", 1, 0, "qrt (4)"},  // no call: the constant "s"
      {"log10x(1)", 0, NumNoFloatFunction, "log10x(1)"},
  };
  for (const DoubleCase &c : cases) check_double(c);
}

}  // namespace
