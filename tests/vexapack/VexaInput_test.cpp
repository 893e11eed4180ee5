#include "VexaInput.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

namespace {

// The prompt output and the answers of one dialog, both in temporary files
// that stand in for the console.
class PromptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    input_ = std::tmpfile();
    output_ = std::tmpfile();
    ASSERT_NE(input_, nullptr);
    ASSERT_NE(output_, nullptr);
    VexaInputRedirect(nullptr, output_);
  }
  void TearDown() override {
    VexaInputResetStreams();
    std::fclose(input_);
    std::fclose(output_);
  }

  // Makes text the whole remaining input.
  void type(const std::string &text) {
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), input_), text.size());
    std::rewind(input_);
  }

  // Everything prompted so far; the output is emptied.
  std::string prompted() {
    std::fflush(output_);
    std::string text;
    std::rewind(output_);
    for (int c = std::fgetc(output_); c != EOF; c = std::fgetc(output_)) {
      text += static_cast<char>(c);
    }
    std::fclose(output_);
    output_ = std::tmpfile();
    VexaInputRedirect(nullptr, output_);
    return text;
  }

  FILE *input_ = nullptr;
  FILE *output_ = nullptr;
};

TEST_F(PromptTest, PromptTextShowsTheDefaultInItsFormat) {
  type("\n\n\n\n\n");
  int integer = 0;
  float real = 0.0F;
  char line[VexaInputLineSize] = "";

  EXPECT_EQ(GetInteger(input_, &integer, 1, "First image", 1), Success);
  EXPECT_EQ(prompted(), "First image [1] : ");
  EXPECT_EQ(GetInteger(input_, &integer, 1, "Offset", -3), Success);
  EXPECT_EQ(prompted(), "Offset [-3] : ");
  EXPECT_EQ(GetReal(input_, &real, 1, "Dummy", 0.5F), Success);
  EXPECT_EQ(prompted(), "Dummy [0.5] : ");
  EXPECT_EQ(GetLine(input_, line, 1, "Input file", "gasdet001"), Success);
  EXPECT_EQ(prompted(), "Input file [gasdet001] : ");
  EXPECT_EQ(GetInteger(input_, &integer, 0, "Rows", 7), NoDefault);
  EXPECT_EQ(prompted(), "Rows : ") << "no bracket without a default";
}

TEST_F(PromptTest, RedirectedInputReplacesTheCallersStream) {
  FILE *answers = std::tmpfile();
  ASSERT_NE(answers, nullptr);
  std::fputs("from memory\n", answers);
  std::rewind(answers);
  VexaInputRedirect(answers, output_);
  char line[VexaInputLineSize] = "";
  EXPECT_EQ(GetLine(stdin, line, 0, "Name", ""), Success);
  EXPECT_STREQ(line, "from memory");
  VexaInputResetStreams();
  std::fclose(answers);
}

TEST_F(PromptTest, IntegerAnswers) {
  struct Case {
    const char *answer;
    int flag;
    Status status;
    std::optional<int> value;  // the default is 5, the value before the call 99
  };
  const Case cases[] = {
      {"   \n", 1, Success, 5},
      {"   \n", 0, NoDefault, 99},
      {"# only a comment\n", 1, Success, 5},
      {"", 1, Success, 5},  // end of input
      {"", 0, NoDefault, 99},
      {"3*4\n", 1, Success, 12},
      {"3 4\n", 1, Success, 34},
      {"7,8\n", 1, Success, 7},
      {"5;6\n", 1, Failed, 5},
      {"  42  # frames\n", 0, Success, 42},
      {"1/0\n", 1, DivByZero, std::nullopt},
      {"$Exit\n", 1, Abort, 99},
      {"$eod\n", 1, Abort, 99},
      {"ab\\\\\n", 1, Abort, 99},
      {"12\x04\n", 1, Abort, 99},
      {"...\n", 1, SkipInput, 99},
      {"...", 0, SkipInput, 99},
      // Ordinary answers that only look like the conventions.
      {" $Exit\n", 1, NoFloatNumber, std::nullopt},
      {". . .\n", 1, NoFloatNumber, std::nullopt},
      {" ...\n", 1, NoFloatNumber, std::nullopt},
      {"...\r\n", 1, NoFloatNumber, std::nullopt},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i << ": \"" << c.answer << "\"");
    std::rewind(input_);
    ASSERT_EQ(ftruncate(fileno(input_), 0), 0);
    type(c.answer);
    int value = 99;
    EXPECT_EQ(GetInteger(input_, &value, c.flag, "n", 5), c.status);
    if (c.value) {
      EXPECT_EQ(value, *c.value);
    }
  }
}

