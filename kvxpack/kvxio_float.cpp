// Floating-point header values, formatted by the numeric library.
#include "kvxio_internal.h"
#include "numio.h"

namespace {
// Characters of the formatted number, terminator included.
constexpr size_t FloatTextSize = 65;
// Significant digits of a stored float.
constexpr int FloatDigits = 7;
}  // namespace

int kvx_write_header_float(int stream, long DataNumber, int DataChain, const char *keyword,
                           float Value, int *pErrorValue, int *pstatus) {
  char text[FloatTextSize];
  int numerror = 0;
  int error = RoutineSucceeded;
  if (num_double2str(text, sizeof text, static_cast<double>(Value), "", FloatDigits, &numerror) ==
      nullptr)
    error = NumberConversionFailed;
  else
    error = kvxio::write_header_string(stream, DataNumber, DataChain, keyword, text);
  kvxio::set_result(pErrorValue, pstatus, error);
  return error == RoutineSucceeded ? 1 : 0;
}
