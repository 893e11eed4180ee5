// The argument dialog: positional arguments, prompts and defaults taken
// from the DLD header file settle the eleven run parameters.
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "GetDldFrame.h"
#include "VexaError.h"
#include "VexaInput.h"
#include "VexaOption.h"
#include "VexaParameter.h"
#include "dld2vexa.h"
#include "dld2vexa_internal.h"
#include "filename.h"

namespace {

constexpr size_t kMaxText = kD2VTextSize - 1;

// "%d" of a positional argument: leading blanks, an optional sign and at
// least one digit; text after the number is ignored.  A number outside the
// range of int is refused instead of wrapping.
bool scanInt(const char *text, int *value) {
  char *end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text, &end, 10);
  if (end == text || errno == ERANGE) return false;
  if (parsed < std::numeric_limits<int>::min() || parsed > std::numeric_limits<int>::max())
    return false;
  *value = static_cast<int>(parsed);
  return true;
}

// "%g" of a positional argument into a float; a finite number beyond the
// float range is refused.
bool scanFloat(const char *text, float *value) {
  char *end = nullptr;
  errno = 0;
  const double parsed = std::strtod(text, &end);
  if (end == text) return false;
  if (std::isfinite(parsed) && std::fabs(parsed) > FLT_MAX) return false;
  *value = static_cast<float>(parsed);
  return true;
}

// Copies text into a parameter buffer; a text that does not fit is refused.
bool copyName(std::string_view text, char *buffer) {
  if (text.size() > kMaxText) return false;
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return true;
}

// The header file name up to its first ":" (the whole name without one).
std::string_view hmPrefix(std::string_view name) { return name.substr(0, name.find(':')); }

