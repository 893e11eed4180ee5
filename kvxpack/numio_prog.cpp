// Expression programs: the registry of named programs, instruction lists,
// the accumulator stack, the run loop and the diagnostic listing.
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <new>

#include "gamma.h"
#include "numio_internal.h"

namespace {

using Cmd = NumCommand;

// All programs, in descending byte order of their names.
std::map<std::string, std::unique_ptr<NumProg>, std::greater<>> registry;

constexpr const char *CommandNames[] = {
    "Invalid", "PUSHVAL", "PUSHADDR",  "NEG",       "MUL",    "NOT",    "EQU",    "NEQ",
    "LE",      "LT",      "GE",        "GT",        "AND",    "OR",     "IF",     "DIV",
    "REST",    "ADD",     "SUB",       "RAD",       "DEG",    "PI",     "SIN",    "COS",
    "TAN",     "ASIN",    "ACOS",      "ATAN",      "ATAN2",  "SINH",   "COSH",   "TANH",
    "FLOOR",   "CEIL",    "FABS",      "EXP",       "LOG",    "LOG10",  "POW",    "SQRT",
    "ROUND",   "GAMMA",   "FMIN",      "FMAX",      "DEGC2K", "K2DEGC", "DEGF2K", "K2DEGF",
    "DEGK2K",  "K2DEGK",  "DEGF2DEGC", "DEGC2DEGF",
};
static_assert(std::size(CommandNames) == static_cast<size_t>(Cmd::EndNumCommand));

constexpr double DegToRad = 0.017453292519943295;
constexpr double RadToDeg = 57.29577951308232;
constexpr double FiveNinths = 0.5555555555555556;

// Number of operands the command takes from the stack (-1: not executable).
int operand_count(Cmd c) {
  switch (c) {
    case Cmd::InValidNumCommand:
    case Cmd::EndNumCommand:
      return -1;
    case Cmd::PUSHVAL:
    case Cmd::PUSHADDR:
    case Cmd::PI:
      return 0;
    case Cmd::MUL:
    case Cmd::EQU:
    case Cmd::NEQ:
    case Cmd::LE:
    case Cmd::LT:
    case Cmd::GE:
    case Cmd::GT:
    case Cmd::AND:
    case Cmd::OR:
    case Cmd::DIV:
    case Cmd::REST:
    case Cmd::ADD:
    case Cmd::SUB:
    case Cmd::ATAN2:
    case Cmd::POW:
    case Cmd::FMIN:
    case Cmd::FMAX:
      return 2;
    case Cmd::IF:
      return 3;
    default:
      return 1;
  }
}

double truth(bool b) { return b ? 1.0 : 0.0; }

// x to the power y: 0th power is 1 for every base; a zero base needs a
// positive exponent; a negative (or NaN) base needs an integral exponent.
double power(double x, double y, int *errval) {
  if (y == 0.0) return 1.0;
  if (x == 0.0) {
    if (y > 0.0) return 0.0;
    *errval = NumDomainError;
    return 0.0;
  }
  if (!(x > 0.0) && std::floor(y + 0.5) != y) {
    *errval = NumDomainError;
    return 0.0;
  }
  return y > 0.0 ? std::pow(x, y) : 1.0 / std::pow(x, -y);
}

double domain_error(int *errval) {
  *errval = NumDomainError;
  return 0.0;
}

double unary(Cmd c, double x, int *errval) {
  switch (c) {
    case Cmd::NEG:
      return -x;
    case Cmd::NOT:
      return truth(x == 0.0);
    case Cmd::RAD:
      return x * DegToRad;
    case Cmd::DEG:
      return x * RadToDeg;
    case Cmd::SIN:
      return std::sin(x);
    case Cmd::COS:
      return std::cos(x);
    case Cmd::TAN:
      return std::tan(x);
    case Cmd::ASIN:
      return std::fabs(x) <= 1.0 ? std::asin(x) : domain_error(errval);
    case Cmd::ACOS:
      return std::fabs(x) <= 1.0 ? std::acos(x) : domain_error(errval);
    case Cmd::ATAN:
      return std::atan(x);
    case Cmd::SINH:
      return std::sinh(x);
    case Cmd::COSH:
      return std::cosh(x);
    case Cmd::TANH:
      return std::tanh(x);
    case Cmd::FLOOR:
      return std::floor(x);
    case Cmd::CEIL:
      return std::ceil(x);
    case Cmd::FABS:
      return std::fabs(x);
    case Cmd::EXP:
      return std::exp(x);
    case Cmd::LOG:
      return x > 0.0 ? std::log(x) : domain_error(errval);
    case Cmd::LOG10:
      return x > 0.0 ? std::log10(x) : domain_error(errval);
    case Cmd::SQRT:
      return x >= 0.0 ? std::sqrt(x) : domain_error(errval);
    case Cmd::ROUND:
      return std::floor(x + 0.5);
    case Cmd::GAMMA:
      return kvx::gamma(x);
    case Cmd::DEGC2K:
      return x + 273.15;
    case Cmd::K2DEGC:
      return x - 273.15;
    case Cmd::DEGF2K:
      return (x - 32.0) * FiveNinths + 273.15;
    case Cmd::K2DEGF:
      return (x - 273.15) * 1.8 + 32.0;
    case Cmd::DEGF2DEGC:
      return (x - 32.0) * FiveNinths;
    case Cmd::DEGC2DEGF:
      return x * 1.8 + 32.0;
    default:  // DEGK2K, K2DEGK
      return x;
  }
}

double binary(Cmd c, double a, double b, int *errval) {
  switch (c) {
    case Cmd::MUL:
      return a * b;
    case Cmd::EQU:
      return truth(a == b);
    case Cmd::NEQ:
      return truth(a != b);
    case Cmd::LE:
      return truth(a <= b);
    case Cmd::LT:
      return truth(a < b);
    case Cmd::GE:
      return truth(a >= b);
    case Cmd::GT:
      return truth(a > b);
    case Cmd::AND:
      return truth(a != 0.0 && b != 0.0);
    case Cmd::OR:
      return truth(a != 0.0 || b != 0.0);
    case Cmd::DIV:
    case Cmd::REST:
      if (b == 0.0) {
        *errval = NumDivByZero;
        return 0.0;
      }
      return c == Cmd::DIV ? a / b : a - b * std::floor(a / b);
    case Cmd::ADD:
      return a + b;
    case Cmd::SUB:
      return a - b;
    case Cmd::ATAN2:
      return std::atan2(a, b);
    case Cmd::POW:
      return power(a, b, errval);
    case Cmd::FMIN:
      return a < b ? a : b;
    default:  // FMAX
      return a > b ? a : b;
  }
}

NumAccu *successor(NumProg *program, const NumAccu *accu) {
  const size_t next = static_cast<size_t>(accu->Number);
  return next < program->AccumulatorList.size() ? &program->AccumulatorList[next] : nullptr;
}

// Executes one instruction of a known command; returns the error value.
int execute(NumProg *program, Cmd c, const NumInstr &instruction) {
  const int operands = operand_count(c);
  if (operands == 0) {
    if (c == Cmd::PUSHADDR && !instruction.Address) return NumNoInstruction;
    const double value = c == Cmd::PUSHVAL    ? instruction.Value
                         : c == Cmd::PUSHADDR ? *instruction.Address
                                              : numio_internal::Pi;
    return numprog_up_accumulator(program, value) ? NumSuccess : NumNoAccumulator;
  }
  // Every operand pushed after the first one is popped; the remaining top
  // holds the first operand and receives the result.
  for (int i = 1; i < operands; ++i) {
    if (!numprog_down_accumulator(program)) return NumNoAccumulator;
  }
  NumAccu *top = program->CurrentAccumulator;
  if (!top) return NumNoAccumulator;
  int errval = NumSuccess;
  double result = 0.0;
  if (operands == 1) {
    result = unary(c, top->Value, &errval);
  } else {
    NumAccu *second = successor(program, top);
    if (!second) return NumNoAccumulator;
    if (operands == 2) {
      result = binary(c, top->Value, second->Value, &errval);
    } else {
      NumAccu *third = successor(program, second);
      if (!third) return NumNoAccumulator;
      result = top->Value != 0.0 ? second->Value : third->Value;
    }
  }
  if (errval == NumSuccess) top->Value = result;
  return errval;
}

void print_plain(FILE *out, const NumProg &program, int level) {
  fprintf(out, " Program             = '%s'\n", program.Name.c_str());
  if (level - 1 <= 0) return;
  for (const NumVar &v : program.VariableList) {
    fprintf(out, "  '%s' = %lg = *%p\n", v.Key.c_str(), v.Value,
            static_cast<const void *>(&v.Value));
  }
  fprintf(out, "  %s\n", "InstructionList");
  char line[128];
  for (const NumInstr &i : program.InstructionList) {
    fprintf(out, "  %s\n", numprog_ins2str(line, sizeof line, &i));
  }
  for (const NumAccu &a : program.AccumulatorList) {
    fprintf(out, "  Accumulator #%ld =", static_cast<long>(a.Number));
    fprintf(out, " %lg\n", a.Value);
  }
}

void print_verbose(FILE *out, const NumProg &program, int level) {
  const char *separator = " ------------------------------------------------\n";
  fputs(separator, out);
  fprintf(out, " Program             = '%s'\n", program.Name.c_str());
  fprintf(out, " Variables           = %zu\n", program.VariableList.size());
  fprintf(out, " Instructions        = %zu\n", program.InstructionList.size());
  fprintf(out, " Compiled            = %zu\n", program.CompiledList.size());
  fprintf(out, " Accumulators        = %zu\n", program.AccumulatorList.size());
  fprintf(out, " CurrentAccumulator  = #%ld\n",
          static_cast<long>(program.CurrentAccumulator ? program.CurrentAccumulator->Number : 0));
  if (level - 1 > 0) {
    for (const NumVar &v : program.VariableList) {
      fputs(separator, out);
      fprintf(out, " Variable Key        = '%s'\n", v.Key.c_str());
      fprintf(out, " Variable Value      = %lg\n", v.Value);
      fprintf(out, " Variable Used       = %d\n", v.Used);
    }
    char line[128];
    for (const NumInstr &i : program.InstructionList) {
      fputs(separator, out);
      fprintf(out, " Instruction         = %s\n", numprog_ins2str(line, sizeof line, &i));
    }
    for (const NumAccu &a : program.AccumulatorList) {
      fputs(separator, out);
      fprintf(out, " Accumulator #%-6ld = %lg\n", static_cast<long>(a.Number), a.Value);
    }
  }
  fputs(separator, out);
}

}  // namespace

