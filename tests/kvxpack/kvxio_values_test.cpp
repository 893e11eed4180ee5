// Header values: encoding, quoting, continuation keys, line widths, the
// three write calls, and the history record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvxio_internal.h"
#include "kvxio_test_util.h"

namespace {

using kvxtest::decode_value;

class KvxValues : public ::testing::Test {
 protected:
  void SetUp() override {
    kvx_reset_settings();
    stream_ = kvx_open_data_file(dir_.file("values.kvx").c_str(), "new", nullptr, nullptr);
    ASSERT_GE(stream_, 0);
  }
  void TearDown() override {
    if (stream_ >= 0) (void)kvx_close_data_file(stream_, nullptr, nullptr);
    kvx_reset_settings();
  }
  // The block of image `number` in chain 1 while it is being filled.
  kvxio::Data_Block &block(long number) {
    kvxio::Data_File &file = *kvxio::file_entry(stream_);
    return *kvxio::search_block(*kvxio::search_chain(file, "Image.Psd"), std::to_string(number));
  }
  std::string stored(long number, const char *key) {
    kvxio::Symbol_Element *symbol = kvxio::search_symbol(block(number), key);
    return symbol != nullptr ? symbol->Value : "<missing>";
  }
  // The value of `key` with its continuation keys joined, as a reader
  // would give it back.
  std::string read_back(long number, const std::string &key) {
    std::string value = decode_value(stored(number, key.c_str()));
    for (int piece = 1;; ++piece) {
      auto *symbol = kvxio::search_symbol(block(number), key + "~" + std::to_string(piece));
      if (symbol == nullptr) return value;
      value += decode_value(symbol->Value);
    }
  }
  std::vector<std::string> keys(long number) {
    std::vector<std::string> result;
    for (const auto &symbol : block(number).SymbolList) result.push_back(symbol.Key);
    return result;
  }

