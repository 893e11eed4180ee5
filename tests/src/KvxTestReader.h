// A small, independent reader of KVX files for the converter's tests: it
// splits a file into blocks and a header into its entries, in file order.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct KvxTestBlock {
  std::uint64_t position = 0;                                // byte offset of "{" in the file
  std::uint64_t headerSize = 0;                              // bytes from "{" to the header end
  std::vector<std::pair<std::string, std::string>> entries;  // key, stored text
  std::string data;                                          // the binary section

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

// Splits the file's bytes into blocks; an empty result with *error set when
// the layout is broken.
std::vector<KvxTestBlock> ReadKvxBlocks(const std::string &bytes, std::string *error);
