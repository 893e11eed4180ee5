// Rows of kvxinfo's output as aligned text, CSV or JSON.
//
//   Text: a line of column titles, then one line per row; columns two
//         spaces apart, each aligned left or right; a missing value shows
//         as "-".  Texts from the file are shown with
//         control characters escaped (kvxinfo_text.h).
//   CSV:  the titles, then the rows (RFC 4180: fields holding a comma, a
//         quote, a line break or white space at either end are quoted,
//         quotes doubled; lines end in CR LF); a missing value is an empty
//         field.
//   JSON: an array with one object per row; the columns of a group (the
//         header keys, the statistics) form an object of their own under
//         the group's name; numbers are JSON numbers, a missing value (and
//         a number that is not finite) is null.  A header value is a JSON
//         number exactly when its text is how that number prints
//         (kvxinfo_canonical_number), so that the text comes back from the
//         number: "100" and "0.5" are numbers, "007" and "1.50" strings.
//         Bytes that are not UTF-8 are taken as Latin-1.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

enum class KvxinfoFormat { Text, Csv, Json };

// How a column's values are written in JSON.
enum class KvxinfoJson {
  Text,         // a string
  Number,       // a number when it reads as one, null when not finite
  HeaderValue,  // a number when kvxinfo_canonical_number says so, else a string
};

struct KvxinfoColumn {
  std::string title{};
  bool right = false;  // text: right aligned
  KvxinfoJson json = KvxinfoJson::Text;
  std::string group{};  // JSON: the object holding the column ("" for the row)
};

struct KvxinfoCell {
  std::string text{};
  bool missing = false;
};

class KvxinfoTable {
 public:
  KvxinfoTable(std::vector<KvxinfoColumn> columns, KvxinfoFormat format);

  const std::vector<KvxinfoColumn> &columns() const { return columns_; }
  // Adds a row of one cell per column.
  void add(std::vector<KvxinfoCell> row);
  // Prints the titles and every row added.
  void print(std::FILE *out) const;

 private:
  void print_text(std::FILE *out) const;
  void print_csv(std::FILE *out) const;
  void print_json(std::FILE *out) const;

  std::vector<KvxinfoColumn> columns_;
  KvxinfoFormat format_;
  std::vector<std::vector<KvxinfoCell>> rows_;
};

// A cell that holds `value`; "inf", "-inf" or "nan" when it is not finite.
// The text is the shortest that reads back as the same double.
KvxinfoCell kvxinfo_number_cell(double value);

// True when `text` is a number exactly as it prints, so that writing the
// number gives the text back: an integer within 64 bits without sign or
// leading zeros, or with "-" ("-0" excepted); or a finite decimal that is
// the shortest text of its double in the form of Python's repr(): fixed
// notation for decimal exponents from -4 to 15, with ".0" on whole
// numbers ("100.0", "0.0001"), else "1e-05", "1.5e+20".  "007", "+5",
// "1.50", "1E3", "1e5", " 5" and "nan" are texts.
bool kvxinfo_canonical_number(std::string_view text);
