// The function reader: a name with its "(", the arguments separated by ","
// and the closing ")", translated into one instruction.
#include <cstring>

#include "numio_internal.h"

namespace {

using numio_internal::set_error;

struct Function {
  const char *name;  // with its "(", so a name only matches itself
  NumCommand command;
  int nargs;
};

constexpr Function Functions[] = {
    {"rad(", NumCommand::RAD, 1},
    {"deg(", NumCommand::DEG, 1},
    {"pi(", NumCommand::PUSHVAL, 0},
    {"sin(", NumCommand::SIN, 1},
    {"cos(", NumCommand::COS, 1},
    {"tan(", NumCommand::TAN, 1},
    {"asin(", NumCommand::ASIN, 1},
    {"acos(", NumCommand::ACOS, 1},
    {"atan(", NumCommand::ATAN, 1},
    {"atan2(", NumCommand::ATAN2, 2},
    {"sinh(", NumCommand::SINH, 1},
    {"cosh(", NumCommand::COSH, 1},
    {"tanh(", NumCommand::TANH, 1},
    {"floor(", NumCommand::FLOOR, 1},
    {"ceil(", NumCommand::CEIL, 1},
    {"abs(", NumCommand::FABS, 1},
    {"exp(", NumCommand::EXP, 1},
    {"log(", NumCommand::LOG, 1},
    {"log10(", NumCommand::LOG10, 1},
    {"pow(", NumCommand::POW, 2},
    {"sqrt(", NumCommand::SQRT, 1},
    {"round(", NumCommand::ROUND, 1},
    {"gamma(", NumCommand::GAMMA, 1},
    {"min(", NumCommand::FMIN, 2},
    {"max(", NumCommand::FMAX, 2},
    {"degC2K(", NumCommand::DEGC2K, 1},
    {"K2degC(", NumCommand::K2DEGC, 1},
    {"degF2K(", NumCommand::DEGF2K, 1},
    {"K2degF(", NumCommand::K2DEGF, 1},
    {"degK2K(", NumCommand::DEGK2K, 1},
    {"K2degK(", NumCommand::K2DEGK, 1},
    {"degF2degC(", NumCommand::DEGF2DEGC, 1},
    {"degC2degF(", NumCommand::DEGC2DEGF, 1},
};


const Function *find_function(const char *s) {
  for (const Function &f : Functions) {
    if (std::strncmp(s, f.name, std::strlen(f.name)) == 0) return &f;
  }
  return nullptr;
}

}  // namespace

void dpfunction(NumProg *program, const char **ps, int level, int *perrval) {
  set_error(perrval, NumSuccess);
  const Function *f = find_function(*ps);
  if (!f) {
    set_error(perrval, NumNoFloatFunction);
    return;
  }
  *ps += std::strlen(f->name);
  for (int i = 0; i < f->nargs; ++i) {
    if (i > 0) {
      if (**ps != ',') {
        set_error(perrval, NumCommaExpected);
        return;
      }
      ++*ps;
    }
    dpcondition(program, ps, level + 1, perrval);
    if (*perrval != NumSuccess) return;
  }
  const double value = f->command == NumCommand::PUSHVAL ? numio_internal::Pi : 0.0;
  if (numprog_append_instruction(program, 0, static_cast<int>(f->command), f->nargs, value, nullptr,
                                 nullptr) != 0) {
    set_error(perrval, NumProgramError);
    return;
  }
  if (**ps != ')') {
    set_error(perrval, NumBadParenthesis);
    return;
  }
  ++*ps;
}
