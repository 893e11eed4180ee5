// The listing of a KVX file: one line per image block under a line naming
// the columns, then a total.
//
//   Image  Chain      Dimensions  DataType       ByteOrder      Compression  HeaderPos  ...
//   1      Image.Psd  4x3         UnsignedShort  HighByteFirst  None                 0  ...
//   total: 2 blocks, 17408 bytes
//
// Texts are the header's values as the library decodes them ("-" for a key
// the header lacks, "?" where the header cannot be read); numbers are right
// aligned.  The total counts the header and binary bytes of the blocks.
#pragma once

#include <cstdio>
#include <vector>

#include "kvxinfo_file.h"
#include "kvxinfo_problem.h"

// Prints the listing of `file` on `out`.  Blocks whose header cannot be read
// are listed with "?" and reported in `problems`, as is a file whose bytes
// after the last block could not be read as blocks.  True when there is
// nothing to report.
bool kvxinfo_list(const KvxinfoFile &file, std::FILE *out, std::vector<KvxinfoProblem> &problems);
