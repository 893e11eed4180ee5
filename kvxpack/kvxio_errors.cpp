#include "kvxio_errors.h"

#include <array>
#include <cstdio>
#include <map>
#include <string>

namespace {

// Names of the values -1 to 52; index is value + 1.
constexpr std::array<const char *, 55> kNames = {
    "RoutineFailed",
    "RoutineSucceeded",
    "CouldNotMallocMemory",
    "CouldNotFreeHeaders",
    "CouldNotGetBinaryArray",
    "NoMoreStreamsAvailable",
    "InvalidStream",
    "CouldNotOpenFile",
    "EndOfFileDetected",
    "CouldNotFindHeader",
    "CouldNotFindSymbol",
    "BadSizeDefinition",
    "BadDataBlock",
    "CouldNotFindKeyword",
    "WriteDataError",
    "ReadDataError",
    "NoFileOpen",
    "NotNORVDataFile",
    "NoDataBlocksFound",
    "ExternalData",
    "FileIsNotWritable",
    "FileIsNotOpened",
    "IncompatibleOpeningModes",
    "CouldNotCloseFile",
    "CouldNotCloseBlock",
    "CouldNotInsertChain",
    "CouldNotInsertBlock",
    "CouldNotInsertSymbol",
    "MissingKeyDefinition",
    "GeneralBlockNotFirst",
    "ErrorCreatingGeneralBlock",
    "ErrorReadingGeneralBlock",
    "ErrorLocatingBlocks",
    "CouldNotSetBuffer",
    "NumberConversionFailed",
    "DataConversionFailed",
    "DataBufferTooSmall",
    "MissingArrayDimensions",
    "NotNdData",
    "Not2dData",
    "CouldNotWriteDimension",
    "CouldNotReadDimension",
    "CouldNotWriteBinary",
    "CannotReOpenGeneralBlock",
    "CannotOpenAsBslFile",
    "CouldNotInsertElement",
    "CouldNotDeleteString",
    "CouldNotFindHeaderKey",
    "CouldNotCreateHeader",
    "CouldNotReadGeneralHeader",
    "CouldNotReadHeader",
    "FileInUseByAnotherProcess",
    "BinaryFileOutside",
    "NotARegularFile",
    "ImageTooLarge",
};

// Texts handed out so far.  Callers may keep them for the whole run, so a
// text, once made, is never changed or released.
std::map<int, std::string> &reportTexts() {
  static std::map<int, std::string> texts;
  return texts;
}

}  // namespace

const char *kvx_error_name(int ErrorValue) {
  if (ErrorValue < RoutineFailed || ErrorValue > ImageTooLarge) return nullptr;
  return kNames[static_cast<size_t>(ErrorValue + 1)];
}

const char *kvx_report_data_error(int ErrorValue) {
  auto &texts = reportTexts();
  auto found = texts.find(ErrorValue);
  if (found != texts.end()) return found->second.c_str();
  char buffer[512];
  if (const char *name = kvx_error_name(ErrorValue))
    std::snprintf(buffer, sizeof buffer, "\n%s\n", name);
  else
    std::snprintf(buffer, sizeof buffer, "\n%s : %d\n", "UnknownErrorValue", ErrorValue);
  return texts.emplace(ErrorValue, buffer).first->second.c_str();
}
