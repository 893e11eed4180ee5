// Internals shared by the source files of the numeric expression library.
#pragma once

#include "numio.h"

namespace numio_internal {

// The value of the constant "pi" and of the program command that pushes it.
inline constexpr double Pi = 3.141592653589793;

// The trace level set by numio_debug.
int trace_level();

// Deepest nesting of parentheses, function calls and casts that the readers
// follow.  Each level costs a dozen stack frames of the recursive descent;
// the limit keeps a text of many thousands of "(" far from a stack
// overflow while no sensible expression comes near it.
inline constexpr int MaxNestingDepth = 200;

// Counts the nesting of the recursive rules for the lifetime of the object.
// `entered()` is false when the limit is exceeded: the rule then reports
// NumBadParenthesis instead of descending further.
class NestingGuard {
 public:
  NestingGuard();
  ~NestingGuard();
  NestingGuard(const NestingGuard &) = delete;
  NestingGuard &operator=(const NestingGuard &) = delete;
  bool entered() const { return entered_; }

 private:
  bool entered_;
};

// True when a name (a letter, then letters or digits) directly followed by
// "(" begins the text.
bool starts_function_call(const char *s);

// Stores `errval` through `perrval` when that is not null.
inline void set_error(int *perrval, int errval) {
  if (perrval) *perrval = errval;
}

}  // namespace numio_internal
