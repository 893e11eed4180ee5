// Integer expressions.  The integer rules compute directly in 32-bit signed
// arithmetic while they read; casts, function calls and constants are read
// by the floating-point rules into a temporary program, run, and rounded.
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "numio_internal.h"

namespace {

using numio_internal::set_error;

// "+", "-", "*" and negation wrap around in 32-bit two's complement; the
// unsigned arithmetic makes that well defined.
int32_t wrap(uint32_t value) { return static_cast<int32_t>(value); }
int32_t add(int32_t a, int32_t b) {
  return wrap(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t subtract(int32_t a, int32_t b) {
  return wrap(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
int32_t multiply(int32_t a, int32_t b) {
  return wrap(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
int32_t negate(int32_t a) { return wrap(0u - static_cast<uint32_t>(a)); }

bool starts_with(const char *s, std::string_view prefix) {
  return std::strncmp(s, prefix.data(), prefix.size()) == 0;
}

enum class Rounding { TowardZero, Nearest };

// Nesting depth of temporary programs.  A factor keeps its temporary
// program until it has taken its value, and a factor nested inside it
// ("sqrt((double)pi)") needs one of its own: each depth gets its own name,
// so that creating the inner one does not replace the outer one.
int temporary_depth = 0;

std::string temporary_name() {
  return temporary_depth == 0 ? "lvfactor" : "lvfactor" + std::to_string(temporary_depth);
}

// Reads with `read` into a temporary program, runs it and converts the
// value to a 32-bit integer (NaN or out of range: NumIntegerOverflow).
template <typename Reader>
int32_t evaluate_temporary(const char **ps, int *perrval, Rounding rounding, Reader read) {
  NumProg *program = numprog_new(temporary_name().c_str());
  if (!program) {
    set_error(perrval, NumProgramError);
    return 0;
  }
  ++temporary_depth;
  read(program, ps, perrval);
  --temporary_depth;
  double value = 0.0;
  if (*perrval == NumSuccess) {
    dpprogram_run(program, perrval);
    if (*perrval == NumSuccess && program->CurrentAccumulator) {
      value = program->CurrentAccumulator->Value;
    }
  }
  if (numprog_free(program) != 0) set_error(perrval, NumProgramError);
  if (*perrval != NumSuccess) return 0;
  value = rounding == Rounding::Nearest ? std::floor(value + 0.5) : std::trunc(value);
  if (!(value >= INT32_MIN && value <= INT32_MAX)) {
    set_error(perrval, NumIntegerOverflow);
    return 0;
  }
  return static_cast<int32_t>(value);
}

// Decimal literal, clamped to the 32-bit range (a 64-bit long would not
// clamp "4294967297" by itself).
int32_t read_literal(const char **ps) {
  char *end = nullptr;
  const long value = std::strtol(*ps, &end, 10);
  *ps = end;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

struct Word {
  std::string_view text;
  int32_t value;
};

constexpr Word Words[] = {{"true", 1}, {"false", 0}, {"yes", 1}, {"no", 0}};

const Word *find_word(const char *s) {
  for (const Word &w : Words) {
    if (num_strncasecmp(s, w.text.data(), w.text.size()) == 0) return &w;
  }
  return nullptr;
}

}  // namespace

long lvexpression(const char **ps, int level, int *perrval) {
  set_error(perrval, NumSuccess);
  bool negative = false;
  if (**ps == '+' || **ps == '-') {
    negative = **ps == '-';
    ++*ps;
  }
  int32_t value = static_cast<int32_t>(lvterm(ps, level, perrval));
  if (*perrval != NumSuccess) return value;
  if (negative) value = negate(value);
  for (;;) {
    const char c = **ps;
    if (c == '+' || c == '-') {
      ++*ps;
      const int32_t term = static_cast<int32_t>(lvterm(ps, level, perrval));
      if (*perrval != NumSuccess) return value;
      value = c == '+' ? add(value, term) : subtract(value, term);
    } else {
      if (c == ')' && level == 0) {
        set_error(perrval, NumBadParenthesis);
      } else if (c != '\0' && c != ')' && c != ',' && c != ';' &&
                 !std::isspace(static_cast<unsigned char>(c))) {
        set_error(perrval, NumScanError);
      }
      return value;
    }
  }
}

long lvterm(const char **ps, int level, int *perrval) {
  set_error(perrval, NumSuccess);
  int32_t value = static_cast<int32_t>(lvfactor(ps, level, perrval));
  while (*perrval == NumSuccess && (**ps == '*' || **ps == '/' || **ps == '%')) {
    const char op = **ps;
    ++*ps;
    const int32_t factor = static_cast<int32_t>(lvfactor(ps, level, perrval));
    if (*perrval != NumSuccess) break;
    if (op == '*') {
      value = multiply(value, factor);
    } else if (factor == 0) {
      set_error(perrval, NumDivByZero);
    } else if (value == INT32_MIN && factor == -1) {
      // Neither quotient nor remainder exist in 32 bits; the processor
      // would trap.
      set_error(perrval, NumIntegerOverflow);
    } else {
      value = op == '/' ? value / factor : value % factor;
    }
  }
  return value;
}

long lvfactor(const char **ps, int level, int *perrval) {
  set_error(perrval, NumSuccess);
  const numio_internal::NestingGuard guard;
  if (!guard.entered()) {
    set_error(perrval, NumBadParenthesis);
    return 0;
  }
  const char *s = *ps;
  auto factor1 = [level](NumProg *p, const char **pp, int *e) { dpfactor1(p, pp, level, e); };
  if (starts_with(s, "(long int)")) {
    *ps += 10;
    return evaluate_temporary(ps, perrval, Rounding::TowardZero, factor1);
  }
  if (starts_with(s, "(round)")) {
    *ps += 7;
    return evaluate_temporary(ps, perrval, Rounding::Nearest, factor1);
  }
  if (*s == '(') {
    ++*ps;
    const long value = lvexpression(ps, level + 1, perrval);
    if (*perrval != NumSuccess) return value;
    if (**ps != ')') {
      set_error(perrval, NumBadParenthesis);
      return value;
    }
    ++*ps;
    return value;
  }
  if (std::isdigit(static_cast<unsigned char>(*s))) return read_literal(ps);
  if (numio_internal::starts_function_call(s)) {
    return evaluate_temporary(
        ps, perrval, Rounding::Nearest,
        [level](NumProg *p, const char **pp, int *e) { dpfunction(p, pp, level, e); });
  }
  if (const Word *w = find_word(s)) {
    *ps += w->text.size();
    return w->value;
  }
  return evaluate_temporary(ps, perrval, Rounding::Nearest,
                            [](NumProg *p, const char **pp, int *e) { dpconstant(p, pp, e); });
}

long num_str2long(const char *str, const char **tail, int *perrval) {
  const char *s = str ? str : "";
  while (std::isspace(static_cast<unsigned char>(*s))) ++s;
  int errval = NumSuccess;
  const long value = lvexpression(&s, 0, &errval);
  if (tail) *tail = s;
  set_error(perrval, errval);
  return value;
}
