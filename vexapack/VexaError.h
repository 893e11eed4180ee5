// VexaError: the framework's status codes and the process-wide error record.
//
// Every framework routine reports its outcome as a `Status`.  On entry a
// routine names itself with SetVexaError(module, routine, message); when it
// fails it refines the message with SetVexaErrorMessage.  When a failure
// comes from another library, SetVexaErrorExternal stores that library's
// error value (and optionally a function that turns it into text) and the
// status is ExternalErrorReport.  ReportVexaStatus prints the record and the
// status line on the error stream at the end of a run and clears the record.
//
// The record owns private copies of its texts; callers keep ownership of the
// texts they pass.  The report function's returned text is borrowed.
#pragma once

#include <string>

enum Status : int {
  Failed = -1,
  Success = 0,
  Abort = 1,
  SkipInput = 2,
  ScanError = 3,
  ScanEmpty = 4,
  NoDefault = 5,
  NoOption = 6,
  NoFloatNumber = 7,
  NoIntegerNumber = 8,
  InvalidOrientation = 9,
  BadParenthesis = 10,
  DivByZero = 11,
  NoFlag = 12,
  CommaExpected = 13,
  FloatingPointError = 14,
  DomainError = 15,
  IntegerOverflow = 16,
  UnknownFloatFunction = 17,
  UnknownIntegerFunction = 18,
  WrongImageNumber = 19,
  NotEnoughBlocks = 20,
  NotEnoughMemoryAvailable = 21,
  FileNotFound = 22,
  ImageProtected = 23,
  FileProtected = 24,
  FileOpeningError = 25,
  FileAlreadyOpened = 26,
  FileMustBeOpened = 27,
  HeaderNotInitialized = 28,
  FilePositioningError = 29,
  FileReadError = 30,
  FileClosingError = 31,
  KeywordMissing = 32,
  UnknownDataType = 33,
  UnsupportedDataType = 34,
  UnknownUnit = 35,
  SizeMismatch = 36,
  FileWriteError = 37,
  OutOfRange = 38,
  TypeConversionFailed = 39,
  StoppedAfterHelp = 40,
  CannotFindHeader = 41,
  FileNameError = 42,
  NotWaxsProjection = 43,
  NotNormalReference = 44,
  NotVexaReference = 45,
  ReferenceNotSupported = 46,
  ExpressionWriteError = 47,
  NoVariable = 48,
  VariableError = 49,
  ProgramError = 50,
  NoInstruction = 51,
  NoAccumulator = 52,
  ExternalErrorReport = 100,
};

// Turns an external error value into a message; the text is borrowed.
using ReportErrorFunction = const char *(*)(int error_value);

// The one process-wide error record.  Null members mean "not set".
struct SE_Block {
  char *ModuleName = nullptr;
  char *RoutineName = nullptr;
  char *Message = nullptr;
  int ExternalError = 0;
  ReportErrorFunction ReportError = nullptr;
};
using VexaErrBlk = SE_Block;

// Clears all five fields (without releasing texts) and marks the record as
// initialised.  Returns 0.
int VexaError_init();

// Names the routine that is running; null arguments leave their field null.
// Also clears the external error value and report function.
void SetVexaError(const char *ModuleName, const char *RoutineName, const char *Message);
// Replaces the stored message (null clears it).
void SetVexaErrorMessage(const char *Message);
// Stores an external error value and the function that explains it.
void SetVexaErrorExternal(int ExternalError, ReportErrorFunction ReportError);

// Prints "Status = %d -- %s\n" on the error stream.  With a non-zero
// ExitFlag and a status other than Success the process ends with Status as
// its exit value; otherwise Status is returned.
int ReportInputStatus(int Status, int ExitFlag);
// The program-level report: nothing for Success, else an empty line, the
// record's module, routine and message lines (left out for
// StoppedAfterHelp), the external error's text for ExternalErrorReport and
// the status line.  The record is cleared afterwards.
int ReportVexaStatus(int Status, int ExitFlag);

// The message printed after "Status = %d -- " ("..." for unknown values).
const char *StatusMessage(int Status);

// Read-only view of the error record, for tests and diagnostics.
const SE_Block &VexaErrorRecord();

const char *VexaErrorVersion();
