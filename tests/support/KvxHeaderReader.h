// A small reader of KVX files for the tests, independent of the library it
// checks: it splits a file into blocks and a header into its entries, in
// file order, and undoes the encoding of a stored value.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using KvxEntries = std::vector<std::pair<std::string, std::string>>;  // key, stored text

// The entries "key = value ;" of the header text `text`: from after its "{"
// line up to and with the line end before "}".  Each entry ends with " ;"
// and a line end, and its value may go on over continuation lines; lines of
// spaces between entries are padding.
inline KvxEntries kvx_header_entries(const std::string &text) {
  KvxEntries entries;
  size_t pos = 0;
  for (;;) {
    pos = text.find_first_not_of(" \r\n", pos);
    if (pos == std::string::npos) break;
    const size_t equals = text.find(" = ", pos);
    const size_t end = text.find(" ;\r\n", pos);
    if (equals == std::string::npos || end == std::string::npos || equals > end) break;
    entries.emplace_back(text.substr(pos, equals - pos), text.substr(equals + 3, end - equals - 3));
    pos = end + 4;
  }
  return entries;
}

struct KvxTestBlock {
  std::uint64_t position = 0;    // byte offset of "{" in the file
  std::uint64_t headerSize = 0;  // bytes from "{" to the header end
  KvxEntries entries;
  std::string data;  // the binary section

  std::optional<std::string> value(const std::string &key) const {
    for (const auto &[k, v] : entries)
      if (k == key) return v;
    return std::nullopt;
  }
  std::vector<std::string> keys() const {
    std::vector<std::string> out;
    for (const auto &entry : entries) out.push_back(entry.first);
    return out;
  }
};

// The header that starts with "{" CR LF at `start` of `file`: its entries,
// and the position behind its end ("}" LF) in `*end`.  A header without an
// end (npos in `*end`) is read up to the end of the file.
inline KvxEntries kvx_header_at(const std::string &file, size_t start, size_t *end = nullptr) {
  const size_t stop = file.find("\r\n}\n", start);
  if (end != nullptr) *end = stop == std::string::npos ? stop : stop + 4;
  const size_t from = start + 3;  // behind "{" CR LF
  if (from > file.size()) return {};
  const size_t to = stop == std::string::npos ? file.size() : stop + 2;
  return to < from ? KvxEntries{} : kvx_header_entries(file.substr(from, to - from));
}

// Splits the file's bytes into blocks; an empty result with *error set when
// the layout is broken.
inline std::vector<KvxTestBlock> ReadKvxBlocks(const std::string &bytes, std::string *error) {
  std::vector<KvxTestBlock> blocks;
  std::uint64_t at = 0;
  while (at < bytes.size()) {
    if (bytes.compare(at, 3, "{\r\n") != 0) {
      *error = "no header start at " + std::to_string(at);
      return {};
    }
    KvxTestBlock block;
    size_t end = 0;
    block.entries = kvx_header_at(bytes, at, &end);
    if (end == std::string::npos) {
      *error = "no header end after " + std::to_string(at);
      return {};
    }
    block.position = at;
    block.headerSize = end - at;
    const auto binary = block.value("KVX_BinarySize");
    const std::uint64_t binarySize = binary ? std::strtoull(binary->c_str(), nullptr, 10) : 0;
    if (end + binarySize > bytes.size()) {
      *error = "binary section beyond the end at " + std::to_string(at);
      return {};
    }
    block.data = bytes.substr(end, binarySize);
    at = end + binarySize;
    blocks.push_back(std::move(block));
  }
  return blocks;
}

// The entries of the header that starts at `start` in `file` as key ->
// stored value text, and the header's end position in `end`.
inline std::map<std::string, std::string> header_entries(const std::string &file, size_t start,
                                                         size_t *end = nullptr) {
  std::map<std::string, std::string> entries;
  for (auto &[key, value] : kvx_header_at(file, start, end)) entries[key] = value;
  return entries;
}

// The keys of a header in the order they are written.
inline std::vector<std::string> header_keys(const std::string &file, size_t start) {
  std::vector<std::string> keys;
  for (const auto &entry : kvx_header_at(file, start)) keys.push_back(entry.first);
  return keys;
}

// Undoes the value encoding of a stored value text: quotes, escapes and
// line continuations.
inline std::string decode_value(std::string text) {
  size_t first = text.find_first_not_of(" \t\r\n\f\v");
  text = first == std::string::npos ? "" : text.substr(first);
  if (!text.empty() && text.front() == '"') text.erase(0, 1);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') continue;
    if (c != '\\' || i + 1 == text.size()) {
      out.push_back(c);
      continue;
    }
    char e = text[++i];
    switch (e) {
      case ':':
        out.push_back(';');
        break;
      case ')':
        out.push_back('}');
        break;
      case '(':
        out.push_back('{');
        break;
      case 'l':
        out.push_back('\n');
        break;
      case 's':
        out.push_back(' ');
        break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        break;
      case '\n':
        break;
      default:
        out.push_back(e);
    }
  }
  size_t last = out.find_last_not_of(" \t\r\n\f\v");
  out.erase(last == std::string::npos ? 0 : last + 1);
  if (!out.empty() && out.back() == '"') out.pop_back();
  return out;
}

}  // namespace testsupport