TEST_F(PromptTest, RealAnswers) {
  struct Case {
    const char *answer;
    Status status;
    float value;
  };
  const Case cases[] = {
      {"\n", Success, 0.5F},      {"2*0.25\n", Success, 0.5F}, {"1.5,2\n", Success, 1.5F},
      {"2;\n", Failed, 2.0F},     {"$EXIT\n", Abort, -1.0F},   {"...\n", SkipInput, -1.0F},
      {"1e-3\n", Success, 1e-3F},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i << ": \"" << c.answer << "\"");
    std::rewind(input_);
    ASSERT_EQ(ftruncate(fileno(input_), 0), 0);
    type(c.answer);
    float value = -1.0F;
    EXPECT_EQ(GetReal(input_, &value, 1, "x", 0.5F), c.status);
    EXPECT_EQ(value, c.value);
  }
}

TEST_F(PromptTest, LineAnswers) {
  struct Case {
    const char *answer;
    int flag;
    const char *defval;
    Status status;
    const char *value;  // the value before the call is "old"
  };
  const Case cases[] = {
      {"  my   file.kvx  # note\n", 1, "def", Success, "my file.kvx"},
      {"\n", 1, "def", Success, "def"},
      {"\n", 0, "def", NoDefault, "old"},
      {"", 1, "def", Success, "def"},
      {"\n", 1, "...", SkipInput, "old"},
      {"$nul\n", 1, "def", Success, ""},
      {"$NULL\n", 1, "def", Success, ""},
      {"$nix\n", 0, "", Success, ""},
      {" $nul\n", 1, "def", Success, "$nul"},
      {"...\n", 1, "def", SkipInput, "old"},
      {". . .\n", 1, "def", Success, ". . ."},
      {"...\r\n", 1, "def", Success, "..."},
      {"$exit\n", 1, "def", Abort, "old"},
      {"\\\\\n", 1, "def", Abort, "old"},
      {"\tTab\tSeparated\n", 1, "def", Success, "Tab Separated"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i << ": \"" << c.answer << "\"");
    std::rewind(input_);
    ASSERT_EQ(ftruncate(fileno(input_), 0), 0);
    type(c.answer);
    char value[VexaInputLineSize] = "old";
    EXPECT_EQ(GetLine(input_, value, c.flag, "t", c.defval), c.status);
    EXPECT_STREQ(value, c.value);
  }
}

TEST_F(PromptTest, DefaultMayBeTheValueBuffer) {
  type("\n");
  char value[VexaInputLineSize] = "current.kvx";
  EXPECT_EQ(GetLine(input_, value, 1, "Output", value), Success);
  EXPECT_STREQ(value, "current.kvx");
  EXPECT_EQ(prompted(), "Output [current.kvx] : ");
}

TEST_F(PromptTest, LongAnswersAreCutAndLongLinesAnswerTheNextPrompt) {
  // 300 characters: the text keeps 255.
  type(std::string(300, 'x').append("\n").append(1023, 'a').append("bbb\n"));
  char value[VexaInputLineSize];
  EXPECT_EQ(GetLine(input_, value, 0, "t", ""), Success);
  EXPECT_EQ(std::string(value), std::string(255, 'x'));

  // 1026 characters: the first 1023 answer one prompt, the rest the next.
  EXPECT_EQ(GetLine(input_, value, 0, "t", ""), Success);
  EXPECT_EQ(std::string(value), std::string(255, 'a'));
  EXPECT_EQ(GetLine(input_, value, 0, "t", ""), Success);
  EXPECT_STREQ(value, "bbb");
}

TEST_F(PromptTest, LongNumberLineIsReadInParts) {
  type(std::string(1023, ' ').append("17\n"));
  int value = 0;
  EXPECT_EQ(GetInteger(input_, &value, 1, "n", 3), Success) << "1023 blanks: the default";
  EXPECT_EQ(value, 3);
  EXPECT_EQ(GetInteger(input_, &value, 1, "n", 3), Success);
  EXPECT_EQ(value, 17);
}

TEST(AnswerChecksTest, Conventions) {
  struct Case {
    const char *line;
    int abort, skip, null, def;
  };
  const Case cases[] = {
      {"$exit\n", -1, 0, 0, 0}, {"$EXI", -1, 0, 0, 0},     {"$Eod\n", -1, 0, 0, 0},
      {" $exit", 0, 0, 0, 0},   {"x\\\\", -1, 0, 0, 0},    {"ab\\\\", -1, 0, 0, 0},
      {"abc\\\\", 0, 0, 0, 0},  {"text\x04", -1, 0, 0, 0}, {"\x04", -1, 0, 0, 0},
      {"...", 0, -1, 0, 0},     {"...\n", 0, -1, 0, 0},    {"...\r", 0, -1, 0, 0},
      {"...\r\n", 0, 0, 0, 0},  {"... ", 0, 0, 0, 0},      {"....", 0, 0, 0, 0},
      {"$null", 0, 0, -1, 0},   {"$NiX\n", 0, 0, -1, 0},   {" $nul", 0, 0, 0, 0},
      {"", 0, 0, 0, -1},        {" \t\n", 0, 0, 0, -1},    {"x", 0, 0, 0, 0},
      {nullptr, 0, 0, 0, -1},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i);
    EXPECT_EQ(AbortCheck(c.line), c.abort) << "abort";
    EXPECT_EQ(SkipCheck(c.line), c.skip) << "skip";
    EXPECT_EQ(NullCheck(c.line), c.null) << "null";
    EXPECT_EQ(DefaultCheck(c.line), c.def) << "default";
  }
}

