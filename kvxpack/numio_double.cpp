// Floating-point expressions: the recursive-descent rules that translate a
// text into an expression program, and num_str2double, which runs it.
//
// Precedence from the loosest to the tightest binding:
//   ?:   ||   &&   == !=   < <= > >=   + - (sign at the start)   * / %
//   ! (once, before a factor1)   _ (product that attaches units)
// Comparisons and equalities are not associative; there is no
// short-circuit evaluation.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "numio_internal.h"
#include "report_sink.h"

namespace {

using numio_internal::set_error;

bool starts_with(const char *s, std::string_view prefix) {
  return std::strncmp(s, prefix.data(), prefix.size()) == 0;
}

// Appends an operator; NumProgramError when the program cannot grow.
void append(NumProg *program, NumCommand command, int nargs, double value, int *perrval) {
  if (numprog_append_instruction(program, 0, static_cast<int>(command), nargs, value, nullptr,
                                 nullptr) != 0) {
    set_error(perrval, NumProgramError);
  }
}

void append_operator(NumProg *program, NumCommand command, int nargs, int *perrval) {
  append(program, command, nargs, 0.0, perrval);
}

void append_value(NumProg *program, double value, int *perrval) {
  append(program, NumCommand::PUSHVAL, 0, value, perrval);
}

// One binary operator rule: operand { op operand } (or at most one op when
// not `repeat`), appending the command of the operator after each pair.
struct BinaryOperator {
  std::string_view text;
  NumCommand command;
};

template <size_t N>
void binary_rule(NumProg *program, const char **ps, int level, int *perrval,
                 void (*operand)(NumProg *, const char **, int, int *),
                 const BinaryOperator (&operators)[N], bool repeat) {
  operand(program, ps, level, perrval);
  while (*perrval == NumSuccess) {
    const BinaryOperator *found = nullptr;
    for (const BinaryOperator &op : operators) {
      if (starts_with(*ps, op.text)) {
        found = &op;
        break;
      }
    }
    if (!found) return;
    *ps += found->text.size();
    operand(program, ps, level, perrval);
    if (*perrval != NumSuccess) return;
    append_operator(program, found->command, 2, perrval);
    if (!repeat) return;
  }
}

// Decimal number literal.  The C library would also read hexadecimal
// forms after a leading "0"; only the decimal form is a number here, so
// "0x1" reads 0 and leaves "x1".
double read_number(const char **ps) {
  const char *s = *ps;
  if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    *ps = s + 1;
    return 0.0;
  }
  char *end = nullptr;
  const double value = std::strtod(s, &end);
  *ps = end;
  return value;
}

// The listing of a failed program as one report; it quotes the expression.
void report_program_listing(const NumProg *program, int level) {
  char *text = nullptr;
  size_t size = 0;
  std::FILE *memory = open_memstream(&text, &size);
  if (memory == nullptr) return;
  num_prog_print_list(memory, program, level, 0);
  if (std::fclose(memory) == 0)
    report_printf("%s", report_printable(std::string_view(text, size), true).c_str());
  std::free(text);
}

}  // namespace

void dpcondition(NumProg *program, const char **ps, int level, int *perrval) {
  set_error(perrval, NumSuccess);
  dplogicsum(program, ps, level, perrval);
  if (*perrval != NumSuccess || **ps != '?') return;
  ++*ps;
  dplogicsum(program, ps, level, perrval);
  if (*perrval != NumSuccess) return;
  if (**ps != ':') {
    set_error(perrval, NumScanError);
    return;
  }
  ++*ps;
  dplogicsum(program, ps, level, perrval);
  if (*perrval != NumSuccess) return;
  append_operator(program, NumCommand::IF, 3, perrval);
}

void dplogicsum(NumProg *program, const char **ps, int level, int *perrval) {
  static const BinaryOperator ops[] = {{"||", NumCommand::OR}};
  set_error(perrval, NumSuccess);
  binary_rule(program, ps, level, perrval, dplogicproduct, ops, true);
}

void dplogicproduct(NumProg *program, const char **ps, int level, int *perrval) {
  static const BinaryOperator ops[] = {{"&&", NumCommand::AND}};
  set_error(perrval, NumSuccess);
  binary_rule(program, ps, level, perrval, dpequality, ops, true);
}

void dpequality(NumProg *program, const char **ps, int level, int *perrval) {
  static const BinaryOperator ops[] = {{"==", NumCommand::EQU}, {"!=", NumCommand::NEQ}};
  set_error(perrval, NumSuccess);
  binary_rule(program, ps, level, perrval, dpcomparison, ops, false);
}

void dpcomparison(NumProg *program, const char **ps, int level, int *perrval) {
  static const BinaryOperator ops[] = {
      {"<=", NumCommand::LE}, {"<", NumCommand::LT}, {">=", NumCommand::GE}, {">", NumCommand::GT}};
  set_error(perrval, NumSuccess);
  binary_rule(program, ps, level, perrval, dpexpression, ops, false);
}

