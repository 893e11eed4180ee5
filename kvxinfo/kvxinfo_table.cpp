// Rows of kvxinfo's output as aligned text, CSV or JSON.
#include "kvxinfo_table.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>
#include <utility>

#include "kvxinfo_text.h"

namespace {

constexpr const char *Missing = "-";

std::string csv_field(const std::string &raw) {
  // Control characters are shown escaped, as in the other formats: the
  // rows may go to a terminal.
  const std::string text = kvxinfo_printable(raw);
  const bool plain = text.find_first_of(",\"\r\n") == std::string::npos &&
                     (text.empty() || (!std::isspace(static_cast<unsigned char>(text.front())) &&
                                       !std::isspace(static_cast<unsigned char>(text.back()))));
  if (plain) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// Length of the UTF-8 sequence at `at`, 0 when it is none.
size_t utf8_length(const std::string &text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  const size_t length = lead >= 0xf0 && lead <= 0xf4 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 ? 2 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i)
    if ((byte(at + i) & 0xc0) != 0x80) return 0;
  // Overlong forms, surrogates and code points beyond U+10FFFF.
  const unsigned char second = byte(at + 1);
  if ((lead == 0xe0 && second < 0xa0) || (lead == 0xed && second >= 0xa0) ||
      (lead == 0xf0 && second < 0x90) || (lead == 0xf4 && second >= 0x90))
    return 0;
  return length;
}

std::string json_string(const std::string &text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    char escaped[8];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += text[i++];
    } else if (c < 0x20 || c == 0x7f) {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
      ++i;
    } else if (c < 0x80) {
      out += text[i++];
    } else if (c == 0xc2 && utf8_length(text, i) == 2 &&
               static_cast<unsigned char>(text[i + 1]) < 0xa0) {
      // U+0080 to U+009F are controls as well.
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(text[i + 1]));
      out += escaped;
      i += 2;
    } else if (const size_t length = utf8_length(text, i); length > 0) {
      out.append(text, i, length);
      i += length;
    } else {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
      ++i;
    }
  }
  return out + "\"";
}

// True for a text in the number syntax of JSON.
bool is_json_number(std::string_view text) {
  size_t i = text.starts_with('-') ? 1 : 0;
  const auto digits = [&] {
    const size_t from = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    return i - from;
  };
  const size_t first = i;
  const size_t integer = digits();
  if (integer == 0 || (integer > 1 && text[first] == '0')) return false;
  if (i < text.size() && text[i] == '.' && (++i, digits() == 0)) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == text.size();
}

// The text that Python's repr() gives for `value`: the shortest digits
// that read back as it, in fixed notation for decimal exponents from -4
// to 15 (whole numbers with ".0"), else as "1.5e+20".
std::string python_repr(double value) {
  char buffer[64];
  const auto written =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::string_view text(buffer, static_cast<size_t>(written.ptr - buffer));
  const size_t e = text.find('e');
  const std::string_view exponent_text = text.substr(e + 1);
  int exponent = 0;
  std::from_chars(exponent_text.data() + 1, exponent_text.data() + exponent_text.size(), exponent);
  if (exponent_text.front() == '-') exponent = -exponent;
  if (exponent < -4 || exponent >= 16) return std::string(text);
  std::string sign = text.starts_with('-') ? "-" : "";
  std::string digits;
  for (const char c : text.substr(sign.size(), e - sign.size()))
    if (c != '.') digits += c;
  if (exponent < 0)
    return sign + "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  const auto whole = static_cast<size_t>(exponent) + 1;
  if (digits.size() <= whole) return sign + digits + std::string(whole - digits.size(), '0') + ".0";
  return sign + digits.substr(0, whole) + "." + digits.substr(whole);
}

std::string json_value(const KvxinfoColumn &column, const KvxinfoCell &cell) {
  if (cell.missing) return "null";
  switch (column.json) {
    case KvxinfoJson::Number:
      if (is_json_number(cell.text)) return cell.text;
      if (cell.text == "inf" || cell.text == "-inf" || cell.text == "nan") return "null";
      break;
    case KvxinfoJson::HeaderValue:
      if (kvxinfo_canonical_number(cell.text)) return cell.text;
      break;
    case KvxinfoJson::Text:
      break;
  }
  return json_string(cell.text);
}

}  // namespace

