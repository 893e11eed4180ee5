// The report sink and the escaping of quoted bytes.
#include "report_sink.h"

#include <cstdarg>
#include <vector>

namespace {

ReportSink gSink = nullptr;  // null: the standard error stream
void *gContext = nullptr;

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
size_t utf8_sequence(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xbf;  // the range of the second byte
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;   // no overlong forms
    if (lead == 0xed) high = 0x9f;  // no surrogates
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;  // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xbf) return 0;
  return length;
}

void append_hex(std::string &shown, unsigned char byte) {
  static constexpr char Digits[] = "0123456789abcdef";
  shown += "\\x";
  shown += Digits[byte >> 4];
  shown += Digits[byte & 0xf];
}

}  // namespace

void report_set_sink(ReportSink sink, void *context) {
  gSink = sink;
  gContext = context;
}

void report_to_stream(std::string_view text, void *context) {
  std::fwrite(text.data(), 1, text.size(), static_cast<std::FILE *>(context));
}

void report_discard(std::string_view, void *) {}

void report_printf(const char *format, ...) {
  char small[512];
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string_view text;
  std::vector<char> large;
  if (length >= static_cast<int>(sizeof small)) {
    large.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    text = {large.data(), static_cast<size_t>(length)};
  } else if (length > 0) {
    text = {small, static_cast<size_t>(length)};
  }
  va_end(again);
  if (gSink != nullptr)
    gSink(text, gContext);
  else
    report_to_stream(text, stderr);
}

ReportSinkScope::ReportSinkScope(ReportSink sink, void *context)
    : previous_sink_(gSink), previous_context_(gContext) {
  report_set_sink(sink, context);
}

ReportSinkScope::~ReportSinkScope() { report_set_sink(previous_sink_, previous_context_); }

std::string report_printable(std::string_view text, bool keep_line_breaks) {
  std::string shown;
  shown.reserve(text.size());
  while (!text.empty()) {
    const char c = text.front();
    const size_t length = utf8_sequence(text);
    const auto byte = static_cast<unsigned char>(c);
    // U+0080 to U+009F are controls too: a terminal may take U+009B for
    // the start of an escape sequence.
    const bool c1 = length == 2 && byte == 0xc2 && static_cast<unsigned char>(text[1]) < 0xa0;
    if (c == '\n' && keep_line_breaks) {
      shown += c;
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c1) {
      append_hex(shown, byte);
      append_hex(shown, static_cast<unsigned char>(text[1]));
    } else if (length == 0 || byte < 0x20 || byte == 0x7f) {
      append_hex(shown, byte);
      text.remove_prefix(1);
      continue;
    } else {
      shown.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return shown;
}
