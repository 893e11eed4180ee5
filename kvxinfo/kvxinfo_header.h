// The header of one image: "key = value" per line, keys in file order,
// values decoded with their continuation keys joined.
#pragma once

#include <cstdio>

#include "kvxinfo_file.h"
#include "kvxinfo_problem.h"

// Prints the header of image `image` (chain 1) of `file` on `out`.  Line
// breaks and other control characters inside a value are shown escaped
// ("\n"), so that every key keeps one line.
[[nodiscard]] bool kvxinfo_header(const KvxinfoFile &file, long image, std::FILE *out,
                                  KvxinfoProblem &problem);
