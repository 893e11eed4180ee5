#include "VexaError.h"

#include <gtest/gtest.h>

#include <string>

#include "kvxio_errors.h"

namespace {

// Empties the error record before and after each test.  Naming nothing
// releases the stored texts (VexaError_init only forgets them).
void clearRecord() { SetVexaError(nullptr, nullptr, nullptr); }

class VexaErrorTest : public ::testing::Test {
 protected:
  void SetUp() override { clearRecord(); }
  void TearDown() override { clearRecord(); }

  static std::string report(int status) {
    ::testing::internal::CaptureStderr();
    const int returned = ReportVexaStatus(status, 0);
    std::string text = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(returned, status) << "the status comes back unchanged";
    return text;
  }
};

TEST_F(VexaErrorTest, SuccessPrintsNothingAndKeepsRecord) {
  SetVexaError("Mod", "Routine", "msg");
  EXPECT_EQ(report(Success), "");
  ASSERT_NE(VexaErrorRecord().ModuleName, nullptr) << "a successful report keeps the record";
  EXPECT_STREQ(VexaErrorRecord().ModuleName, "Mod");
}

TEST_F(VexaErrorTest, StatusLinesForValuesInAndOutsideTheTable) {
  struct Case {
    int status;
    const char *expected;
  };
  const Case cases[] = {
      {Failed, "\nStatus = -1 -- Failed: Routine failed\n"},
      {NoFlag, "\nStatus = 12 -- NoFlag: No flag (true|false|yes|no)\n"},
      {CommaExpected, "\nStatus = 13 -- CommaExpected\n"},
      {NoAccumulator, "\nStatus = 52 -- NoAccumulator\n"},
      {53, "\nStatus = 53 -- ...\n"},
      {77, "\nStatus = 77 -- ...\n"},
      {99, "\nStatus = 99 -- ...\n"},
      {-2, "\nStatus = -2 -- ...\n"},
      {101, "\nStatus = 101 -- ...\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.status);
    EXPECT_EQ(report(c.status), c.expected);
  }
}

TEST_F(VexaErrorTest, ModuleRoutineAndMessageLinesPrecedeTheStatus) {
  SetVexaError("VexaOption", "ReadOptions", "-foo");
  EXPECT_EQ(report(NoOption),
            "\nMODULE   : VexaOption\nROUTINE  : ReadOptions\n-foo\n"
            "Status = 6 -- NoOption: Unknown option\n");
  EXPECT_EQ(VexaErrorRecord().ModuleName, nullptr) << "the report clears the record";
  EXPECT_EQ(VexaErrorRecord().Message, nullptr);
}

TEST_F(VexaErrorTest, MissingFieldsAreLeftOut) {
  SetVexaError(nullptr, "Routine", nullptr);
  EXPECT_EQ(report(ScanError),
            "\nROUTINE  : Routine\nStatus = 3 -- ScanError: Input conversion error\n");
}

TEST_F(VexaErrorTest, MessageIsReplaced) {
  SetVexaError("M", "R", "first");
  SetVexaErrorMessage("second");
  EXPECT_EQ(report(FileOpeningError),
            "\nMODULE   : M\nROUTINE  : R\nsecond\nStatus = 25 -- FileOpeningError\n");
}

TEST_F(VexaErrorTest, StoppedAfterHelpLeavesOutTheRecord) {
  SetVexaError("Mod", "Routine", "msg");
  EXPECT_EQ(report(StoppedAfterHelp), "\nStatus = 40 -- StoppedAfterHelp\n");
  EXPECT_EQ(VexaErrorRecord().ModuleName, nullptr) << "the texts are gone afterwards";
  EXPECT_EQ(report(Failed), "\nStatus = -1 -- Failed: Routine failed\n");
}

const char *customReport(int value) { return value == 7 ? "custom seven" : "other"; }

TEST_F(VexaErrorTest, ExternalReportUsesReportFunctionOrDataFileMessages) {
  SetVexaError("M", "R", nullptr);
  SetVexaErrorExternal(7, customReport);
  EXPECT_EQ(report(ExternalErrorReport),
            "\nMODULE   : M\nROUTINE  : R\ncustom seven\nStatus = 100 -- ExternalErrorReport\n");

  SetVexaErrorExternal(13, nullptr);
  EXPECT_EQ(report(ExternalErrorReport),
            "\n\nWriteDataError\n\nStatus = 100 -- ExternalErrorReport\n");

  EXPECT_EQ(report(ExternalErrorReport),
            "\n\nRoutineSucceeded\n\nStatus = 100 -- ExternalErrorReport\n")
      << "an empty record reports the value 0";
}

TEST_F(VexaErrorTest, SetVexaErrorClearsExternalError) {
  SetVexaErrorExternal(13, customReport);
  SetVexaError("M", nullptr, nullptr);
  EXPECT_EQ(VexaErrorRecord().ExternalError, 0);
  EXPECT_EQ(VexaErrorRecord().ReportError, nullptr);
}

TEST(ReportInputStatusTest, ReturnsWithoutExitForSuccessOrZeroFlag) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ReportInputStatus(Success, 1), Success);
  EXPECT_EQ(ReportInputStatus(ScanError, 0), ScanError);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Status = 0 -- Success: Normal successful operation\n"
            "Status = 3 -- ScanError: Input conversion error\n");
}

TEST(ReportInputStatusDeathTest, ExitsWithTheStatus) {
  EXPECT_EXIT(ReportInputStatus(ScanError, 1), ::testing::ExitedWithCode(3),
              "Status = 3 -- ScanError: Input conversion error");
  EXPECT_EXIT(ReportVexaStatus(Failed, 1), ::testing::ExitedWithCode(255), "Status = -1 -- Failed")
      << "the system keeps the low eight bits";
}

TEST(KvxErrorTest, MessagesOfTheErrorValues) {
  struct Case {
    int value;
    const char *expected;
  };
  const Case cases[] = {
      {-1, "\nRoutineFailed\n"},
      {0, "\nRoutineSucceeded\n"},
      {13, "\nWriteDataError\n"},
      {49, "\nCouldNotReadHeader\n"},
      {50, "\nFileInUseByAnotherProcess\n"},
      {52, "\nNotARegularFile\n"},
      {53, "\nImageTooLarge\n"},
      {54, "\nUnknownErrorValue : 54\n"},
      {99, "\nUnknownErrorValue : 99\n"},
      {-2, "\nUnknownErrorValue : -2\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_STREQ(kvx_report_data_error(c.value), c.expected);
  }
}

TEST(KvxErrorTest, TextsStayValid) {
  const char *first = kvx_report_data_error(1234);
  kvx_report_data_error(4321);
  EXPECT_STREQ(first, "\nUnknownErrorValue : 1234\n") << "an earlier text is not overwritten";
}

TEST(VexaErrorVersionTest, Text) {
  EXPECT_STREQ(VexaErrorVersion(), "VexaError V1.54 Ardeny 2011-06-08");
}

}  // namespace