NumProg *numprog_new(const char *Name) {
  if (!Name) return nullptr;
  NumProg *old = nullptr;
  numprog_search(Name, &old);
  if (numprog_free(old) != 0) return nullptr;
  NumProg *program = nullptr;
  return numprog_insert(Name, &program) == 0 ? program : nullptr;
}

int numprog_search(const char *Name, NumProg **pprogram) {
  NumProg *found = nullptr;
  int status = -1;
  if (Name) {
    auto it = registry.find(std::string_view(Name));
    if (it != registry.end()) found = it->second.get();
    status = 0;
  }
  if (pprogram) *pprogram = found;
  return status;
}

int numprog_insert(const char *Name, NumProg **pprogram) {
  NumProg *program = nullptr;
  int status = -1;
  if (Name) {
    try {
      auto it = registry.find(std::string_view(Name));
      if (it == registry.end()) {
        auto fresh = std::make_unique<NumProg>();
        fresh->Name = Name;
        it = registry.emplace(std::string(Name), std::move(fresh)).first;
      }
      program = it->second.get();
      status = 0;
    } catch (const std::bad_alloc &) {
      program = nullptr;
    }
  }
  if (pprogram) *pprogram = program;
  return status;
}

int numprog_free(NumProg *program) {
  if (!program) return 0;
  for (auto it = registry.begin(); it != registry.end(); ++it) {
    if (it->second.get() == program) {
      registry.erase(it);
      return 0;
    }
  }
  return -1;
}

