// Error values of the KVX data file library and their messages.
//
// Every call of the data file library that can fail reports one of these
// values through its pErrorValue out-parameter, next to a framework Status
// (Success, or ExternalErrorReport when the error value explains the
// failure).  kvx_report_data_error turns a value into the text that the
// status report prints.
#pragma once

enum ErrorValues : int {
  RoutineFailed = -1,
  RoutineSucceeded = 0,
  CouldNotMallocMemory = 1,
  CouldNotFreeHeaders = 2,
  CouldNotGetBinaryArray = 3,
  NoMoreStreamsAvailable = 4,
  InvalidStream = 5,
  CouldNotOpenFile = 6,
  EndOfFileDetected = 7,
  CouldNotFindHeader = 8,
  CouldNotFindSymbol = 9,
  BadSizeDefinition = 10,
  BadDataBlock = 11,
  CouldNotFindKeyword = 12,
  WriteDataError = 13,
  ReadDataError = 14,
  NoFileOpen = 15,
  NotNORVDataFile = 16,
  NoDataBlocksFound = 17,
  ExternalData = 18,
  FileIsNotWritable = 19,
  FileIsNotOpened = 20,
  IncompatibleOpeningModes = 21,
  CouldNotCloseFile = 22,
  CouldNotCloseBlock = 23,
  CouldNotInsertChain = 24,
  CouldNotInsertBlock = 25,
  CouldNotInsertSymbol = 26,
  MissingKeyDefinition = 27,
  GeneralBlockNotFirst = 28,
  ErrorCreatingGeneralBlock = 29,
  ErrorReadingGeneralBlock = 30,
  ErrorLocatingBlocks = 31,
  CouldNotSetBuffer = 32,
  NumberConversionFailed = 33,
  DataConversionFailed = 34,
  DataBufferTooSmall = 35,
  MissingArrayDimensions = 36,
  NotNdData = 37,
  Not2dData = 38,
  CouldNotWriteDimension = 39,
  CouldNotReadDimension = 40,
  CouldNotWriteBinary = 41,
  CannotReOpenGeneralBlock = 42,
  CannotOpenAsBslFile = 43,
  CouldNotInsertElement = 44,
  CouldNotDeleteString = 45,
  CouldNotFindHeaderKey = 46,
  CouldNotCreateHeader = 47,
  CouldNotReadGeneralHeader = 48,
  CouldNotReadHeader = 49,
  // Another process writes to the file (it holds the writer's lock).
  FileInUseByAnotherProcess = 50,
  // A separate binary file whose name leads out of the KVX file's directory
  // (see kvx_set_binary_files_outside).
  BinaryFileOutside = 51,
  // A file to read that is a pipe, device, socket or directory.
  NotARegularFile = 52,
  // An image whose data array is larger than the reader's limit.
  ImageTooLarge = 53,
};

// The name of an error value ("RoutineFailed" for -1), or null for a value
// that is not in the table.
const char *kvx_error_name(int ErrorValue);

// "\n<name>\n", or "\nUnknownErrorValue : <value>\n" for a value outside the
// table.  At most 511 characters; the text stays valid for the whole run.
const char *kvx_report_data_error(int ErrorValue);
