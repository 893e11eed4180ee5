// kvxinfo as a whole: command line in, listing, rows, header or PNGs out, and the
// exit status.
//
// Exit statuses: KvxinfoExit (kvxinfo_problem.h).  Messages go to `err`
// as "kvxinfo: <file>: <what>", one line each.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "kvxinfo_problem.h"

// Runs kvxinfo with the arguments after the program name.
int kvxinfo_run(const std::vector<std::string> &words, std::FILE *out, std::FILE *err);
