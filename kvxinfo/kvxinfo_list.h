// The listing of KVX files: one row per image block under a line naming
// the columns, then a total per file.
//
//   Image  Chain      Dimensions  DataType       ByteOrder      Compression  HeaderPos  ...
//   1      Image.Psd  4x3         UnsignedShort  HighByteFirst  None                 0  ...
//   total: 2 blocks, 17408 bytes
//
// Texts are the header's values as the library decodes them (a missing
// value for a key the header lacks: "-" as text, null in JSON, an empty
// CSV field; "?" where the header cannot be read); numbers are right
// aligned.  The image number is a text as the file writes it ("007" stays
// "007", also in JSON).  Every block is listed, also one whose image number
// an earlier block holds.  The total counts the header and binary bytes of
// the blocks.
// Several files make one table whose first column names the file, and one
// total line per file ("total: a.kvx: 2 blocks, 17408 bytes").  As CSV or
// JSON the rows come alone, without totals.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "kvxinfo_file.h"
#include "kvxinfo_problem.h"
#include "kvxinfo_table.h"

// The listing of one file after the other, printed at the end.
class KvxinfoListing {
 public:
  // `name_files`: a "File" column and file names in the totals.
  KvxinfoListing(bool name_files, KvxinfoFormat format);

  // Adds the blocks of `file`.  Blocks whose header cannot be read are
  // listed with "?" and reported in `problems`.  True when there is nothing
  // to report.  Damage of the file as a whole is kvxinfo_check_damage's.
  bool add(const KvxinfoFile &file, std::vector<KvxinfoProblem> &problems);
  // Prints the table and, as text, the totals on `out`.
  void print(std::FILE *out) const;

 private:
  bool name_files_;
  KvxinfoFormat format_;
  KvxinfoTable table_;
  std::vector<std::string> totals_;
};
