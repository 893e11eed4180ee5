#include "VexaError.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kvxio_errors.h"
#include "report_sink.h"

namespace {

SE_Block VexaErrorBlock;
int VEXAERROR_init = 0;

constexpr const char *kErrorVersion = "VexaError V1.54 Ardeny 2011-06-08";

// Messages of the values -1 to 52; index is value + 1.
constexpr std::array<const char *, 54> kMessages = {
    "Failed: Routine failed",
    "Success: Normal successful operation",
    "Abort: Input aborted",
    "SkipInput: Input skipped",
    "ScanError: Input conversion error",
    "ScanEmpty: Unexpected end of argument list",
    "NoDefault: No default possible",
    "NoOption: Unknown option",
    "NoFloatNumber: This is not a float number",
    "NoIntegerNumber: This is not an integer number",
    "InvalidOrientation: Invalid orientation",
    "BadParenthesis: Wrong number of parentheses",
    "DivByZero: Division by zero",
    "NoFlag: No flag (true|false|yes|no)",
    "CommaExpected",
    "FloatingPointError",
    "DomainError",
    "IntegerOverflow",
    "UnknownFloatFunction",
    "UnknownIntegerFunction",
    "WrongImageNumber",
    "NotEnoughBlocks",
    "NotEnoughMemoryAvailable",
    "FileNotFound",
    "ImageProtected",
    "FileProtected",
    "FileOpeningError",
    "FileAlreadyOpened",
    "FileMustBeOpened",
    "HeaderNotInitialized",
    "FilePositioningError",
    "FileReadError",
    "FileClosingError",
    "KeywordMissing",
    "UnknownDataType",
    "UnsupportedDataType",
    "UnknownUnit",
    "SizeMismatch",
    "FileWriteError",
    "OutOfRange",
    "TypeConversionFailed",
    "StoppedAfterHelp",
    "CannotFindHeader",
    "FileNameError",
    "NotWaxsProjection",
    "NotNormalReference",
    "NotVexaReference",
    "ReferenceNotSupported",
    "ExpressionWriteError",
    "NoVariable",
    "VariableError",
    "ProgramError",
    "NoInstruction",
    "NoAccumulator",
};

// A private copy of a text, or null for a null text or when storage runs out.
char *VexaError_newstr(const char *text) {
  if (text == nullptr) return nullptr;
  const size_t length = std::strlen(text);
  auto *copy = static_cast<char *>(std::malloc(length + 1));
  if (copy != nullptr) std::memcpy(copy, text, length + 1);
  return copy;
}

void release(char *&text) {
  std::free(text);
  text = nullptr;
}

void ensureInit() {
  if (VEXAERROR_init == 0) VexaError_init();
}

// Prints a stored text with the given format and releases it.  The text
// may quote a command-line word or bytes of an input file.
void printAndRelease(const char *format, char *&text) {
  if (text == nullptr) return;
  report_printf(format, report_printable(text).c_str());
  release(text);
}

}  // namespace

int VexaError_init() {
  VexaErrorBlock = SE_Block{};
  VEXAERROR_init = 1;
  return 0;
}

void SetVexaError(const char *ModuleName, const char *RoutineName, const char *Message) {
  ensureInit();
  release(VexaErrorBlock.ModuleName);
  release(VexaErrorBlock.RoutineName);
  release(VexaErrorBlock.Message);
  VexaErrorBlock.ModuleName = VexaError_newstr(ModuleName);
  VexaErrorBlock.RoutineName = VexaError_newstr(RoutineName);
  VexaErrorBlock.Message = VexaError_newstr(Message);
  SetVexaErrorExternal(0, nullptr);
}

void SetVexaErrorMessage(const char *Message) {
  ensureInit();
  release(VexaErrorBlock.Message);
  VexaErrorBlock.Message = VexaError_newstr(Message);
}

void SetVexaErrorExternal(int ExternalError, ReportErrorFunction ReportError) {
  ensureInit();
  VexaErrorBlock.ExternalError = ExternalError;
  VexaErrorBlock.ReportError = ReportError;
}

const char *StatusMessage(int Status) {
  if (Status >= Failed && Status <= NoAccumulator)
    return kMessages[static_cast<size_t>(Status + 1)];
  if (Status == ExternalErrorReport) return "ExternalErrorReport";
  return "...";
}

int ReportInputStatus(int Status, int ExitFlag) {
  ensureInit();
  report_printf("Status = %d -- %s\n", Status, StatusMessage(Status));
  if (ExitFlag != 0 && Status != Success) {
    std::fflush(stderr);
    std::exit(Status);
  }
  return Status;
}

int ReportVexaStatus(int Status, int ExitFlag) {
  ensureInit();
  if (Status == Success) return Success;
  report_printf("\n");
  if (Status != StoppedAfterHelp) {
    printAndRelease("MODULE   : %s\n", VexaErrorBlock.ModuleName);
    printAndRelease("ROUTINE  : %s\n", VexaErrorBlock.RoutineName);
    printAndRelease("%s\n", VexaErrorBlock.Message);
  } else {
    release(VexaErrorBlock.ModuleName);
    release(VexaErrorBlock.RoutineName);
    release(VexaErrorBlock.Message);
  }
  if (Status == ExternalErrorReport) {
    const char *text = VexaErrorBlock.ReportError != nullptr
                           ? VexaErrorBlock.ReportError(VexaErrorBlock.ExternalError)
                           : kvx_report_data_error(VexaErrorBlock.ExternalError);
    report_printf("%s\n", text != nullptr ? text : "");
  }
  ReportInputStatus(Status, ExitFlag);
  VexaError_init();
  return Status;
}

const SE_Block &VexaErrorRecord() {
  ensureInit();
  return VexaErrorBlock;
}

const char *VexaErrorVersion() { return kErrorVersion; }
