// One row per image block for scripts: chosen header values (--keys) and
// pixel statistics (--stats) of every block of several files.
//
//   File           Image  Chain      ExposureTime  Pixels  Min  Max  Mean     Sum
//   gasdet001.kvx      1  Image.Psd  0.5             2048    0   17  3.51...  7190
//
// A key that a header lacks is a missing value, not an error.  The
// statistics leave out dummy pixels (kvxinfo_image.h); without any other
// pixel, minimum, maximum and mean are missing and the sum is 0.
#pragma once

#include <string>
#include <vector>

#include "kvxinfo_file.h"
#include "kvxinfo_image.h"
#include "kvxinfo_problem.h"
#include "kvxinfo_table.h"

// Pixel statistics of an image, dummy pixels left out.
struct KvxinfoStats {
  size_t pixels = 0;  // pixels that are not dummies
  double min = 0.0, max = 0.0, mean = 0.0, sum = 0.0;
};

KvxinfoStats kvxinfo_stats(const KvxinfoImage &image);

// The keys of --keys that make columns: each once, in the order first
// given, without those that repeat the title of a fixed column (File,
// Image, Chain; with `stats` Pixels, Min, Max, Mean, Sum), which stands for
// them.  No title appears twice, in any format.
std::vector<std::string> kvxinfo_row_keys(const std::vector<std::string> &keys, bool stats);

// The columns: File, Image, Chain, then `keys` (group "keys"), then with
// `stats` Pixels, Min, Max, Mean and Sum (group "stats").
KvxinfoTable kvxinfo_rows_table(const std::vector<std::string> &keys, bool stats,
                                KvxinfoFormat format);

// Adds one row per block of `file` to `table` (made by kvxinfo_rows_table
// with the same `keys` and `stats`).  A header or image that cannot be read
// leaves its values missing and is reported in `problems`.  True when there
// is nothing to report.
bool kvxinfo_rows(const KvxinfoFile &file, const std::vector<std::string> &keys, bool stats,
                  KvxinfoTable &table, std::vector<KvxinfoProblem> &problems);
