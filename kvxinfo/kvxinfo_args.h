// The command line of kvxinfo.
//
//   kvxinfo FILE                              list the image blocks
//   kvxinfo -k FILE IMAGE                     print the header of an image
//   kvxinfo --png OUT.png [--log] FILE IMAGE  write an image as a PNG ("-": standard output)
//   kvxinfo --repair FILE                     cut off a torn last block
//   kvxinfo -h | --help                       print the usage text
//
// Options may stand anywhere before "--"; an argument that reads as a
// negative number is an image number, not an option.
#pragma once

#include <string>
#include <vector>

enum class KvxinfoAction { List, Header, Png, Repair, Help };

struct KvxinfoArgs {
  KvxinfoAction action = KvxinfoAction::List;
  std::string file;
  long image = 0;
  std::string png;  // OUT.png
  bool log = false;
  // Separate binary files may lie anywhere, not only in the KVX file's
  // directory.
  bool outside_binaries = false;
};

// The usage text printed by -h and after a wrong command line.
const char *kvxinfo_usage();

// Reads the arguments after the program name.  False with the reason in
// `what` when they are wrong.
[[nodiscard]] bool kvxinfo_parse_args(const std::vector<std::string> &words, KvxinfoArgs &args,
                                      std::string &what);
