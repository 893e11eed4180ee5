// The header tokenizer on hand-made header texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kvxio_scan.h"
#include "kvxio_test_util.h"

namespace {

using namespace kvxio;
using kvxtest::padded_header;

// A temporary stream holding `bytes`, positioned at `at`.
struct Stream {
  explicit Stream(const std::string &bytes, long at = 0) : f(std::tmpfile()) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fseek(f, at, SEEK_SET);
  }
  ~Stream() { std::fclose(f); }
  Stream(const Stream &) = delete;
  Stream &operator=(const Stream &) = delete;
  long tell() const { return std::ftell(f); }
  std::FILE *f;
};

TEST(KvxioScan, CheckStart) {
  using enum HeaderStart;
  struct Case {
    std::string bytes;
    HeaderStart result;
  };
  const Case cases[] = {
      {"{", Found},
      {"\r\n{", Found},
      {"\n{", Found},
      {"\r{", Found},
      {"", EndOfFile},
      {"\r\n", EndOfFile},
      {std::string(1, '\0'), ZeroByte},
      {"x", Other},
      {"\r\r{", Other},
      {"\n\n{", Other},
      {" {", Other},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    Stream s(cases[i].bytes);
    EXPECT_EQ(check_start(s.f), cases[i].result);
  }
}

TEST(KvxioScan, CheckEnd) {
  using enum HeaderEnd;
  struct Case {
    std::string bytes;
    HeaderEnd result;
    int next;  // the byte read after the test
  };
  const Case cases[] = {
      {"}\nA", Found, 'A'}, {"}\r\nA", Found, 'A'},   {"}xA", Other, 'x'},
      {"xA", Other, 'A'},   {"", EndOfFile, EOF},     {std::string("\0A", 2), EndOfFile, 'A'},
      {"}", Other, EOF},    {"}\r\r\n", Other, '\r'},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    Stream s(cases[i].bytes);
    EXPECT_EQ(check_end(s.f), cases[i].result);
    EXPECT_EQ(std::getc(s.f), cases[i].next);
  }
}

TEST(KvxioScan, SearchEndOnTheGridAndByteWise) {
  using enum EndSearch;
  const std::string on_grid = padded_header("A = 1 ;\r\n", 1024) + std::string(512, 'd');
  struct Case {
    const char *what;
    std::string bytes;
    uint64_t start, step;
    EndSearch result;
    long after;
  };
  const std::string off_grid = padded_header("A = 1 ;\r\n", 1000) + std::string(24, '\0');
  const std::vector<Case> cases = {
      {"grid 512", on_grid, 0, 512, Found, 1024},
      {"grid from a later start", std::string(100, 'x') + on_grid, 100, 512, Found, 1124},
      {"byte-wise on a grid header", on_grid, 0, 1, Found, 1024},
      {"grid misses an end at 1000", off_grid, 0, 512, EndOfFile, 0},
      {"byte-wise finds it", off_grid, 0, 1, Found, 1000},
      {"LF only ends the header byte-wise", "{\r\nA = 1 ;\r\n}\nrest", 0, 1, Found, 14},
      {"no end at all", "{\r\nA = 1 ;\r\n", 0, 1, EndOfFile, 0},
      {"grid over a file without end", std::string(2000, ' '), 0, 512, EndOfFile, 0},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(std::to_string(i) + ": " + c.what);
    Stream s(c.bytes);
    EXPECT_EQ(search_end(s.f, c.start, c.step), c.result);
    if (c.result == Found) {
      EXPECT_EQ(s.tell(), c.after);
    }
  }
}

// Reads all entries of a header body; "!" marks a failure, "}" the end.
std::vector<std::string> tokens(const std::string &body) {
  Stream s(body);
  std::vector<std::string> out;
  for (;;) {
    std::string key, value;
    uint64_t pos = 0;
    const KeyRead got = get_key(s.f, key, pos);
    if (got == KeyRead::HeaderEnd) {
      out.push_back("}");
      return out;
    }
    if (got == KeyRead::Broken || !get_val(s.f, value, pos)) {
      out.push_back("!");
      return out;
    }
    out.push_back(key + "=" + value);
  }
}