// After the last ":", then after the last "/", then before the first ".".
std::string_view stem(std::string_view name) {
  if (auto colon = name.rfind(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
  if (auto slash = name.rfind('/'); slash != std::string_view::npos) name.remove_prefix(slash + 1);
  return name.substr(0, name.find('.'));
}

// One dialog: the argument index, prompt mode and the first failure.
class Dialog {
 public:
  Dialog(int argc, char *argv[], int *parg_no, int *pstatus)
      : argc_(argc), argv_(argv), index_(parg_no), status_(pstatus) {}

  bool failed() const { return *status_ != Success; }
  void setPrompt(bool prompt) { prompt_ = prompt; }
  bool prompt() const { return prompt_; }
  void advance() { ++*index_; }
  bool atEnd() const { return *index_ == argc_; }
  bool argumentsLeft() const { return *index_ < argc_; }

  // The argument at the current index, or null when there is none or it is
  // "=" (keep the current value).
  const char *argument() const {
    if (*index_ >= argc_) return nullptr;
    const char *word = argv_[*index_];
    return std::strcmp(word, "=") == 0 ? nullptr : word;
  }

  void text(char *value, const char *question, Status failure) {
    if (const char *word = argument(); word != nullptr && !copyName(word, value)) {
      fail(failure, word);
      return;
    }
    if (prompt_) check(GetLine(stdin, value, 1, question, value));
  }

  void integer(int *value, const char *question) {
    if (const char *word = argument(); word != nullptr && !scanInt(word, value)) {
      fail(ScanError, word);
      return;
    }
    if (prompt_) check(GetInteger(stdin, value, 1, question, *value));
  }

  void real(float *value, const char *question) {
    if (const char *word = argument(); word != nullptr && !scanFloat(word, value)) {
      fail(ScanError, word);
      return;
    }
    if (prompt_) check(GetReal(stdin, value, 1, question, *value));
  }

  void fail(Status status, const char *message = nullptr) {
    if (message != nullptr) SetVexaErrorMessage(message);
    *status_ = status;
  }

 private:
  void check(Status status) {
    if (status != Success) *status_ = status;
  }

  int argc_;
  char **argv_;
  int *index_;
  int *status_;
  bool prompt_ = false;
};

// Expands a file name in place; prints the refusal and fails otherwise.
bool expand(Dialog &dialog, char *name, const char *progfn, const char *what, Status failure) {
  if (filename_full(name, kD2VTextSize, name) != nullptr) return true;
  std::printf("%s: %s or path not allowed\n", progfn, what);
  dialog.fail(failure, name);
  return false;
}

// Joins a derived name; a result beyond the text limit is refused.
bool join(Dialog &dialog, char *out, std::string_view head, std::string_view tail) {
  if (!copyName(std::string(head) + std::string(tail), out)) {
    dialog.fail(FileNameError, "derived file name too long");
    return false;
  }
  return true;
}

// Frame count and geometry of the header file, opened here for the purpose.
void readHeaderDefaults(Dialog &dialog, const char *InName, int *InFirst, int *InLast, int *Dim_1,
                        int *Dim_2, int *DataLength, int *Off_1, int *Off_2) {
  std::string failure;
  D2VInputFile header(openInput(InName, failure));
  if (!header) {
    dialog.fail(FileOpeningError, failure.c_str());
    return;
  }
  D2V_trace("GetMaxDldNumber");
  *InFirst = 1;
  if (GetMaxDldNumber(header.get(), InLast) != 0) {
    dialog.fail(CannotFindHeader, unreadableHeader(InName).c_str());
    return;
  }
  D2V_trace("ReadDldType");
  if (ReadDldType(header.get(), Dim_1, Dim_2, DataLength, Off_1, Off_2) != 0)
    dialog.fail(CannotFindHeader, unreadableHeader(InName).c_str());
}

void printUsage(const char *progfn) { std::printf("Usage: %s %s\n", progfn, kD2VUsage); }

}  // namespace

void user_io(int argc, char *argv[], int *parg_no, CommandBlock *pcb, char *InName, int *InFirst,
             int *InLast, int *InInc, char *InHmName, char *OutName, int *OutFirst, float *Dummy,
             int *DataLength, int *Dim_1, int *Dim_2, int *Off_1, int *Off_2, int *pstatus) {
  *pstatus = Success;
  SetVexaError("dld2vexa", "user_io", nullptr);
  D2V_trace("user_io BEGIN");
  const char *slash = std::strrchr(argv[0], '/');
  const std::string program = D2V_shown(slash != nullptr ? slash + 1 : argv[0]);
  const char *progfn = program.c_str();

  Dialog dialog(argc, argv, parg_no, pstatus);
  dialog.setPrompt(pcb->Prompt.I != 0 ? pcb->Prompt.V != 0 : *parg_no + 2 > argc);

  if (argc <= 1) printUsage(progfn);
  std::printf("\n   %s %s\n\n", progfn, kD2VVersion);

  const auto *ext = static_cast<const IO_line *>(option_parameter_search("ext", pcb, pstatus));
  if (dialog.failed()) return;
  if (ext == nullptr) return dialog.fail(Failed, "ext");
  SetVexaError("dld2vexa", "user_io", nullptr);  // the lookup named itself

  // 1: the DLD header file, and the names derived from it.
  dialog.advance();
  std::strcpy(InName, "gasdet001");
  dialog.text(InName, "Input file name", FileNameError);
  if (dialog.failed()) return;
  if (!expand(dialog, InName, progfn, "Input file name", FileNotFound)) return;
  const std::string prefix(hmPrefix(InName));
  const std::string nameStem(stem(InName));

  readHeaderDefaults(dialog, InName, InFirst, InLast, Dim_1, Dim_2, DataLength, Off_1, Off_2);
  if (dialog.failed()) return;

  // 2 to 5: dummy, first and last frame, increment.
  dialog.advance();
  *Dummy = -1.0F;
  dialog.real(Dummy, "output dummy");
  if (dialog.failed()) return;
  dialog.advance();
  dialog.integer(InFirst, "First image");
  if (dialog.failed()) return;
  dialog.advance();
  if (dialog.atEnd()) *InLast = *InFirst;
  dialog.integer(InLast, "Last image");
  if (dialog.failed()) return;
  dialog.advance();
  *InInc = 1;
  dialog.integer(InInc, "Increment");
  if (dialog.failed()) return;

  // 6, 7: output file and its first image number.
  dialog.advance();
  if (!join(dialog, OutName, nameStem, ext->V.data())) return;
  dialog.text(OutName, "Output file name", FileNameError);
  if (dialog.failed()) return;
  if (!expand(dialog, OutName, progfn, "Output file name", FileNameError)) return;
  dialog.advance();
  *OutFirst = *InFirst;
  dialog.integer(OutFirst, "First output image");
  if (dialog.failed()) return;

  // 8 to 10: data length and geometry, defaults from the header file.
  dialog.advance();
  dialog.integer(DataLength, "Data length in bytes");
  if (dialog.failed()) return;
  dialog.advance();
  dialog.integer(Dim_1, "Number of columns");
  if (dialog.failed()) return;
  dialog.advance();
  dialog.integer(Dim_2, "Number of rows");
  if (dialog.failed()) return;

  // 11: the histogramming-memory file.
  dialog.advance();
  if (!join(dialog, InHmName, prefix, "hm")) return;
  dialog.text(InHmName, "Histogramming memory file", FileNameError);
  if (dialog.failed()) return;
  if (!expand(dialog, InHmName, progfn, "Histogramming memory file", FileNameError)) return;

  dialog.advance();
  if (dialog.argumentsLeft()) {
    std::printf("%s : Too many arguments\n", progfn);
    printUsage(progfn);
    if (!dialog.prompt()) return dialog.fail(StoppedAfterHelp);
  }

  std::printf("\n");
  std::printf("i/p file           : %s\n", D2V_shown(InName).c_str());
  std::printf("output dummy       : %g\n", static_cast<double>(*Dummy));
  std::printf("first image        : %d\n", *InFirst);
  std::printf("last image         : %d\n", *InLast);
  std::printf("increment          : %d\n", *InInc);
  std::printf("o/p file           : %s\n", D2V_shown(OutName).c_str());
  std::printf("first output image : %d\n", *OutFirst);
  std::printf("data length        : %d bytes\n", *DataLength);
  std::printf("dimension 1        : %d\n", *Dim_1);
  std::printf("dimension 2        : %d\n", *Dim_2);
  std::printf("i/p hm file        : %s\n", D2V_shown(InHmName).c_str());
  std::printf("\n");
  D2V_trace("user_io END");
}
