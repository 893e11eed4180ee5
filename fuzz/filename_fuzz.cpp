// File name handling on arbitrary patterns.  The first byte chooses the
// size of the caller's buffer (0 to 510 bytes, so both the buffer and the
// working limit get cut at); the rest is the pattern.  Buffers are exactly
// that size on the heap, so a write past their end is caught.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "filename.h"
#include "fuzz_support.h"

using fuzz_support::Require;

namespace {

using Function = char *(*)(char *, std::size_t, const char *);

void CallInto(Function function, std::size_t buflen, const char *pattern) {
  std::unique_ptr<char[]> buffer(new char[buflen]);
  const char *result = function(buffer.get(), buflen, pattern);
  if (result == nullptr) return;
  Require(result == buffer.get(), "the result is the caller's buffer");
  Require(std::strlen(result) < buflen, "the result fits the buffer with its terminator");
}

void SetUpEnvironment() {
  static const bool done = [] {
    setenv("FUZZDIR", fuzz_support::ScratchDir().c_str(), 1);
    setenv("EMPTY", "", 1);
    setenv("LONGVALUE", std::string(300, 'x').c_str(), 1);
    return true;
  }();
  (void)done;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  SetUpEnvironment();
  if (size == 0) return 0;
  const std::size_t buflen = std::size_t{data[0]} * 2;
  const std::string pattern(fuzz_support::AsBytes(data + 1, size - 1));

  CallInto(env_subst, buflen, pattern.c_str());
  CallInto(filename_unix, buflen, pattern.c_str());
  CallInto(filename_full, buflen, pattern.c_str());
  for (int field = 0; field < 3; ++field) {
    std::unique_ptr<char[]> buffer(new char[buflen]);
    const char *result = filename_parameter(buffer.get(), buflen, pattern.c_str(), field);
    Require(result == nullptr || std::strlen(result) < buflen, "a field fits the buffer");
  }
  std::unique_ptr<char[]> name(new char[buflen]);
  const char *cursor = pattern.c_str();
  if (env_extract(name.get(), buflen, &cursor) != nullptr) {
    Require(cursor >= pattern.c_str() && cursor <= pattern.c_str() + std::strlen(pattern.c_str()),
            "extraction stops inside the pattern");
  }
  (void)filename_has_pattern(pattern.c_str());

  // In place, as the converter expands its names.
  std::unique_ptr<char[]> inPlace(new char[buflen + 1]);
  std::memcpy(inPlace.get(), pattern.c_str(), std::min(buflen, std::strlen(pattern.c_str())));
  inPlace[std::min(buflen, std::strlen(pattern.c_str()))] = '\0';
  (void)filename_full(inPlace.get(), buflen + 1, inPlace.get());
  return 0;
}
