// The gamma function of the numeric expression library.
//
// The C library already declares a function of this name, so ours lives in
// the namespace kvx.  It moves x into [2, 3) by the recurrence
// gamma(x) = gamma(x + 1) / x, evaluates a polynomial there, and uses the
// Stirling series from 20 upwards.  The polynomial is good to about 2e-8
// relative; integral arguments from 1 to 19 give exact factorials.
#pragma once

namespace kvx {

// gamma(x).  At the poles (0, -1, -2, ...) the result is the largest finite
// double; arguments so far below zero that the result has underflowed give
// a signed 0.  A NaN argument gives NaN, as every other function of the
// library does.
double gamma(double x);

}  // namespace kvx
