// Texts from a file made safe for a terminal.
#include "kvxinfo_text.h"

#include "report_sink.h"

std::string kvxinfo_printable(std::string_view text) { return report_printable(text); }
