// Numeric expression library: error texts, trace level, version and the
// helpers that the readers share.
#include <array>
#include <cctype>
#include <cstring>

#include "numio_internal.h"

namespace {

int trace = 0;
int nesting = 0;

constexpr std::array<const char *, 17> ErrorTexts = {
    "success",
    "memory allocation failed",
    "error scanning expression",
    "missing comma in expression",
    "bad parenthesis in expression",
    "expression is not a float number",
    "unknown float function in expression",
    "domain error",
    "expression is not an integer number",
    "integer overflow",
    "division by zero",
    "error writing value",
    "undefined variable",
    "",
    "error creating program",
    "unknown program instruction",
    "not enough program registers",
};

int lower(unsigned char c) { return std::isupper(c) ? std::tolower(c) : c; }

}  // namespace

namespace numio_internal {

int trace_level() { return trace; }

NestingGuard::NestingGuard() : entered_(nesting < MaxNestingDepth) { ++nesting; }

NestingGuard::~NestingGuard() { --nesting; }

bool starts_function_call(const char *s) {
  if (!std::isalpha(static_cast<unsigned char>(*s))) return false;
  while (std::isalnum(static_cast<unsigned char>(*s))) ++s;
  return *s == '(';
}

}  // namespace numio_internal

const char *num_errval2str(int errval) {
  if (errval < 0 || errval >= static_cast<int>(ErrorTexts.size())) return "unknown error value";
  return ErrorTexts[static_cast<size_t>(errval)];
}

void numio_debug(int debug) { trace = debug; }

const char *numio_version() { return "numio : V1.35 Ardeny 2012-04-11"; }

int num_strncasecmp(const char *s1, const char *s2, size_t n) {
  if (!s1) s1 = "";
  if (!s2) s2 = "";
  for (size_t i = 0; i < n; ++i) {
    const int c1 = lower(static_cast<unsigned char>(s1[i]));
    const int c2 = lower(static_cast<unsigned char>(s2[i]));
    if (c1 != c2) return c1 - c2;
    if (c1 == 0) break;
  }
  return 0;
}
