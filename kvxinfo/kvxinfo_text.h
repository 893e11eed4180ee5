// Texts from a file made safe for a terminal: one line, no control
// characters.
#pragma once

#include <string>
#include <string_view>

// `text` with line breaks and tabs shown as "\n", "\r", "\t", every other
// control character as "\xHH" and a backslash as "\\", so that a value
// stays on its line, cannot drive the terminal, and reads back unchanged:
// "\n" is always a line break, never the text backslash-n.
std::string kvxinfo_printable(std::string_view text);
