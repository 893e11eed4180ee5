// The gamma function: recurrence into [2, 3), a polynomial there, and the
// Stirling series for large arguments.
#include "gamma.h"

#include <cfloat>
#include <cmath>

namespace {

// Below this argument the recurrence would run for about |x| steps (for
// ever once x + 1 == x), while its outcome is already known: exactly the
// largest finite double at an integral x (a pole), else a product that has
// underflowed to a signed zero, since |gamma(x)| < 1e-2500 down here.
constexpr double FarNegative = -1000.0;

// ln gamma(x) by the Stirling series; only used for x >= 20.
double loggamma(double x) {
  const double z = x - 1.0;
  if (z <= 1.0) return 1.0;
  const double u = 1.0 / z;
  const double u2 = u * u;
  const double u3 = u2 * u;
  const double u5 = u3 * u2;
  const double u7 = u5 * u2;
  return (z + 0.5) * std::log(z) - z + 0.5 * std::log(6.283185307179586) + u / 12.0 - u3 / 360.0 +
         u5 / 1260.0 - u7 / 1680.0;
}

double polynomial(double t) {
  return 0.9999999758 +
         t * (0.4227874605 +
              t * (0.4117741955 +
                   t * (0.0821117404 +
                        t * (0.0721101567 +
                             t * (0.00445114 + t * (0.0051589951 + t * 0.0016063118))))));
}

// What the recurrence gives for x < FarNegative: every divisor x, x+1, ...
// up to the last negative one flips the sign of the vanishing product.
double far_negative(double x) {
  if (std::floor(x) == x) return DBL_MAX;
  const double negative_divisors = std::ceil(-x);
  return std::fmod(negative_divisors, 2.0) == 0.0 ? 0.0 : -0.0;
}

}  // namespace

namespace kvx {

double gamma(double x) {
  if (std::isnan(x)) return x;
  if (x < FarNegative) return far_negative(x);
  double r = 1.0;
  while (std::fabs(x - 2.0) >= 1e-6) {
    if (std::fabs(x) < 1e-30) return DBL_MAX;
    if (x < 2.0) {
      r /= x;
      x += 1.0;
    } else if (x >= 20.0) {
      return std::exp(loggamma(x));
    } else if (x < 3.0) {
      return r * polynomial(x - 2.0);
    } else {
      x -= 1.0;
      r *= x;
    }
  }
  return r;
}

}  // namespace kvx