void numprog_reset() { registry.clear(); }

int numprog_define_variable(NumProg *program, const char *Key, double Value, NumVar **pvariable) {
  NumVar *variable = nullptr;
  int status = -1;
  if (program && Key) {
    try {
      for (NumVar &v : program->VariableList) {
        if (v.Key == Key) variable = &v;
      }
      if (!variable) variable = &program->VariableList.emplace_back(NumVar{Key, Value, 0});
      variable->Value = Value;
      status = 0;
    } catch (const std::bad_alloc &) {
      variable = nullptr;
    }
  }
  if (pvariable) *pvariable = variable;
  return status;
}

int numprog_append_instruction(NumProg *program, int mode, int Command, int Nargs, double Value,
                               double *Address, NumInstr **pinstruction) {
  NumInstr *instruction = nullptr;
  if (program && (mode == 0 || mode == 1)) {
    auto &list = mode == 0 ? program->InstructionList : program->CompiledList;
    try {
      instruction = &list.emplace_back(NumInstr{Command, Nargs, Value, Address});
    } catch (const std::bad_alloc &) {
      instruction = nullptr;
    }
  }
  if (pinstruction) *pinstruction = instruction;
  return instruction ? 0 : -1;
}

NumAccu *numprog_up_accumulator(NumProg *program, double Value) {
  if (!program) return nullptr;
  const int32_t current = program->CurrentAccumulator ? program->CurrentAccumulator->Number : 0;
  const size_t next = static_cast<size_t>(current);
  try {
    if (next == program->AccumulatorList.size()) {
      program->AccumulatorList.push_back(NumAccu{current + 1, 0.0});
    }
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
  NumAccu *accu = &program->AccumulatorList[next];
  accu->Value = Value;
  program->CurrentAccumulator = accu;
  return accu;
}

NumAccu *numprog_down_accumulator(NumProg *program) {
  if (!program || !program->CurrentAccumulator) return nullptr;
  const int32_t number = program->CurrentAccumulator->Number;
  program->CurrentAccumulator =
      number > 1 ? &program->AccumulatorList[static_cast<size_t>(number - 2)] : nullptr;
  return program->CurrentAccumulator;
}

int dpprogram_step(NumProg *program, const NumInstr *instruction, int *perrval) {
  int errval = NumSuccess;
  if (!program) {
    errval = NumProgramError;
  } else if (!instruction || instruction->Command <= 0 ||
             instruction->Command >= static_cast<int>(Cmd::EndNumCommand)) {
    errval = NumNoInstruction;
  } else {
    errval = execute(program, static_cast<Cmd>(instruction->Command), *instruction);
  }
  numio_internal::set_error(perrval, errval);
  const bool fatal =
      errval == NumProgramError || errval == NumNoInstruction || errval == NumNoAccumulator;
  return fatal ? -1 : 0;
}

int dpprogram_run(NumProg *program, int *perrval) {
  int errval = NumSuccess;
  int result = -1;
  if (!program) {
    errval = NumProgramError;
  } else if (program->InstructionList.empty()) {
    errval = NumNoInstruction;
  } else {
    program->CurrentAccumulator = nullptr;
    for (const NumInstr &instruction : program->InstructionList) {
      result = dpprogram_step(program, &instruction, &errval);
      if (errval != NumSuccess) break;
    }
  }
  numio_internal::set_error(perrval, errval);
  return result;
}

const char *numprog_cmd2str(int command) {
  if (command < 0 || command >= static_cast<int>(Cmd::EndNumCommand)) return CommandNames[0];
  return CommandNames[command];
}

char *numprog_ins2str(char *buffer, size_t buflen, const NumInstr *instruction) {
  // Every instruction line fits into 50 characters; a smaller buffer gets "".
  constexpr size_t MinimumLength = 50;
  if (!buffer) return buffer;
  if (buflen > 0) buffer[0] = '\0';
  if (buflen < MinimumLength || !instruction) return buffer;
  const char *name = numprog_cmd2str(instruction->Command);
  if (instruction->Command == static_cast<int>(Cmd::PUSHVAL)) {
    snprintf(buffer, buflen, "%10s  %10g", name, instruction->Value);
  } else if (instruction->Command == static_cast<int>(Cmd::PUSHADDR)) {
    snprintf(buffer, buflen, "%10s *%10p", name, static_cast<const void *>(instruction->Address));
  } else {
    snprintf(buffer, buflen, "%10s  %10s (%d args)", name, "", instruction->Nargs);
  }
  return buffer;
}

void num_prog_print_list(FILE *out, const NumProg *program, int level, int verbose) {
  if (!out) return;
  auto print = [&](const NumProg &p) {
    verbose ? print_verbose(out, p, level) : print_plain(out, p, level);
  };
  if (program) {
    print(*program);
    return;
  }
  for (const auto &[name, p] : registry) print(*p);
}
