// The prompt functions and the expression front ends on typed-in answers.
// The first byte picks the prompt; the rest is what the user types, one
// answer per line, read from memory instead of a terminal.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "VexaExpression.h"
#include "VexaInput.h"
#include "fuzz_support.h"
#include "numio.h"

using fuzz_support::Require;

namespace {

// Answers a few prompts of one kind until the input runs out.
void AskRepeatedly(int kind, FILE *answers) {
  int integer = 7;
  float real = 2.5F;
  char line[VexaInputLineSize] = "default";
  for (int round = 0; round < 4 && std::feof(answers) == 0; ++round) {
    Status status = Success;
    switch (kind) {
      case 0:
        status = GetInteger(stdin, &integer, round % 2, "Integer", 3);
        break;
      case 1:
        status = GetReal(stdin, &real, round % 2, "Real", 1.5F);
        break;
      default:
        status = GetLine(stdin, line, round % 2, "Line", line);
        Require(std::strlen(line) < VexaInputLineSize, "a line answer fits its buffer");
        break;
    }
    (void)status;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz_support::SilenceStdout();
  numprog_reset();
  if (size == 0) return 0;
  const std::string typed(fuzz_support::AsBytes(data + 1, size - 1));

  int status = Success;
  (void)doubleexpr(typed.c_str(), &status);
  (void)floatexpr(typed.c_str(), &status);
  (void)longexpr(typed.c_str(), &status);
  (void)longexpr(typed.c_str(), nullptr);

  // fmemopen refuses an empty buffer: an empty answer stream is /dev/null.
  FILE *answers = typed.empty() ? std::fopen("/dev/null", "r")
                                : fmemopen(const_cast<char *>(typed.data()), typed.size(), "r");
  Require(answers != nullptr, "the answer stream opens");
  VexaInputRedirect(answers, stdout);
  AskRepeatedly(data[0] % 3, answers);
  VexaInputResetStreams();
  std::fclose(answers);
  return 0;
}
