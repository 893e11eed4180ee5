// What went wrong, for the message "kvxinfo: <file>: <what>".
#pragma once

#include <string>

struct KvxinfoProblem {
  std::string file;  // the file the message is about
  std::string what;
};

// The name of a data file library error value ("CouldNotFindHeader").
std::string kvxinfo_error_name(int error_value);
