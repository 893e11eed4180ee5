// The command line of kvxinfo.
#include "kvxinfo_args.h"

#include <cerrno>
#include <cstdlib>

namespace {

// A decimal integer, possibly negative, within the range of long: digits
// only, after an optional "-".
bool read_integer(const std::string &word, long &value) {
  const size_t digits = word.starts_with('-') ? 1 : 0;
  if (word.size() == digits || word.find_first_not_of("0123456789", digits) != std::string::npos)
    return false;
  errno = 0;
  value = std::strtol(word.c_str(), nullptr, 10);
  return errno == 0;
}

bool is_option(const std::string &word) {
  long number = 0;
  return word.size() > 1 && word[0] == '-' && !read_integer(word, number);
}

}  // namespace

const char *kvxinfo_usage() {
  return "Usage: kvxinfo FILE\n"
         "       kvxinfo -k FILE IMAGE\n"
         "       kvxinfo --png OUT.png [--log] [--outside-binaries] FILE IMAGE\n"
         "       kvxinfo --repair FILE\n"
         "       kvxinfo -h\n"
         "\n"
         "Shows what a KVX image file holds.\n"
         "\n"
         "  FILE            list the image blocks, one line each: image number, chain,\n"
         "                  dimensions, data type, byte order, compression, header\n"
         "                  position, header size and binary size; then the total\n"
         "  -k              print the header of image IMAGE: one \"key = value\" line\n"
         "                  per key in file order, continued values joined\n"
         "  --png OUT.png   write image IMAGE as an 8-bit grey-scale PNG (\"-\": to the\n"
         "                  standard output), scaled from its smallest value (black)\n"
         "                  to its largest (white); pixels equal to the header's Dummy\n"
         "                  value are black.  A symbolic link or any other file that\n"
         "                  is not a regular file is never replaced\n"
         "  --log           with --png: scale logarithmically\n"
         "  --outside-binaries\n"
         "                  read data kept in separate binary files wherever their\n"
         "                  names lead; without it only files in the KVX file's\n"
         "                  directory (or below it) are read\n"
         "  --repair        check every block of FILE; when the only damage is a last\n"
         "                  block cut off by the end of the file (a run was killed),\n"
         "                  cut the file back to the last whole block\n"
         "  -h, --help      print this text\n"
         "\n"
         "IMAGE is an image number of the primary data chain, as listed.\n"
         "\n"
         "Exit status: 0 success; 1 a file cannot be read or written, is not a KVX\n"
         "file, or has no such image, or the image cannot be shown; 2 wrong arguments.\n";
}

bool kvxinfo_parse_args(const std::vector<std::string> &words, KvxinfoArgs &args,
                        std::string &what) {
  args = KvxinfoArgs{};
  bool header = false, png = false, repair = false, options_end = false;
  std::vector<std::string> operands;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string &word = words[i];
    if (options_end || !is_option(word)) {
      operands.push_back(word);
    } else if (word == "--") {
      options_end = true;
    } else if (word == "-h" || word == "--help") {
      args.action = KvxinfoAction::Help;
      return true;
    } else if (word == "-k") {
      header = true;
    } else if (word == "--log") {
      args.log = true;
    } else if (word == "--outside-binaries") {
      args.outside_binaries = true;
    } else if (word == "--repair") {
      repair = true;
    } else if (word == "--png") {
      if (i + 1 == words.size()) {
        what = "--png needs the name of the PNG file";
        return false;
      }
      png = true;
      args.png = words[++i];
    } else {
      what = "unknown option " + word;
      return false;
    }
  }
  if (header && png) {
    what = "-k and --png cannot be used together";
    return false;
  }
  if (repair && (header || png)) {
    what = "--repair goes alone";
    return false;
  }
  if (args.log && !png) {
    what = "--log goes with --png";
    return false;
  }
  args.action = header   ? KvxinfoAction::Header
                : png    ? KvxinfoAction::Png
                : repair ? KvxinfoAction::Repair
                         : KvxinfoAction::List;
  const size_t wanted =
      args.action == KvxinfoAction::List || args.action == KvxinfoAction::Repair ? 1 : 2;
  if (operands.size() != wanted) {
    what = wanted == 1 ? "give one FILE" : "give FILE and IMAGE";
    return false;
  }
  args.file = operands[0];
  if (wanted == 2 && !read_integer(operands[1], args.image)) {
    what = "IMAGE \"" + operands[1] + "\" is not an image number";
    return false;
  }
  return true;
}
