// Texts from a file made safe for a terminal.
#include "kvxinfo_text.h"

#include "report_sink.h"

std::string kvxinfo_printable(std::string_view text) {
  // Backslashes doubled first: the escapes that follow are then the only
  // backslash pairs that stand for something else.
  std::string doubled;
  doubled.reserve(text.size());
  for (const char c : text) {
    doubled += c;
    if (c == '\\') doubled += c;
  }
  return report_printable(doubled);
}
