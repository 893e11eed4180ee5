#include "report_sink.h"

#include <gtest/gtest.h>

#include <string>

#include "VexaError.h"

namespace {

TEST(ReportPrintable, EscapesControlsAndBytesThatAreNotUtf8) {
  struct Case {
    std::string text, shown;
  };
  const Case cases[] = {
      {"plain text, \xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", ""},  // unchanged
      {"a\nb\rc\td", "a\\nb\\rc\\td"},
      {std::string("\x1b[2J\x07\x7f\0z", 8), "\\x1b[2J\\x07\\x7f\\x00z"},
      {"csi \xc2\x9b"
       "31m, nbsp \xc2\xa0",
       "csi \\xc2\\x9b31m, nbsp \xc2\xa0"},
      {"latin-1 \xe9t\xe9", "latin-1 \\xe9t\\xe9"},
      {"cut \xe2\x82", "cut \\xe2\\x82"},
      {"overlong \xc0\xaf \xe0\x80\xaf", "overlong \\xc0\\xaf \\xe0\\x80\\xaf"},
      {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80"},
      {"beyond \xf4\x90\x80\x80", "beyond \\xf4\\x90\\x80\\x80"},
      {"\\x1b stays", ""},  // no doubling: escaping twice changes nothing
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    const std::string expected = c.shown.empty() ? c.text : c.shown;
    EXPECT_EQ(report_printable(c.text), expected);
    EXPECT_EQ(report_printable(expected), expected) << "escaping is idempotent";
  }
  EXPECT_EQ(report_printable("two\nlines\x1b\n", true), "two\nlines\\x1b\n")
      << "line feeds kept on request";
}

void collect(std::string_view text, void *context) {
  static_cast<std::string *>(context)->append(text);
}

TEST(ReportSink, AScopeDirectsTheReportsAndRestoresTheStream) {
  std::string outer, inner;
  ::testing::internal::CaptureStderr();
  {
    const ReportSinkScope first(collect, &outer);
    report_printf("%s %d\n", "one", 1);
    {
      const ReportSinkScope second(collect, &inner);
      SetVexaError("Module", "Routine", "word \x1b]0;title\x07");
      ReportVexaStatus(NoOption, 0);
    }
    report_printf("%s\n", std::string(600, 'x').c_str());  // beyond the small buffer
  }
  report_printf("back\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "back\n");
  EXPECT_EQ(outer, "one 1\n" + std::string(600, 'x') + "\n");
  EXPECT_EQ(inner,
            "\nMODULE   : Module\nROUTINE  : Routine\nword \\x1b]0;title\\x07\n"
            "Status = 6 -- NoOption: Unknown option\n")
      << "the status report goes through the sink, the quoted word escaped";
}

}  // namespace
