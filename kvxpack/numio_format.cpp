// Number formatting: significant digits, and values expressed in a unit
// given as an expression so that the text reads back to the same value.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "numio_internal.h"

namespace {

using numio_internal::set_error;

// "%.80lg" already shows every digit a double has.
constexpr int MaxDigits = 80;

// Whether `unit` may be appended with a plain "_": it must be a pure
// factor, so that "0_<unit>" is 0 (not so for "s+1").
bool unit_is_factor(const char *unit, int *perrval) {
  std::string zero_times;
  try {
    zero_times = std::string("0_") + unit;
  } catch (const std::bad_alloc &) {
    set_error(perrval, NumMemoryAllocationFailed);
    return false;
  }
  const double value = num_str2double(zero_times.c_str(), nullptr, perrval);
  return *perrval == NumSuccess && value == 0.0;
}

// Writes a whole number of fewer digits than `precision` as "%.<precision>g"
// does, as an integer with its sign ("-0" included), and returns the end of
// the text; null for any other value.  Counts are the commonest numbers of a
// header, and an integer is written at a fraction of the cost.
char *write_whole_number(char *buffer, double value, int precision) {
  // Every whole number below 10^15 is exact in a double and in the table.
  static constexpr double Limits[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const double limit = Limits[std::min(precision, 15)];
  const double magnitude = std::fabs(value);
  if (!(magnitude < limit) || magnitude != std::trunc(magnitude)) return nullptr;
  if (std::signbit(value)) *buffer++ = '-';
  return std::to_chars(buffer, buffer + 16, static_cast<uint64_t>(magnitude)).ptr;
}

}  // namespace

char *double2s(char *buffer, double value, int ndigits) {
  if (!buffer) return nullptr;
  const long long requested = ndigits;
  const int digits = static_cast<int>(std::min<long long>(std::llabs(requested), MaxDigits));
  // std::to_chars writes what "%.<digits>lg" writes in the C locale ("%lg"
  // has 6 digits), at a tenth of the cost: a header of many numbers is
  // formatted for every image of a run.
  const int precision = digits != 0 ? digits : 6;
  if (char *end = write_whole_number(buffer, value, precision)) {
    *end = '\0';
    return buffer;
  }
  const auto [end, error] = std::to_chars(buffer, buffer + NumDouble2sBufferSize - 1, value,
                                          std::chars_format::general, precision);
  if (error != std::errc()) return nullptr;
  *end = '\0';
  return buffer;
}

char *num_double2str(char *buffer, size_t buflen, double value, const char *unit, int ndigits,
                     int *perrval) {
  char number[NumDouble2sBufferSize];
  if (!buffer || buflen == 0) {
    set_error(perrval, NumWriteError);
    return nullptr;
  }
  if (!unit || !*unit) {
    if (!double2s(number, value, ndigits)) {
      set_error(perrval, NumWriteError);
      return nullptr;
    }
    const size_t length = std::min(std::strlen(number), buflen - 1);
    std::memcpy(buffer, number, length);
    buffer[length] = '\0';
    set_error(perrval, NumSuccess);
    return buffer;
  }

  int errval = NumSuccess;
  const double unit_value = num_str2double(unit, nullptr, &errval);
  if (errval == NumSuccess && unit_value == 0.0) errval = NumDivByZero;
  if (errval != NumSuccess) {
    set_error(perrval, errval);
    return nullptr;
  }
  const bool factor = unit_is_factor(unit, &errval);
  if (errval != NumSuccess) {
    set_error(perrval, errval);
    return nullptr;
  }
  if (!double2s(number, value / unit_value, ndigits)) {
    set_error(perrval, NumWriteError);
    return nullptr;
  }
  const size_t needed = std::strlen(number) + std::strlen(unit) + (factor ? 2 : 4);
  if (needed > buflen) {
    set_error(perrval, NumWriteError);
    return nullptr;
  }
  snprintf(buffer, buflen, factor ? "%s_%s" : "%s_(%s)", number, unit);
  set_error(perrval, NumSuccess);
  return buffer;
}
