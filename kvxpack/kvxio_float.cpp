// Floating-point header values, formatted by the numeric library.
#include <cstring>

#include "kvxio_internal.h"
#include "numio.h"

namespace {
// Characters of the formatted number, terminator included.
constexpr size_t FloatTextSize = 65;
// Significant digits of a stored float.
constexpr int FloatDigits = 7;
}  // namespace

char *kvx_header_float_text(float Value, char *buffer, size_t size) {
  char text[FloatTextSize];
  int numerror = 0;
  if (buffer == nullptr || num_double2str(text, sizeof text, static_cast<double>(Value), "",
                                          FloatDigits, &numerror) == nullptr)
    return nullptr;
  const size_t length = std::strlen(text);
  if (length >= size) return nullptr;
  std::memcpy(buffer, text, length + 1);
  return buffer;
}

size_t kvx_header_float_size() { return FloatTextSize; }

int kvx_write_header_float(int stream, long DataNumber, int DataChain, const char *keyword,
                           float Value, int *pErrorValue, int *pstatus) {
  char text[FloatTextSize];
  const int error = kvxio::guarded([&]() -> int {
    if (kvx_header_float_text(Value, text, sizeof text) == nullptr) return NumberConversionFailed;
    return kvxio::write_header_string(stream, DataNumber, DataChain, keyword, text);
  });
  return kvxio::report(error, pErrorValue, pstatus);
}
