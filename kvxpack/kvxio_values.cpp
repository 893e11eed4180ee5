// Header values: encoding of a caller's text into stored pieces, line-width
// breaking, continuation keys, and the header write calls.
#include <algorithm>
#include <array>
#include <cstdio>
#include <new>
#include <string>

#include "kvxio_internal.h"

namespace kvxio {
namespace {

// Characters of encoded text in one piece: the stored piece (at most 255)
// must still hold the two quotes.
constexpr size_t MaxPieceContent = MaxLinLen - 2;

bool is_white(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// One character (or CR LF pair) of the caller's text in its stored form.
struct Item {
  char text[2];
  size_t length;    // characters of `text`
  size_t consumed;  // characters of the caller's text
  bool line_break;
};

Item encode_item(std::string_view text, size_t pos) {
  const char c = text[pos];
  auto escaped = [](char second) { return Item{{'\\', second}, 2, 1, false}; };
  switch (c) {
    case '{':
      return escaped('(');
    case '}':
      return escaped(')');
    case ';':
      return escaped(':');
    case '\\':
      return escaped('\\');
    case '\r':
    case '\n': {
      bool pair = c == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n';
      return Item{{'\\', 'l'}, 2, pair ? 2u : 1u, true};
    }
    default:
      return Item{{c, 0}, 1, 1, false};
  }
}

// The stored form of encoded text: quoted when it is empty, or begins or
// ends with white space or a quote, or ends with a line break (the reader
// would take it for trailing white space).
bool needs_quotes(std::string_view content, bool ends_with_break) {
  return content.empty() || is_white(content.front()) || content.front() == '"' ||
         is_white(content.back()) || content.back() == '"' || ends_with_break;
}

std::string quote(std::string_view content, bool ends_with_break) {
  if (!needs_quotes(content, ends_with_break)) return std::string(content);
  std::string stored;
  stored.reserve(content.size() + 2);
  stored.push_back('"');
  stored.append(content);
  stored.push_back('"');
  return stored;
}

constexpr long NoLimit = -1;

}  // namespace

bool is_plain_value(std::string_view text, bool &quoted) {
  // The characters that are stored escaped, as a table: this test runs for
  // every value of every header.
  static constexpr auto escaped = [] {
    std::array<bool, 256> table{};
    for (unsigned char c : std::string_view("{};\\\r\n")) table[c] = true;
    return table;
  }();
  if (text.size() > MaxPieceContent) return false;
  for (unsigned char c : text)
    if (escaped[c]) return false;
  quoted = needs_quotes(text, false);
  return true;
}

std::string str2val(std::string_view text, size_t key_length, long max_line_width,
                    size_t &consumed) {
  // Most values are short and have no character to escape: stored as they
  // are, quoted if need be.
  if (bool quoted = false; max_line_width <= 0 && is_plain_value(text, quoted)) {
    consumed = text.size();
    return quote(text, false);
  }
  std::string content;
  // After each item: encoded length, characters consumed, ends with a break.
  struct Mark {
    size_t length;
    size_t consumed;
    bool line_break;
  };
  std::vector<Mark> marks;
  size_t pos = 0;
  while (pos < text.size()) {
    Item item = encode_item(text, pos);
    // An item that would not fit ends the piece; it starts the next one.
    if (content.size() + item.length > MaxPieceContent) break;
    content.append(item.text, item.length);
    pos += item.consumed;
    marks.push_back(Mark{content.size(), pos, item.line_break});
  }
  size_t count = marks.size();
  std::string stored = quote(content, count > 0 && marks.back().line_break);
  // With a line width, drop items until the broken text fits into a piece.
  while (max_line_width > 0 && count > 1 &&
         breakval(stored, key_length, max_line_width).size() > MaxLinLen) {
    --count;
    stored = quote(std::string_view(content).substr(0, marks[count - 1].length),
                   marks[count - 1].line_break);
  }
  consumed = count > 0 ? marks[count - 1].consumed : 0;
  return stored;
}

std::string breakval(std::string_view stored, size_t key_length, long max_line_width) {
  if (max_line_width <= 0) return std::string(stored);
  long first = max_line_width - static_cast<long>(key_length) - 3;
  if (first == 0 || first == 1) first = 2;
  if (first < 0) first = NoLimit;
  const long next = max_line_width < 2 ? NoLimit : max_line_width;

  std::string out;
  std::string line;  // the current line, not yet written
  long limit = first;
  size_t pos = 0;
  while (pos < stored.size()) {
    // An escape pair is one unit: a break never splits it.
    size_t unit = stored[pos] == '\\' && pos + 1 < stored.size() ? 2 : 1;
    // The unit must fit together with the backslash of a break after it.
    while (limit != NoLimit && !line.empty() && static_cast<long>(line.size() + unit + 1) > limit) {
      // Preferably after the last space of the line, else at the limit.
      size_t space = line.find_last_of(' ');
      size_t cut = space != std::string::npos ? space + 1 : line.size();
      out.append(line, 0, cut);
      out += "\\\r\n";
      line.erase(0, cut);
      limit = next;
    }
    line.append(stored, pos, unit);
    pos += unit;
  }
  out += line;
  return out;
}

bool insert_string(Data_Block &block, std::string_view key, std::string_view value) {
  return insert_string(block, key, value, settings().MaxLineWidth);
}

bool insert_string(Data_Block &block, std::string_view key, std::string_view value, long width) {
  try {
    settle_header(block);
    const std::string base = cut_key(key);
    const bool may_continue = base.find('~') == std::string::npos;
    auto last = block.SymbolList.end();
    size_t pos = 0;
    for (long piece = 0; piece == 0 || pos < value.size(); ++piece) {
      std::string piece_key = piece == 0 ? base : base + "~" + std::to_string(piece);
      // Text that no continuation key can hold is not stored.
      if (piece > 0 && (!may_continue || piece_key.size() > MaxKeyLen)) break;
      size_t consumed = 0;
      std::string stored = str2val(value.substr(pos), piece_key.size(), width, consumed);
      pos += consumed;
      last = insert_symbol_at(block, piece_key, breakval(stored, piece_key.size(), width));
      if (piece == 0) last->String.assign(value);
    }
    // Continuation keys left over from a longer earlier value go.
    for (auto it = std::next(last); it != block.SymbolList.end();) {
      std::string_view next = it->Key;
      size_t tilde = next.find('~');
      if (it->Depth <= 0 || compare_keys(next.substr(0, tilde), base, UpperCaseSort) != 0) break;
      it = erase_symbol(block, it);
    }
    return true;
  } catch (const std::bad_alloc &) {
    return false;
  }
}

int write_header_string(int stream, long DataNumber, int DataChain, const char *keyword,
                        std::string_view value) {
  if (debug_level())
    std::printf("write_header_string %s = \"%.*s\";\n", keyword != nullptr ? keyword : "",
                static_cast<int>(value.size()), value.data());
  int error = RoutineSucceeded;
  Data_Block *block = open_write_block(stream, DataNumber, DataChain, error);
  if (block == nullptr) return error;
  // A line without a key could not be found again.
  if (keyword == nullptr || *keyword == '\0') return CouldNotInsertSymbol;
  if (!draft_text(*block, keyword, value) && !insert_string(*block, keyword, value))
    return CouldNotInsertSymbol;
  block->Flags.HeaderChanged = true;
  return RoutineSucceeded;
}

}  // namespace kvxio

int kvx_write_header_line(int stream, long DataNumber, int DataChain, const char *keyword,
                          const char *Value, int *pErrorValue, int *pstatus) {
  const int error = kvxio::guarded([&] {
    return kvxio::write_header_string(stream, DataNumber, DataChain, keyword,
                                      Value != nullptr ? Value : "");
  });
  return kvxio::report(error, pErrorValue, pstatus);
}

int kvx_write_header_string(int stream, long DataNumber, int DataChain, const char *keyword,
                            const char *Value, int *pErrorValue, int *pstatus) {
  return kvx_write_header_line(stream, DataNumber, DataChain, keyword, Value, pErrorValue, pstatus);
}

int kvx_write_header_long(int stream, long DataNumber, int DataChain, const char *keyword,
                          long Value, int *pErrorValue, int *pstatus) {
  const int error = kvxio::guarded([&] {
    return kvxio::write_header_string(stream, DataNumber, DataChain, keyword,
                                      std::to_string(Value));
  });
  return kvxio::report(error, pErrorValue, pstatus);
}
