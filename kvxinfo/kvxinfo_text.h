// Texts from a file made safe for a terminal: one line, no control
// characters.
#pragma once

#include <string>
#include <string_view>

// `text` with line breaks and tabs shown as "\n", "\r", "\t" and every other
// control character, and every byte that is not part of valid UTF-8, as
// "\xHH", so that a value stays on its line and cannot drive the terminal.
std::string kvxinfo_printable(std::string_view text);