void dpexpression(NumProg *program, const char **ps, int level, int *perrval) {
  set_error(perrval, NumSuccess);
  bool negate = false;
  if (**ps == '+' || **ps == '-') {
    negate = **ps == '-';
    ++*ps;
  }
  dpterm(program, ps, level, perrval);
  if (*perrval != NumSuccess) return;
  if (negate) {
    append_operator(program, NumCommand::NEG, 1, perrval);
    if (*perrval != NumSuccess) return;
  }
  while (**ps == '+' || **ps == '-') {
    const NumCommand command = **ps == '+' ? NumCommand::ADD : NumCommand::SUB;
    ++*ps;
    dpterm(program, ps, level, perrval);
    if (*perrval != NumSuccess) return;
    append_operator(program, command, 2, perrval);
    if (*perrval != NumSuccess) return;
  }
  if (**ps == ')' && level == 0) set_error(perrval, NumBadParenthesis);
}

void dpterm(NumProg *program, const char **ps, int level, int *perrval) {
  static const BinaryOperator ops[] = {
      {"*", NumCommand::MUL}, {"/", NumCommand::DIV}, {"%", NumCommand::REST}};
  set_error(perrval, NumSuccess);
  binary_rule(program, ps, level, perrval, dpfactor0, ops, true);
}

void dpfactor0(NumProg *program, const char **ps, int level, int *perrval) {
  set_error(perrval, NumSuccess);
  const bool negate = **ps == '!';
  if (negate) ++*ps;
  dpfactor1(program, ps, level, perrval);
  if (negate && *perrval == NumSuccess) append_operator(program, NumCommand::NOT, 1, perrval);
}

void dpfactor1(NumProg *program, const char **ps, int level, int *perrval) {
  static const BinaryOperator ops[] = {{"_", NumCommand::MUL}};
  set_error(perrval, NumSuccess);
  binary_rule(program, ps, level, perrval, dpfactor2, ops, true);
}

void dpfactor2(NumProg *program, const char **ps, int level, int *perrval) {
  set_error(perrval, NumSuccess);
  const numio_internal::NestingGuard guard;
  if (!guard.entered()) {
    set_error(perrval, NumBadParenthesis);
    return;
  }
  const char *s = *ps;
  if (starts_with(s, "(double)")) {
    *ps += 8;
    const long value = lvfactor(ps, level, perrval);
    if (*perrval == NumSuccess) append_value(program, static_cast<double>(value), perrval);
  } else if (*s == '(') {
    ++*ps;
    dpcondition(program, ps, level + 1, perrval);
    if (*perrval != NumSuccess) return;
    if (**ps != ')') {
      set_error(perrval, NumBadParenthesis);
      return;
    }
    ++*ps;
  } else if (std::isdigit(static_cast<unsigned char>(*s)) || *s == '.') {
    append_value(program, read_number(ps), perrval);
  } else if (numio_internal::starts_function_call(s)) {
    dpfunction(program, ps, level, perrval);
  } else if (*s == '_') {
    ++*ps;
    dpvariable(program, ps, perrval);
  } else {
    dpconstant(program, ps, perrval);
  }
}

void dpvariable(NumProg *program, const char **ps, int *perrval) {
  set_error(perrval, NumSuccess);
  for (NumVar &v : program->VariableList) {
    if (!starts_with(*ps, v.Key)) continue;
    *ps += v.Key.size();
    ++v.Used;
    if (numprog_append_instruction(program, 0, static_cast<int>(NumCommand::PUSHADDR), 0, 0.0,
                                   &v.Value, nullptr) != 0) {
      set_error(perrval, NumProgramError);
    }
    return;
  }
  set_error(perrval, NumNoVariable);
}

double num_str2double(const char *str, const char **tail, int *perrval) {
  const char *s = str ? str : "";
  while (std::isspace(static_cast<unsigned char>(*s))) ++s;
  int errval = NumSuccess;
  double result = 0.0;
  NumProg *program = numprog_new("str2double");
  if (!program) {
    errval = NumProgramError;
  } else {
    dpcondition(program, &s, 0, &errval);
    if (errval == NumSuccess) {
      dpprogram_run(program, &errval);
      if (errval == NumSuccess && program->CurrentAccumulator) {
        result = program->CurrentAccumulator->Value;
      }
    }
    // The listing shows the instructions and the stack of a failed program.
    constexpr int ListingLevel = 2;
    if (errval > NumVariableError) {
      report_program_listing(program, ListingLevel);
    } else if (numio_internal::trace_level() > 2) {
      num_prog_print_list(stdout, program, ListingLevel, 0);
    }
    if (numprog_free(program) != 0) errval = NumProgramError;
  }
  if (tail) *tail = s;
  set_error(perrval, errval);
  return errval == NumSuccess ? result : 0.0;
}