KvxinfoTable::KvxinfoTable(std::vector<KvxinfoColumn> columns, KvxinfoFormat format)
    : columns_(std::move(columns)), format_(format) {}

void KvxinfoTable::add(std::vector<KvxinfoCell> row) {
  row.resize(columns_.size(), KvxinfoCell{{}, true});
  rows_.push_back(std::move(row));
}

void KvxinfoTable::print(std::FILE *out) const {
  switch (format_) {
    case KvxinfoFormat::Csv:
      return print_csv(out);
    case KvxinfoFormat::Json:
      return print_json(out);
    default:
      return print_text(out);
  }
}

void KvxinfoTable::print_text(std::FILE *out) const {
  const size_t count = columns_.size();
  std::vector<std::vector<std::string>> lines;
  lines.reserve(rows_.size() + 1);
  std::vector<std::string> &titles = lines.emplace_back();
  for (const KvxinfoColumn &column : columns_) titles.push_back(kvxinfo_printable(column.title));
  for (const auto &row : rows_) {
    std::vector<std::string> &line = lines.emplace_back();
    for (const KvxinfoCell &cell : row)
      line.push_back(cell.missing ? std::string(Missing) : kvxinfo_printable(cell.text));
  }
  std::vector<size_t> width(count, 0);
  for (const auto &line : lines)
    for (size_t c = 0; c < count; ++c) width[c] = std::max(width[c], line[c].size());
  std::string text;
  for (const auto &line : lines) {
    for (size_t c = 0; c < count; ++c) {
      const size_t pad = width[c] - line[c].size();
      if (c > 0) text.append(2, ' ');
      if (columns_[c].right) text.append(pad, ' ');
      text += line[c];
      if (!columns_[c].right && c + 1 < count) text.append(pad, ' ');
    }
    text += '\n';
  }
  std::fputs(text.c_str(), out);
}

void KvxinfoTable::print_csv(std::FILE *out) const {
  std::string text;
  const auto add_line = [&](const auto &fields, const auto &field_text) {
    for (size_t c = 0; c < fields.size(); ++c) {
      if (c > 0) text += ',';
      text += csv_field(field_text(fields[c]));
    }
    text += "\r\n";
  };
  add_line(columns_, [](const KvxinfoColumn &column) { return column.title; });
  for (const auto &row : rows_)
    add_line(row, [](const KvxinfoCell &cell) { return cell.missing ? std::string() : cell.text; });
  std::fwrite(text.data(), 1, text.size(), out);
}

void KvxinfoTable::print_json(std::FILE *out) const {
  std::string text = "[";
  for (size_t r = 0; r < rows_.size(); ++r) {
    text += r == 0 ? "\n  {" : ",\n  {";
    std::string group;
    for (size_t c = 0; c < columns_.size(); ++c) {
      const KvxinfoColumn &column = columns_[c];
      if (column.group != group) {
        if (!group.empty()) text += "}";
        if (c > 0) text += ", ";
        if (!column.group.empty()) text += json_string(column.group) + ": {";
      } else if (c > 0) {
        text += ", ";
      }
      group = column.group;
      text += json_string(column.title) + ": " + json_value(column, rows_[r][c]);
    }
    if (!group.empty()) text += "}";
    text += "}";
  }
  text += rows_.empty() ? "]\n" : "\n]\n";
  std::fwrite(text.data(), 1, text.size(), out);
}

KvxinfoCell kvxinfo_number_cell(double value) {
  if (std::isnan(value)) return {"nan"};
  if (std::isinf(value)) return {value > 0 ? "inf" : "-inf"};
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return {std::string(text, result.ptr)};
}

bool kvxinfo_canonical_number(std::string_view text) {
  if (!is_json_number(text)) return false;
  if (text.find_first_of(".eE") == std::string_view::npos) {
    int64_t integer = 0;
    const auto read = std::from_chars(text.data(), text.data() + text.size(), integer);
    return read.ec == std::errc() && text != "-0";
  }
  double value = 0.0;
  const auto read = std::from_chars(text.data(), text.data() + text.size(), value);
  return read.ec == std::errc() && read.ptr == text.data() + text.size() && std::isfinite(value) &&
         python_repr(value) == text;
}
