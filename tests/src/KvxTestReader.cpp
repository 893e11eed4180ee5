#include "KvxTestReader.h"

#include <cstdlib>

namespace {

std::string trim(const std::string &text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Entries are "key = value ;" lines ended by CR LF; padding lines hold only
// spaces.
void parseEntries(const std::string &header, KvxTestBlock *block) {
  size_t at = 0;
  while (at < header.size()) {
    size_t end = header.find("\r\n", at);
    if (end == std::string::npos) end = header.size();
    const std::string line = header.substr(at, end - at);
    at = end + 2;
    const auto equals = line.find(" = ");
    const auto terminator = line.rfind(" ;");
    if (equals == std::string::npos || terminator == std::string::npos) continue;
    block->entries.emplace_back(trim(line.substr(0, equals)),
                                line.substr(equals + 3, terminator - equals - 3));
  }
}

}  // namespace

std::vector<KvxTestBlock> ReadKvxBlocks(const std::string &bytes, std::string *error) {
  std::vector<KvxTestBlock> blocks;
  std::uint64_t at = 0;
  while (at < bytes.size()) {
    if (bytes.compare(at, 3, "{\r\n") != 0) {
      *error = "no header start at " + std::to_string(at);
      return {};
    }
    const auto end = bytes.find("\r\n}\n", at);
    if (end == std::string::npos) {
      *error = "no header end after " + std::to_string(at);
      return {};
    }
    KvxTestBlock block;
    block.position = at;
    block.headerSize = end + 4 - at;
    parseEntries(bytes.substr(at + 3, end - at - 3), &block);
    const auto binary = block.value("KVX_BinarySize");
    const std::uint64_t binarySize = binary ? std::strtoull(binary->c_str(), nullptr, 10) : 0;
    if (end + 4 + binarySize > bytes.size()) {
      *error = "binary section beyond the end at " + std::to_string(at);
      return {};
    }
    block.data = bytes.substr(end + 4, binarySize);
    at = end + 4 + binarySize;
    blocks.push_back(std::move(block));
  }
  return blocks;
}
