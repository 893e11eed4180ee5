#include "VexaExpression.h"

#include <array>
#include <cmath>
#include <limits>
#include <new>
#include <string>

#include "VexaInput.h"
#include "numio.h"

namespace {

// Editing of an expression text: the comment goes and so does every blank.
constexpr int kExpressionEdit = UnComment | Collapse;

// A reader of the numeric expression library: value, tail and error value.
template <typename Number>
using Reader = Number (*)(const char *str, const char **tail, int *perrval);

// Reads s with the given reader on an edited copy and settles the status:
// the library's error, else Failed when text other than a comma follows.
template <typename Number>
Number evaluate(const char *s, int *pstatus, Reader<Number> reader) {
  Number value = 0;
  int status = Success;
  try {
    std::string text(s != nullptr ? s : "");
    EditLine(kExpressionEdit, text.data());
    text.resize(std::char_traits<char>::length(text.c_str()));

    const char *tail = nullptr;
    int errval = NumSuccess;
    value = reader(text.c_str(), &tail, &errval);
    status = errval2status(errval);
    if (status == Success && tail != nullptr && *tail != '\0' && *tail != ',') status = Failed;
  } catch (const std::bad_alloc &) {
    status = NotEnoughMemoryAvailable;
  }
  if (pstatus != nullptr) *pstatus = status;
  return value;
}

}  // namespace

double doubleexpr(const char *s, int *pstatus) {
  return evaluate<double>(s, pstatus, num_str2double);
}

float floatexpr(const char *s, int *pstatus) {
  const double value = doubleexpr(s, pstatus);
  // Beyond the float range the value becomes an infinity of its sign (a
  // plain conversion would be undefined there).
  if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max()) {
    return value > 0 ? std::numeric_limits<float>::infinity()
                     : -std::numeric_limits<float>::infinity();
  }
  return static_cast<float>(value);
}

int longexpr(const char *s, int *pstatus) {
  return static_cast<int>(evaluate<long>(s, pstatus, num_str2long));
}

Status errval2status(int errval) {
  // Index: the library's error value 0 to 16.
  static constexpr std::array<Status, 17> kStatusOfErrval = {
      Success,
      NotEnoughMemoryAvailable,
      ScanError,
      CommaExpected,
      BadParenthesis,
      NoFloatNumber,
      UnknownFloatFunction,
      DomainError,
      NoIntegerNumber,
      IntegerOverflow,
      DivByZero,
      ExpressionWriteError,
      NoVariable,
      VariableError,
      ProgramError,
      NoInstruction,
      NoAccumulator,
  };
  if (errval < 0 || errval >= static_cast<int>(kStatusOfErrval.size())) return Failed;
  return kStatusOfErrval[static_cast<std::size_t>(errval)];
}