  kvxtest::TempDir dir_;
  int stream_ = -1;
};

TEST_F(KvxValues, EncodingAndQuotingFollowTheValueRules) {
  struct Case {
    std::string value;
    std::string stored;
  };
  const std::vector<Case> cases = {
      {"test", "test"},
      {"", "\"\""},
      {" lead", "\" lead\""},
      {"trail ", "\"trail \""},
      {"\"quoted\"", "\"\"quoted\"\""},
      {"a;b{c}", "a\\:b\\(c\\)"},
      {"back\\slash", "back\\\\slash"},
      {"two\r\nlines\rand\nmore", "two\\llines\\land\\lmore"},
      {"ends with break\n", "\"ends with break\\l\""},
      {"\nstarts with break", "\\lstarts with break"},
      {"in side", "in side"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    int error = -99, status = -99;
    ASSERT_EQ(kvx_write_header_line(stream_, 1, 1, "Key", cases[i].value.c_str(), &error, &status),
              1);
    EXPECT_EQ(error, RoutineSucceeded);
    EXPECT_EQ(status, Success);
    EXPECT_EQ(stored(1, "Key"), cases[i].stored);
    std::string expected = cases[i].value;
    // The reader turns every line break into LF.
    for (size_t p; (p = expected.find("\r\n")) != std::string::npos;) expected.replace(p, 2, "\n");
    for (auto &c : expected)
      if (c == '\r') c = '\n';
    EXPECT_EQ(decode_value(stored(1, "Key")), expected) << "must read back";
  }
}

TEST(KvxHeaderFloatText, IsTheTextAFloatIsStoredAsOrNull) {
  char text[65];
  ASSERT_GE(kvx_header_float_size(), sizeof "-1.234568e+30");
  EXPECT_STREQ(kvx_header_float_text(1234.5678F, text, sizeof text), "1234.568");
  EXPECT_EQ(kvx_header_float_text(1234.5678F, text, 8), nullptr) << "no room for the terminator";
  EXPECT_EQ(kvx_header_float_text(1.0F, nullptr, 0), nullptr);
}

TEST_F(KvxValues, LongValuesContinueUnderNumberedKeys) {
  std::string title;
  for (int i = 0; i < 600; ++i) title.push_back(static_cast<char>('a' + i % 26));
  ASSERT_EQ(kvx_write_header_line(stream_, 1, 1, "Title", title.c_str(), nullptr, nullptr), 1);
  EXPECT_EQ(keys(1), (std::vector<std::string>{"Title", "Title~1", "Title~2"}));
  EXPECT_EQ(stored(1, "Title").size(), 253u);
  EXPECT_EQ(read_back(1, "Title"), title);
  EXPECT_EQ(kvxio::search_symbol(block(1), "Title")->String, title) << "whole value cached";

  // A shorter value drops the continuation keys it no longer needs.
  ASSERT_EQ(
      kvx_write_header_line(stream_, 1, 1, "title", title.substr(0, 300).c_str(), nullptr, nullptr),
      1);
  EXPECT_EQ(keys(1), (std::vector<std::string>{"Title", "Title~1"}));
  EXPECT_EQ(read_back(1, "Title"), title.substr(0, 300));
  ASSERT_EQ(kvx_write_header_line(stream_, 1, 1, "Title", "short", nullptr, nullptr), 1);
  EXPECT_EQ(keys(1), (std::vector<std::string>{"Title"}));
  EXPECT_EQ(read_back(1, "Title"), "short");
}

TEST_F(KvxValues, PiecesEndBeforeAnEscapeThatWouldNotFit) {
  // 252 plain characters, then escapes: the pair that would pass the limit
  // starts the next piece, and every piece keeps room for its quotes.
  const std::vector<std::string> values = {
      std::string(252, 'x') + ";;;;", std::string(251, 'x') + " ;; ", std::string(600, ';'),
      std::string(253, 'x') + "\r\n", std::string(300, ' '),
  };
  for (size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    ASSERT_EQ(kvx_write_header_line(stream_, 1, 1, "V", values[i].c_str(), nullptr, nullptr), 1);
    for (const auto &symbol : block(1).SymbolList) {
      EXPECT_LE(symbol.Value.size(), 255u) << symbol.Key;
      EXPECT_NE(symbol.Value.back(), '\\') << "no piece ends inside an escape pair";
    }
    std::string expected = values[i];
    if (i == 3) expected = std::string(253, 'x') + "\n";
    EXPECT_EQ(read_back(1, "V"), expected);
  }
}

TEST_F(KvxValues, KeysThatCannotContinueKeepTheFirstPieceOnly) {
  const std::string long_value(400, 'v');
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(kvx_write_header_line(stream_, 1, 1, std::string(70, 'K').c_str(), long_value.c_str(),
                                  nullptr, nullptr),
            1);
  std::string warning = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(warning.find("WARNING: The length 70 | 70"), std::string::npos);
  ASSERT_EQ(
      kvx_write_header_line(stream_, 1, 1, "With~Tilde", long_value.c_str(), nullptr, nullptr), 1);
  // "K...K~1" would pass 64 characters; a key with "~" never continues.
  EXPECT_EQ(keys(1), (std::vector<std::string>{std::string(64, 'K'), "With~Tilde"}));
  EXPECT_EQ(stored(1, "With~Tilde"), std::string(253, 'v'));
}

TEST_F(KvxValues, NumbersAreStoredAsText) {
  struct Case {
    bool is_float;
    double value;
    const char *stored;
  };
  const std::vector<Case> cases = {
      {false, -3, "-3"},
      {false, 0, "0"},
      {false, 2147483647, "2147483647"},
      {true, 1234.5678, "1234.568"},
      {true, 0.00001, "1e-05"},
      {true, -0.5, "-0.5"},
      {true, 1e30, "1e+30"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.stored);
    int result = c.is_float ? kvx_write_header_float(stream_, 2, 1, "N",
                                                     static_cast<float>(c.value), nullptr, nullptr)
                            : kvx_write_header_long(stream_, 2, 1, "N", static_cast<long>(c.value),
                                                    nullptr, nullptr);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(stored(2, "N"), c.stored);
  }
}

TEST_F(KvxValues, LineWidthBreaksValuesWithoutLosingText) {
  std::string words;
  for (int i = 0; words.size() < 700; ++i)
    words += "word" + std::to_string(i) + (i % 5 ? " " : ";");
  for (long width : {1L, 2L, 3L, 10L, 20L, 40L, 80L}) {
    SCOPED_TRACE("width " + std::to_string(width));
    kvx_set_max_line_width(width);
    ASSERT_EQ(kvx_write_header_line(stream_, 3, 1, "Comment", words.c_str(), nullptr, nullptr), 1);
    for (const auto &symbol : block(3).SymbolList) {
      EXPECT_LE(symbol.Value.size(), 255u);
      // Each line of the entry stays within the width when it can.
      size_t start = 0;
      size_t prefix = symbol.Key.size() + 3;
      for (size_t end; (end = symbol.Value.find("\r\n", start)) != std::string::npos;) {
        size_t length = prefix + (end - start);
        if (width >= 3) {
          EXPECT_LE(length, static_cast<size_t>(std::max<long>(width, prefix + 2)))
              << symbol.Key << " line at " << start;
        }
        EXPECT_EQ(symbol.Value[end - 1], '\\') << "a break is backslash, CR, LF";
        start = end + 2;
        prefix = 0;
      }
    }
    EXPECT_EQ(read_back(3, "Comment"), words);
  }
}

TEST(KvxBreakval, BreaksAfterTheLastSpaceOfALine) {
  struct Case {
    const char *stored;
    size_t key_length;
    long width;
    const char *broken;
  };
  const std::vector<Case> cases = {
      {"aaa bbb ccc", 3, 0, "aaa bbb ccc"},
      {"aaa bbb ccc", 3, 100, "aaa bbb ccc"},
      {"aaa bbb ccc", 3, 11, "aaa \\\r\nbbb ccc"},
      {"abcdefgh", 3, 8, "a\\\r\nbcdefgh"},  // first line limit 2
      {"abcdefgh", 1, 5, "a\\\r\nbcde\\\r\nfgh"},
      {"a\\:bcd", 1, 6, "a\\\r\n\\:bcd"},  // pairs stay whole
      {"abcdefgh", 20, 5, "abcdefgh"},     // first line has no limit
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.stored + std::string(" width ") + std::to_string(c.width));
    EXPECT_EQ(kvxio::breakval(c.stored, c.key_length, c.width), c.broken);
  }
}

TEST_F(KvxValues, BadStreamsAndChainsAreRejected) {
  struct Case {
    int stream;
    int chain;
    int error;
  };
  const std::vector<Case> cases = {
      {-1, 1, InvalidStream},
      {20, 1, InvalidStream},
      {-100, 1, InvalidStream},
      {19, 1, NoFileOpen},
      {stream_, 0, GeneralBlockNotFirst},
  };
  // Leave the general block by addressing an image first.
  ASSERT_EQ(kvx_write_header_line(stream_, 1, 1, "A", "a", nullptr, nullptr), 1);
  for (const Case &c : cases) {
    SCOPED_TRACE("stream " + std::to_string(c.stream));
    int error = -99, status = -99;
    EXPECT_EQ(kvx_write_header_line(c.stream, 1, c.chain, "Key", "v", &error, &status), 0);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(status, ExternalErrorReport);
    EXPECT_EQ(kvx_write_header_long(c.stream, 1, c.chain, "Key", 1, nullptr, nullptr), 0);
  }
  for (const char *key : {static_cast<const char *>(nullptr), ""}) {
    int error = -99;
    EXPECT_EQ(kvx_write_header_line(stream_, 1, 1, key, "v", &error, nullptr), 0);
    EXPECT_EQ(error, CouldNotInsertSymbol);
  }
}

TEST(KvxHistory, ArgumentsAreQuotedAndCut) {
  kvx_history_reset();
  EXPECT_EQ(kvx_history_argv("run", "x"), 0) << "no block yet";
  ASSERT_EQ(kvx_history_new("run"), 1);
  for (const char *argument : {"-i", "my file", "", "f(x)", "\"already quoted\"", "*.kvx"})
    ASSERT_EQ(kvx_history_argv("RUN", argument), 1);
  EXPECT_STREQ(kvx_history_argv_line("run"),
               "-i \"my file\" \"\" \"f(x)\" \"already quoted\" \"*.kvx\"");

  ASSERT_EQ(kvx_history_new("run"), 1) << "a used key starts again";
  EXPECT_STREQ(kvx_history_argv_line("run"), "");
  const std::string long_argument(1500, 'a');
  ASSERT_EQ(kvx_history_argv("run", long_argument.c_str()), 1);
  ASSERT_EQ(kvx_history_argv("run", long_argument.c_str()), 1);
  ASSERT_EQ(kvx_history_argv("run", "more"), 1);
  std::string line = kvx_history_argv_line("run");
  EXPECT_EQ(line.size(), 2048u);
  EXPECT_EQ(line, long_argument + " " + std::string(547, 'a'));
  EXPECT_EQ(kvx_history_argv_line("other"), nullptr);
  kvx_history_reset();
}

}  // namespace
