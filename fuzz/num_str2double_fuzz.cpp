// Floating-point expression reader on arbitrary text.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "numio.h"

using fuzz_support::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  numprog_reset();
  const std::string text(fuzz_support::AsBytes(data, size));
  const char *tail = nullptr;
  int errval = -1;
  const double value = num_str2double(text.c_str(), &tail, &errval);
  Require(errval >= NumSuccess && errval <= NumNoAccumulator, "error value within 0..16");
  Require(tail >= text.c_str() && tail <= text.c_str() + std::strlen(text.c_str()),
          "the tail lies inside the text");
  Require(errval == NumSuccess || value == 0.0, "0.0 after an error");
  // The reader must also cope without the optional out-parameters.
  (void)num_str2double(text.c_str(), nullptr, nullptr);
  return 0;
}
