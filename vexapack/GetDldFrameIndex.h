// Internal to GetDldFrame: the line index of a DLD header file and a cursor
// that reads it line by line like repeated 128-byte line reads would, but
// can skip any number of lines or jump past the next terminator line at once.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "GetDldFrame.h"

namespace dld_internal {

// The whole header file in memory, cut into lines, with the positions of its
// terminator lines (leading integer -1).
class HeaderIndex {
 public:
  // Reads the whole file of the stream (a stream without a descriptor from
  // its current position); false on a read error or when memory runs out.
  [[nodiscard]] bool Load(FILE *stream);

  std::size_t LineCount() const { return lineStart_.empty() ? 0 : lineStart_.size() - 1; }
  std::uint64_t LineOffset(std::size_t line) const;  // byte offset where `line` starts
  void CopyLine(std::size_t line, std::array<char, kDldLineSize> &out) const;
  // The first terminator line at or after `line`, or LineCount() if none.
  std::size_t NextTerminator(std::size_t line) const;

 private:
  std::string content_;
  std::vector<std::uint64_t> lineStart_;  // one per line plus the end of the file
  std::vector<std::size_t> terminators_;  // ascending line numbers
};

// The index of the stream's file in *index: reused while the file is
// unchanged, built anew otherwise.  0, or 2 when the stream cannot be
// positioned at its start, or 5 when it cannot be read.
[[nodiscard]] int IndexOfHeader(FILE *stream, const HeaderIndex **index);
void ForgetHeaderIndex();

// Sequential reading over an index.  Every method that consumes lines
// returns false when the file ends first.
class HeaderCursor {
 public:
  explicit HeaderCursor(const HeaderIndex &index) : index_(index) {}

  [[nodiscard]] bool Read();
  [[nodiscard]] bool Skip(std::uint64_t lines);
  [[nodiscard]] bool SkipPastTerminator();  // up to and including the next terminator line
  [[nodiscard]] bool SkipCountedBlock();    // count line N and N - 1 further lines

  const char *Text() const { return line_.data(); }  // the line last read
  long Integer() const;                              // its leading integer
  std::string TextValue() const;                     // its text up to the line feed
  std::uint64_t Offset() const { return index_.LineOffset(next_); }

 private:
  const HeaderIndex &index_;
  std::size_t next_ = 0;
  std::array<char, kDldLineSize> line_{};
};

}  // namespace dld_internal
