// Helpers shared by the source files of VexaOption and VexaParameter.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "VexaOption.h"

namespace vexa_option {

// Stores src into a text holder, cut to IO_len - 1 characters.
inline void SetText(IO_text &dst, std::string_view src) {
  const size_t n = std::min(src.size(), dst.size() - 1);
  std::memcpy(dst.data(), src.data(), n);
  dst[n] = '\0';
}

inline std::string_view TextOf(const IO_text &text) { return text.data(); }

inline std::string_view CodeOf(const OptionDescriptor &dsc) { return dsc.code.data(); }

// Lower case of the ASCII letters, as the POSIX locale classifies them.
inline char LowerChar(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

inline std::string LowerText(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), LowerChar);
  return lower;
}

// The code an option name stands for: its first four characters in lower
// case (option names are told apart by these alone).
inline std::string CodeKey(std::string_view name) {
  return LowerText(name.substr(0, std::min<size_t>(name.size(), IO_CodeLen - 1)));
}

// Entries 1 to npar - 1 of a table, bounded by its real size: the range that
// every search runs over.  An empty (released) table has no entries.
inline int LastSearchIndex(std::span<const OptionDescriptor> dsc) {
  if (dsc.empty()) return 0;
  return std::clamp<int>(dsc[0].npar, 0, static_cast<int>(dsc.size()));
}

}  // namespace vexa_option
