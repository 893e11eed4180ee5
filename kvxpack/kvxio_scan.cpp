// The header tokenizer: header start and end, keys, values, value decoding.
#include "kvxio_scan.h"

#include <sys/types.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "report_sink.h"

namespace kvxio {
namespace {

// The end marker of a header that lies on the block grid.
constexpr std::array<unsigned char, 4> EndMarker = {'\r', '\n', '}', '\n'};

bool is_space(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

uint64_t position(std::FILE *f) {
  const off_t pos = ftello(f);
  return pos < 0 ? 0 : static_cast<uint64_t>(pos);
}

// The character of a message about the byte `c` just read, escaped when it
// is not printable; end of file shows as a space.
std::string shown(int c) {
  return c == EOF ? " " : report_printable(std::string(1, static_cast<char>(c)));
}

// Where the tokenizer reads from: the file's stream, or a stretch of the
// file's bytes read at once (a header parsed without a library call per
// character).  The end of that stretch reads as the end of the file; since
// no header ends at the end of a file, a header cut there fails to parse,
// and a quiet reader leaves the message to the caller's second try on the
// stream.
class StreamReader {
 public:
  explicit StreamReader(std::FILE *f) : f_(f) {}
  int get() { return std::getc(f_); }
  bool unget(int c) { return std::ungetc(c, f_) != EOF; }
  uint64_t pos() const { return position(f_); }
  bool seek(uint64_t to) { return fseeko(f_, static_cast<off_t>(to), SEEK_SET) == 0; }
  static constexpr bool Quiet = false;

 private:
  std::FILE *f_;
};

// Quiet unless `Loud`: a window read at opening leaves its messages to the
// second try on the stream; a header parsed from memory has no second try.
template <bool Loud>
class BasicWindowReader {
 public:
  explicit BasicWindowReader(ByteWindow &window) : w_(window) {}
  int get() { return w_.At < w_.Bytes.size() ? w_.Bytes[w_.At++] : EOF; }
  bool unget(int c) {
    if (c == EOF || w_.At == 0) return false;
    --w_.At;
    return true;
  }
  uint64_t pos() const { return w_.Base + w_.At; }
  bool seek(uint64_t to) {
    if (to < w_.Base || to - w_.Base > w_.Bytes.size()) return false;
    w_.At = static_cast<size_t>(to - w_.Base);
    return true;
  }
  static constexpr bool Quiet = !Loud;

 private:
  ByteWindow &w_;
};
using WindowReader = BasicWindowReader<false>;

// Skips white space, ";" and comment lines (a "#" directly after a line
// feed runs to the end of its line).  Returns the first other character.
template <typename Reader>
int skip_separators(Reader &in, int previous) {
  for (;;) {
    const int c = in.get();
    if (c == '#' && previous == '\n') {
      int d;
      while ((d = in.get()) != EOF && d != '\n') {
      }
      if (d == EOF) return EOF;
      previous = '\n';
      continue;
    }
    if (c == EOF || !(is_space(c) || c == ';')) return c;
    previous = c;
  }
}

char decoded_escape(char c) {
  switch (c) {
    case ':':
      return ';';
    case ')':
      return '}';
    case '(':
      return '{';
    case 's':
      return ' ';
    case 't':
      return '\t';
    case 'f':
      return '\f';
    case 'v':
      return '\v';
    case 'n':
    case 'l':
      return '\n';
    case 'r':
      return '\r';
    default:
      return c;
  }
}

// Grid points looked at per read of the grid search: a default header of
// 8192 bytes in one read instead of one seek per point.
constexpr uint64_t GridPointsPerRead = 16;
// At most this many grid points in the first read when the header's size is
// known.
constexpr uint64_t MaxGridPointsPerRead = 256;

// The grid search of search_end.  The bytes from the first window to the
// last window of a read are read at once; the first read ends at the
// expected header end when that is a grid point, so that a header of known
// size is read once and nothing behind it.
EndSearch search_grid(std::FILE *f, std::vector<unsigned char> &buffer, uint64_t start,
                      uint64_t step, uint64_t expected_size) {
  const uint64_t marker = EndMarker.size();
  uint64_t points = expected_size >= step && expected_size % step == 0
                        ? std::min(expected_size / step, MaxGridPointsPerRead)
                        : GridPointsPerRead;
  for (uint64_t first_end = start + step;; points = GridPointsPerRead) {
    const uint64_t from = first_end - marker;
    uint64_t last_end = 0;
    if (first_end <= start || __builtin_mul_overflow(points - 1, step, &last_end) ||
        __builtin_add_overflow(last_end, first_end, &last_end))
      return EndSearch::EndOfFile;
    if (fseeko(f, static_cast<off_t>(from), SEEK_SET) != 0) {
      print_system_error("search_end->fseek");
      return EndSearch::Failed;
    }
    const size_t wanted = static_cast<size_t>(last_end - from);
    if (buffer.size() < wanted) buffer.resize(wanted);
    const size_t got = std::fread(buffer.data(), 1, wanted, f);
    for (uint64_t at = 0; at < wanted; at += step) {
      if (at + marker > got) return EndSearch::EndOfFile;
      const unsigned char *window = buffer.data() + at;
      if (std::memchr(window, 0, marker) != nullptr) return EndSearch::EndOfFile;
      if (std::equal(EndMarker.begin(), EndMarker.end(), window)) {
        if (fseeko(f, static_cast<off_t>(from + at + marker), SEEK_SET) == 0)
          return EndSearch::Found;
        print_system_error("search_end->fseek");
        return EndSearch::Failed;
      }
    }
    first_end = last_end + step;
  }
}

template <typename Reader>
HeaderStart check_start(Reader &in) {
  int c = in.get();
  if (c == '\r') c = in.get();
  if (c == '\n') c = in.get();
  if (c == EOF) return HeaderStart::EndOfFile;
  if (c == 0) return HeaderStart::ZeroByte;
  return c == '{' ? HeaderStart::Found : HeaderStart::Other;
}

template <typename Reader>
HeaderEnd check_end(Reader &in) {
  const int c = in.get();
  if (c == EOF || c == 0) return HeaderEnd::EndOfFile;
  if (c != '}') return HeaderEnd::Other;
  int next = in.get();
  if (next == '\r') next = in.get();
  if (next == '\n') return HeaderEnd::Found;
  if (next == EOF) return HeaderEnd::Other;
  return in.unget(next) ? HeaderEnd::Other : HeaderEnd::PushBackFailed;
}

template <typename Reader>
KeyRead get_key(Reader &in, std::string &key, uint64_t &pos) {
  int previous = 0;
  for (;;) {
    int c = skip_separators(in, previous);
    if (c == '}') {
      const uint64_t marker = in.pos() - 1;
      if (in.unget(c) && check_end(in) == HeaderEnd::Found) return KeyRead::HeaderEnd;
      if constexpr (!Reader::Quiet)
        report_printf("\nERROR: position %ld, end marker \264%c\264 not followed by eol\n",
                      static_cast<long>(marker), '}');
      return KeyRead::Broken;
    }
    pos = in.pos() - (c == EOF ? 0 : 1);
    // The key's characters are gathered in a fixed buffer of the key
    // limit: a header is read once per block of a file.
    std::array<char, MaxKeyLen> text;
    size_t length = 0;
    while (c != '=' && c != ';' && c != '}' && c != '\r' && c != '\n' && c != 0 && c != EOF) {
      if (length < MaxKeyLen) text[length++] = is_space(c) ? ' ' : static_cast<char>(c);
      c = in.get();
    }
    if (c == ';' || c == '\r' || c == '\n') {
      previous = c;  // text without "=" is not a key
      continue;
    }
    if (c != '=') {
      if constexpr (!Reader::Quiet)
        report_printf("\nERROR: position %ld, '%s' read, separator '%c' not found\n",
                      static_cast<long>(in.pos()), shown(c).c_str(), '=');
      return KeyRead::Broken;
    }
    if (length > 0 && is_space(text[length - 1])) --length;
    key.assign(text.data(), length);
    return KeyRead::Key;
  }
}

template <typename Reader>
bool get_val(Reader &in, std::string &value, uint64_t &pos) {
  int c = in.get();
  while (c != EOF && is_space(c)) c = in.get();
  pos = in.pos() - (c == EOF ? 0 : 1);
  std::array<char, MaxValLen> text;
  size_t length = 0;
  while (c != ';' && c != EOF) {
    if (length < MaxValLen) text[length++] = static_cast<char>(c);
    c = in.get();
  }
  if (c == EOF) {
    if constexpr (!Reader::Quiet)
      report_printf("\nERROR: position %ld,'%s' read, terminator '%c' not found\n",
                    static_cast<long>(in.pos()), shown(c).c_str(), ';');
    return false;
  }
  if (length > 0 && is_space(static_cast<unsigned char>(text[length - 1]))) --length;
  value.assign(text.data(), length);
  return true;
}

template <typename Reader>
SymbolsRead get_symbol_list(Reader &in, Data_Block &block, bool all) {
  for (;;) {
    std::string key, value;
    uint64_t key_pos = 0, value_pos = 0;
    const KeyRead got = get_key(in, key, key_pos);
    if (got == KeyRead::HeaderEnd) return SymbolsRead::HeaderEnd;
    if (got == KeyRead::Broken) return SymbolsRead::Broken;
    if (!all && !is_format_key(key))
      return in.seek(key_pos) ? SymbolsRead::Stopped : SymbolsRead::Broken;
    if (!get_val(in, value, value_pos)) return SymbolsRead::Broken;
    if (key.find_first_not_of(' ') == std::string::npos) continue;  // an empty key names nothing
    Symbol_Element *symbol = insert_symbol(block, key, value);
    if (symbol == nullptr) return SymbolsRead::Broken;
    symbol->KeyPos = key_pos;
    symbol->ValPos = value_pos;
  }
}

}  // namespace

HeaderStart check_start(std::FILE *f) {
  StreamReader in(f);
  return check_start(in);
}

HeaderStart check_start(ByteWindow &window) {
  WindowReader in(window);
  return check_start(in);
}

HeaderEnd check_end(std::FILE *f) {
  StreamReader in(f);
  return check_end(in);
}

EndSearch search_end(std::FILE *f, std::vector<unsigned char> &buffer, uint64_t start,
                     uint64_t step, uint64_t expected_size) {
  if (step >= EndMarker.size()) return search_grid(f, buffer, start, step, expected_size);
  if (fseeko(f, static_cast<off_t>(start), SEEK_SET) != 0) {
    print_system_error("search_end->fseek");
    return EndSearch::Failed;
  }
  for (;;) {
    switch (check_end(f)) {
      case HeaderEnd::Found:
        return EndSearch::Found;
      case HeaderEnd::EndOfFile:
        return EndSearch::EndOfFile;
      case HeaderEnd::PushBackFailed:
        return EndSearch::Failed;
      case HeaderEnd::Other:
        break;
    }
  }
}

EndSearch search_end(std::FILE *f, uint64_t start, uint64_t step, uint64_t expected_size) {
  std::vector<unsigned char> buffer;
  return search_end(f, buffer, start, step, expected_size);
}

bool search_grid_end(const ByteWindow &window, uint64_t start, uint64_t step, uint64_t &end) {
  const uint64_t marker = EndMarker.size();
  if (step < marker || start < window.Base) return false;
  const uint64_t window_end = window.Base + window.Bytes.size();
  for (uint64_t point = start + step; point > start && point <= window_end; point += step) {
    const unsigned char *bytes = window.Bytes.data() + (point - marker - window.Base);
    if (std::find(bytes, bytes + marker, 0) != bytes + marker) return false;
    if (std::equal(EndMarker.begin(), EndMarker.end(), bytes)) {
      end = point;
      return true;
    }
  }
  return false;
}

KeyRead get_key(std::FILE *f, std::string &key, uint64_t &pos) {
  StreamReader in(f);
  return get_key(in, key, pos);
}

bool get_val(std::FILE *f, std::string &value, uint64_t &pos) {
  StreamReader in(f);
  return get_val(in, value, pos);
}

KeyRead get_key(ByteWindow &window, std::string &key, uint64_t &pos) {
  BasicWindowReader<true> in(window);
  return get_key(in, key, pos);
}

bool get_val(ByteWindow &window, std::string &value, uint64_t &pos) {
  BasicWindowReader<true> in(window);
  return get_val(in, value, pos);
}

std::string decode_value(std::string_view stored) {
  size_t i = 0;
  while (i < stored.size() && is_space(static_cast<unsigned char>(stored[i]))) ++i;
  if (i < stored.size() && stored[i] == '"') ++i;
  std::string text;
  for (; i < stored.size(); ++i) {
    const char c = stored[i];
    if (c == '\\') {
      if (i + 1 == stored.size()) {
        text.push_back(c);  // a lone trailing backslash stays
        break;
      }
      const char next = stored[++i];
      if (next != '\r' && next != '\n') text.push_back(decoded_escape(next));
    } else if (c != '\r' && c != '\n') {
      text.push_back(c);
    }
  }
  while (!text.empty() && is_space(static_cast<unsigned char>(text.back()))) text.pop_back();
  if (!text.empty() && text.back() == '"') text.pop_back();
  return text;
}

SymbolsRead get_symbol_list(std::FILE *f, Data_Block &block, bool all) {
  StreamReader in(f);
  return get_symbol_list(in, block, all);
}

SymbolsRead get_symbol_list(ByteWindow &window, Data_Block &block, bool all) {
  WindowReader in(window);
  return get_symbol_list(in, block, all);
}

bool parse_unsigned(std::string_view text, uint64_t &value) {
  size_t i = 0;
  while (i < text.size() && is_space(static_cast<unsigned char>(text[i]))) ++i;
  size_t end = text.size();
  while (end > i && is_space(static_cast<unsigned char>(text[end - 1]))) --end;
  if (i == end) return false;
  uint64_t result = 0;
  for (; i < end; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    if (__builtin_mul_overflow(result, uint64_t{10}, &result) ||
        __builtin_add_overflow(result, static_cast<uint64_t>(c - '0'), &result))
      return false;
  }
  value = result;
  return true;
}

}  // namespace kvxio