TEST(KvxioScan, KeysAndValues) {
  struct Case {
    const char *what;
    std::string body;
    std::vector<std::string> expected;
  };
  const std::string key70(70, 'k'), value600(600, 'v');
  const std::vector<Case> cases = {
      {"plain entries", "\r\nA = 1 ;\r\nDim_1 = 100 ;\r\n}\n", {"A=1", "Dim_1=100", "}"}},
      {"padding, stray text and comments are no keys",
       "\r\nA = 1 ;\r\n      \r\nstray text;\r\n#note = x ;\r\nB = 2 ;\r\n}\r\n",
       {"A=1", "B=2", "}"}},
      {"white space inside keys and values",
       "\r\nmy\tkey  = \"two  words\" ;\r\nC = a\r\n b ;\r\n}\n",
       {"my key =\"two  words\"", "C=a\r\n b", "}"}},
      {"one space is dropped on each side", "\r\nA=1;\r\nB  =  2  ;\r\n}\n", {"A=1", "B =2 ", "}"}},
      {"empty value", "\r\nA = ;\r\n}\n", {"A=", "}"}},
      {"a key is cut to 64 characters",
       "\r\n" + key70 + " = 1 ;\r\n}\n",
       {key70.substr(0, 64) + "=1", "}"}},
      {"a value is cut to 512 characters",
       "\r\nA = " + value600 + " ;\r\nB = 2 ;\r\n}\n",
       {"A=" + value600.substr(0, 512), "B=2", "}"}},
      {"end marker not followed by a line end", "\r\nA = 1 ;\r\n}x\n", {"A=1", "!"}},
      {"end marker at the end of the file", "\r\nA = 1 ;\r\n}", {"A=1", "!"}},
      {"key cut by the end marker", "\r\nA = 1 ;\r\nB}\n", {"A=1", "!"}},
      {"key cut by the end of the file", "\r\nA = 1 ;\r\nB", {"A=1", "!"}},
      {"key cut by a zero byte", std::string("\r\nB\0 = 1 ;", 10), {"!"}},
      {"value without terminator", "\r\nA = 1 \r\n}\n", {"!"}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(std::to_string(i) + ": " + c.what);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(tokens(c.body), c.expected);
    const std::string messages = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(messages.empty(), c.expected.back() != "!") << messages;
  }
}

TEST(KvxioScan, MessagesOfBrokenHeaders) {
  struct Case {
    std::string body;
    std::string message;
  };
  const Case cases[] = {
      {"\r\nA = 1 ;}x", "\nERROR: position 9, end marker \264}\264 not followed by eol\n"},
      {"\r\nB}", "\nERROR: position 4, '}' read, separator '=' not found\n"},
      {"\r\nA = 1", "\nERROR: position 7,' ' read, terminator ';' not found\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.body);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(tokens(c.body).back(), "!");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.message);
  }
}

TEST(KvxioScan, PositionsOfKeysAndValues) {
  Stream s("\r\nKey = value ;\r\n  B =  x ;");
  std::string key, value;
  uint64_t key_pos = 0, value_pos = 0;
  ASSERT_EQ(get_key(s.f, key, key_pos), KeyRead::Key);
  ASSERT_TRUE(get_val(s.f, value, value_pos));
  EXPECT_EQ(key_pos, 2u);
  EXPECT_EQ(value_pos, 8u);
  ASSERT_EQ(get_key(s.f, key, key_pos), KeyRead::Key);
  ASSERT_TRUE(get_val(s.f, value, value_pos));
  EXPECT_EQ(key_pos, 19u);
  EXPECT_EQ(value_pos, 24u);
}

TEST(KvxioScan, DecodeValue) {
  struct Case {
    std::string stored, text;
  };
  const Case cases[] = {
      {"test", "test"},
      {"\"\"", ""},
      {"\" lead\"", " lead"},
      {"\"trail \"", "trail "},
      {"a\\:b", "a;b"},
      {"\\(x\\)", "{x}"},
      {"a\\\\b", "a\\b"},
      {"a\\lb", "a\nb"},
      {"\\s\\t\\f\\v\\n\\r|", " \t\f\v\n\r|"},
      {"long \\\r\nline", "long line"},
      {"long \\\nline", "long line"},
      {"bare\r\nbreak", "barebreak"},
      {"\\q", "q"},
      {"ends in \\", "ends in \\"},
      {"\\", "\\"},
      {"   ", ""},
      {"\"", ""},
      {"  text  ", "text"},
      {"a\"", "a"},
      {"\"a\"\"", "a\""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.stored);
    EXPECT_EQ(decode_value(c.stored), c.text);
  }
}

TEST(KvxioScan, ParseUnsigned) {
  struct Case {
    std::string text;
    bool ok;
    uint64_t value;
  };
  const Case cases[] = {
      {"20480", true, 20480},
      {" 7 ", true, 7},
      {"0", true, 0},
      {"18446744073709551615", true, UINT64_MAX},
      {"18446744073709551616", false, 0},
      {"5000000000", true, 5000000000ULL},
      {"-1", false, 0},
      {"+1", false, 0},
      {"12x", false, 0},
      {"", false, 0},
      {"Undetermined", false, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    uint64_t value = 0;
    EXPECT_EQ(parse_unsigned(c.text, value), c.ok);
    if (c.ok) {
      EXPECT_EQ(value, c.value);
    }
  }
}

// The symbols of a block as "key=value@keypos/valuepos".
std::vector<std::string> listed(const Data_Block &block) {
  std::vector<std::string> out;
  for (const Symbol_Element &symbol : block.SymbolList)
    out.push_back(symbol.Key + "=" + symbol.Value + "@" + std::to_string(symbol.KeyPos) + "/" +
                  std::to_string(symbol.ValPos));
  return out;
}

// A header read from a window of its first bytes gives what the stream
// gives, or fails without a word when the window cuts it short; it never
// gives other symbols.
TEST(KvxioScan, WindowAgreesWithTheStreamOrDeclines) {
  const std::string lead(100, 'x');
  const std::vector<std::string> headers = {
      padded_header("KVX_A = 1 ;\r\nKVX_B = \"two\\:\" ;\r\nTitle = t ;", 512),
      "\r\n{\r\nKVX_A = a\r\n b ;\r\n#KVX_C = 3 ;\r\nstray;KVX_D=4;}\r\n",
      "{\r\nKVX_A = 1 ;}x\n",
      "{\r\nKVX_A = 1 ;\r\nKVX_B}\n",
  };
  for (size_t i = 0; i < headers.size(); ++i) {
    for (bool all : {false, true}) {
      SCOPED_TRACE(std::to_string(i) + (all ? " all keys" : " format keys"));
      Stream s(lead + headers[i], static_cast<long>(lead.size()));
      Data_Block from_stream;
      ::testing::internal::CaptureStderr();
      const bool begins = check_start(s.f) == HeaderStart::Found;
      const SymbolsRead expected =
          begins ? get_symbol_list(s.f, from_stream, all) : SymbolsRead::Broken;
      ::testing::internal::GetCapturedStderr();
      for (size_t cut = 0; cut <= headers[i].size(); ++cut) {
        SCOPED_TRACE(cut);
        ByteWindow window;
        window.Base = lead.size();
        window.Bytes.assign(headers[i].begin(), headers[i].begin() + static_cast<long>(cut));
        Data_Block from_window;
        ::testing::internal::CaptureStderr();
        const SymbolsRead got = check_start(window) == HeaderStart::Found
                                    ? get_symbol_list(window, from_window, all)
                                    : SymbolsRead::Broken;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "a window is read quietly";
        if (got == SymbolsRead::Broken &&
            (expected != SymbolsRead::Broken || cut < headers[i].size()))
          continue;
        EXPECT_EQ(got, expected) << "the same outcome";
        EXPECT_EQ(listed(from_window), listed(from_stream)) << "the same symbols";
      }
    }
  }
}

TEST(KvxioScan, GridEndInAWindowOrUndecided) {
  const std::string on_grid = padded_header("A = 1 ;\r\n", 1024) + std::string(512, 'd');
  struct Case {
    const char *what;
    std::string bytes;
    uint64_t base, start;
    bool decided;
    uint64_t end;
  };
  const std::vector<Case> cases = {
      {"marker in the window", on_grid, 0, 0, true, 1024},
      {"window of a later part of the file", on_grid, 100, 100, true, 1124},
      {"window ends before the marker", on_grid.substr(0, 1023), 0, 0, false, 0},
      {"zero byte on the grid first", std::string(508, ' ') + std::string(4, '\0') + on_grid, 0, 0,
       false, 0},
      {"a start before the window", on_grid, 100, 0, false, 0},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(std::to_string(i) + ": " + c.what);
    ByteWindow window;
    window.Base = c.base;
    window.Bytes.assign(c.bytes.begin(), c.bytes.end());
    uint64_t end = 0;
    EXPECT_EQ(search_grid_end(window, c.start, 512, end), c.decided);
    if (c.decided) {
      EXPECT_EQ(end, c.end);
    }
  }
}

}  // namespace
