// kvxinfo as a whole: command line in, listing, rows, header or PNGs out, and the
// exit status.
//
// Exit statuses: 0 success; 1 a file cannot be read or written, is not a
// KVX file, has no such image, or the image cannot be shown; 2 wrong
// arguments, or "--png -" with a terminal as standard output (the message
// is followed by a hint at --help).  Messages go to `err` as
// "kvxinfo: <file>: <what>", one line per failure; the library's own
// reports are shown only with --verbose.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

enum KvxinfoExit : int {
  KvxinfoOk = 0,
  KvxinfoFailed = 1,
  KvxinfoUsage = 2,
};

// Runs kvxinfo with the arguments after the program name.
int kvxinfo_run(const std::vector<std::string> &words, std::FILE *out, std::FILE *err);
