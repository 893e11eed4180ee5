// What went wrong, for the message "kvxinfo: <file>: <what>", and the exit
// status it leads to.
#pragma once

#include <string>

// Exit statuses of kvxinfo.  With several files, the status of the first
// file that failed.
enum KvxinfoExit : int {
  KvxinfoOk = 0,
  // A file cannot be read or written, is not a KVX file, has no such image,
  // the image cannot be shown, or the standard output failed.
  KvxinfoFailed = 1,
  KvxinfoUsage = 2,  // wrong arguments
  // The file is damaged: bytes that are no block, an unreadable header, bad
  // sizes, an image number held by several blocks.
  KvxinfoDamaged = 3,
  // The last block is torn and no run holds the file: kvxinfo --repair.
  KvxinfoNeedsRepair = 4,
  // A run holds the file: its last block is being written, or --repair
  // cannot take the writer's lock.
  KvxinfoInUse = 5,
};

struct KvxinfoProblem {
  std::string file;  // the file the message is about
  std::string what;
  KvxinfoExit status = KvxinfoFailed;
};

// The name of a data file library error value ("CouldNotFindHeader").
std::string kvxinfo_error_name(int error_value);