TEST(EditLineTest, EveryFlag) {
  struct Case {
    int flags;
    const char *text;
    const char *edited;
  };
  const Case cases[] = {
      {UnComment | Trim, "  my   file.kvx  # note\n", "my file.kvx"},
      {UnComment | Collapse, " 1 2 # x", "12"},
      {Collapse, "a \n\r\f\v\tb ", "ab"},
      {0, "a\tb", "a b"},
      {0, "   a", "  a"},
      {0, "  a", "  a"},
      {0, " a", " a"},
      {0, "a  \n b\n", "a b "},
      {0, "\n\nx", "\n x"},
      {Trim, "  a  b  ", "a b"},
      {Trim, " \n ", ""},
      {UnComment, "a#b#c", "a"},
      {UnComment | Trim, "# all comment", ""},
      {UpperCase, "abC1", "ABC1"},
      {LowerCase, "AbC1", "abc1"},
      {UpperCase | LowerCase, "AbC", "abc"},
      {UnComment | Collapse | UpperCase, "k e y#x", "KEY"},
      {0, "", ""},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i << ": \"" << c.text << "\"");
    std::string text(c.text);
    EditLine(c.flags, text.data());
    EXPECT_STREQ(text.c_str(), c.edited);
  }
  EditLine(Trim, nullptr);
}

TEST(CopyLineTest, LimitsAndConversion) {
  struct Case {
    const char *source;
    int len;
    int conversion;
    const char *copy;
  };
  const Case cases[] = {
      {"Hello", 256, 0, "Hello"}, {"Hello", 3, 0, "He"},     {"Hello", 1, 0, ""},
      {nullptr, 8, 0, ""},        {"HeLLo", 8, -1, "hello"}, {"HeLLo", 8, 1, "HELLO"},
      {"HeLLo", 8, 2, "HeLLo"},   {"Hello", 6, 0, "Hello"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i);
    std::string out(static_cast<std::size_t>(c.len) + 1, '\x7f');
    CopyLine(c.source, out.data(), c.len, c.conversion);
    EXPECT_STREQ(out.c_str(), c.copy);
    EXPECT_EQ(out[static_cast<std::size_t>(c.len)], '\x7f') << "written past len";
  }
  char untouched[2] = "u";
  CopyLine("abc", untouched, 0, 0);
  EXPECT_STREQ(untouched, "u") << "len 0 has no room for the terminator";
}

TEST(SeparationTest, RightAndLeftParts) {
  struct Case {
    bool right;
    const char *s1;
    const char *s2;
    int len;
    const char *piece;
    int found_at;  // -1: null returned
  };
  const Case cases[] = {
      {true, "/a/b/c", "/", 256, "c", 4},
      {true, "abc", "/", 256, "abc", -1},
      {true, "abc", "", 256, "abc", -1},
      {true, "aaaaa", "aa", 256, "a", 2},  // matches at 0 and 2, not 3
      {true, "/a/bcdef", "/", 3, "bc", 2},
      {true, "dir/", "/", 256, "", 3},
      {false, "name.ext", ".", 256, "name", 4},
      {false, "name", ".", 256, "name", -1},
      {false, "a.b.c", ".", 256, "a", 1},
      {false, "name.ext", ".", 3, "na", 4},
      {false, "name", "", 256, "name", -1},
      {false, ".ext", ".", 256, "", 0},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i << ": " << c.s1 << " / " << c.s2);
    std::string out(static_cast<std::size_t>(c.len) + 1, '\x7f');
    const char *found =
        c.right ? RightFR(c.s1, c.s2, out.data(), c.len) : LeftFL(c.s1, c.s2, out.data(), c.len);
    EXPECT_STREQ(out.c_str(), c.piece);
    EXPECT_EQ(out[static_cast<std::size_t>(c.len)], '\x7f') << "written past len";
    EXPECT_EQ(found != nullptr ? static_cast<int>(found - c.s1) : -1, c.found_at);
  }
}

TEST(VexaInputVersionTest, Text) {
  EXPECT_STREQ(VexaInputVersion(), "VexaInput V4.40 Ardeny 2007-04-19");
}

}  // namespace
