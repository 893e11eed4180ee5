// History record of the command line: per key, one line that collects the
// arguments the option parser consumed.  (The header history lines that a
// block could also hold are never made by this program, so only the
// command line is kept.)
#include <cstdio>
#include <list>
#include <string>

#include "kvxio_internal.h"

namespace {

// Characters of text a command line holds (its buffer has one more for the
// terminating zero); further text is dropped.
constexpr size_t HistoryLineCapacity = 2048;

struct History_Block {
  std::string key;
  std::string argv_line;  // the command line, kept under "_argv_key"
};

std::list<History_Block> gHistoryRoot;
int gHistoryDebug = 0;

History_Block *find_block(const char *key) {
  if (key == nullptr) return nullptr;
  for (History_Block &block : gHistoryRoot)
    if (kvxio::compare_keys(block.key, key, kvxio::UpperCaseSort) == 0) return &block;
  return nullptr;
}

bool needs_quotes(std::string_view argument) {
  if (argument.empty()) return true;
  if (argument.front() == '"') return false;
  return argument.find_first_of(" \t\r\n\f\v()[]{}*") != std::string_view::npos;
}

}  // namespace

int kvx_history_new(const char *history_key) {
  if (gHistoryDebug) std::printf("\n kvx_history_new BEGIN\n");
  if (history_key == nullptr) return 0;
  History_Block *block = find_block(history_key);
  if (block == nullptr) {
    block = &gHistoryRoot.emplace_back();
    block->key = history_key;
  }
  block->argv_line.clear();
  block->argv_line.reserve(HistoryLineCapacity);
  if (gHistoryDebug) std::printf("\n kvx_history_new END\n");
  return 1;
}

int kvx_history_argv(const char *history_key, const char *argument) {
  if (gHistoryDebug) std::printf("\n kvx_history_argv BEGIN\n");
  History_Block *block = find_block(history_key);
  if (block == nullptr) return 0;
  std::string_view text = argument != nullptr ? argument : "";
  // Built by appending: g++ 12 -O3 misreads a prefixing concatenation as overlapping copies.
  std::string piece;
  if (needs_quotes(text)) {
    piece.append(1, '"').append(text).append(1, '"');
  } else {
    piece = text;
  }

  std::string &line = block->argv_line;
  if (!line.empty() && line.size() < HistoryLineCapacity) line.push_back(' ');
  line.append(piece, 0, HistoryLineCapacity - line.size());
  if (gHistoryDebug) {
    std::printf("\n history block %s\n  _argv_key = %s\n", block->key.c_str(), line.c_str());
    std::printf("\n kvx_history_argv END\n");
  }
  return 1;
}

const char *kvx_history_argv_line(const char *history_key) {
  History_Block *block = find_block(history_key);
  return block != nullptr ? block->argv_line.c_str() : nullptr;
}

void kvx_history_debug(int level) { gHistoryDebug = level; }

void kvx_history_reset() { gHistoryRoot.clear(); }
