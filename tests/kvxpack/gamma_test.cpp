// The gamma function: exact factorials, poles, polynomial accuracy, the
// Stirling range and far negative arguments.
#include "gamma.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

namespace {

TEST(Gamma, IntegralArgumentsGiveExactFactorials) {
  double factorial = 1.0;
  for (int n = 1; n <= 19; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(kvx::gamma(n), factorial);
    factorial *= n;
  }
}

TEST(Gamma, PolesGiveTheLargestFiniteDouble) {
  for (double x : {0.0, -1.0, -3.0, -999.0, -1000.0, -1001.0, -1e20, -1e300, -DBL_MAX}) {
    SCOPED_TRACE(x);
    EXPECT_EQ(kvx::gamma(x), DBL_MAX);
  }
}

TEST(Gamma, NonIntegralValuesAgreeWithTheLibrary) {
  for (double x : {0.5, 1.5, 2.5, 3.7, 7.25, 19.5, -0.5, -1.5, -2.5, -10.3, -150.5}) {
    SCOPED_TRACE(x);
    EXPECT_NEAR(kvx::gamma(x) / std::tgamma(x), 1.0, 3e-8);
  }
}

TEST(Gamma, StirlingSeriesAboveTwenty) {
  EXPECT_NEAR(kvx::gamma(25) / 6.2044840173e23, 1.0, 1e-9);
  EXPECT_NEAR(kvx::gamma(20) / 1.21645100408832e17, 1.0, 1e-9);
  EXPECT_TRUE(std::isinf(kvx::gamma(500)));
}

TEST(Gamma, FarNegativeNonIntegralArgumentsUnderflowToSignedZero) {
  // The recurrence underflows long before it ends; the sign follows the
  // number of negative divisors.
  EXPECT_EQ(kvx::gamma(-1000.5), 0.0);
  EXPECT_TRUE(std::signbit(kvx::gamma(-1000.5)));
  EXPECT_FALSE(std::signbit(kvx::gamma(-1001.5)));
  EXPECT_TRUE(std::signbit(kvx::gamma(-998.5))) << "the recurrence itself, just above the cut";
  EXPECT_EQ(kvx::gamma(-998.5), 0.0);
  EXPECT_FALSE(std::signbit(kvx::gamma(-999.5)));
}

TEST(Gamma, NaNGivesNaN) { EXPECT_TRUE(std::isnan(kvx::gamma(NAN))) << "like every other function"; }

}  // namespace
