// The command line of kvxinfo.
//
//   kvxinfo [--format F] FILE...                       list the image blocks
//   kvxinfo --keys K1,K2,... [--stats] [--format F] FILE...
//   kvxinfo --stats [--format F] FILE...               one row per image
//   kvxinfo -k FILE IMAGE                              print the header of an image
//   kvxinfo --png OUT.png [--log] FILE IMAGE           write an image as a PNG ("-": standard output)
//   kvxinfo --png OUT-%d.png [--log] FILE FIRST:LAST   write each image of a range
//   kvxinfo --repair FILE                              cut off a torn last block
//   --max-image-bytes N: the largest data array of one image that is read
//   kvxinfo -h | --help, kvxinfo --version
//
// Options are read with getopt_long: they may stand anywhere before "--",
// long options may be abbreviated, and an option's value may follow as the
// next word or after "=" ("--png=OUT.png").  A word that reads as a negative
// number (or a range starting with one) is an image number, not an option.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "kvxinfo_table.h"
#include "kvxio_pixels.h"

enum class KvxinfoAction { List, Header, Png, Rows, Repair, Help, Version };

struct KvxinfoArgs {
  KvxinfoAction action = KvxinfoAction::List;
  std::vector<std::string> files;
  long image = 0;  // the image, or the first of the range
  long last = 0;   // the last image of the range; `image` without one
  bool range = false;
  std::string png;  // OUT.png, a pattern with a range
  bool log = false;
  std::vector<std::string> keys;
  bool stats = false;
  KvxinfoFormat format = KvxinfoFormat::Text;
  // Separate binary files may lie anywhere, not only in the KVX file's
  // directory.
  bool outside_binaries = false;
  // The largest data array of one image that is read (--max-image-bytes).
  size_t max_image_bytes = KvxDefaultMaxImageBytes;
};

// The usage text printed by -h and after a wrong command line.
const char *kvxinfo_usage();

// Reads the arguments after the program name.  False with the reason in
// `what` when they are wrong.
[[nodiscard]] bool kvxinfo_parse_args(const std::vector<std::string> &words, KvxinfoArgs &args,
                                      std::string &what);

// The name of the picture of image `image`: `pattern` with every "%d"
// replaced by the image number.
std::string kvxinfo_png_name(const std::string &pattern, long image);
