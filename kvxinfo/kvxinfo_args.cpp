// The command line of kvxinfo.
#include "kvxinfo_args.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <map>

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

// IMAGE or FIRST:LAST.
bool read_images(const std::string &word, KvxinfoArgs &args) {
  const size_t colon = word.find(':', 1);
  if (colon == std::string::npos) return read_integer(word, args.image);
  args.range = true;
  return read_integer(word.substr(0, colon), args.image) &&
         read_integer(word.substr(colon + 1), args.last) && args.image <= args.last;
}

// A word that getopt would take for options but that is an image number.
bool is_negative_image(const std::string &word) {
  KvxinfoArgs images;
  return word.size() > 1 && word[0] == '-' && read_images(word, images);
}

enum LongOnly : int {
  Keys = 256,
  Stats,
  Format,
  Png,
  Log,
  Version,
  OutsideBinaries,
  Repair,
  MaxImageBytes
};

const option Options[] = {{"help", no_argument, nullptr, 'h'},
                          {"keys", required_argument, nullptr, Keys},
                          {"stats", no_argument, nullptr, Stats},
                          {"format", required_argument, nullptr, Format},
                          {"png", required_argument, nullptr, Png},
                          {"log", no_argument, nullptr, Log},
                          {"version", no_argument, nullptr, Version},
                          {"outside-binaries", no_argument, nullptr, OutsideBinaries},
                          {"repair", no_argument, nullptr, Repair},
                          {"max-image-bytes", required_argument, nullptr, MaxImageBytes},
                          {nullptr, 0, nullptr, 0}};

// True for a word that names a long option whose value follows as the next
// word ("--png", "--for").
bool takes_next_word(const std::string &word) {
  if (word.size() < 3 || !word.starts_with("--") || word.find('=') != std::string::npos)
    return false;
  for (const option &o : Options)
    if (o.name != nullptr && o.has_arg == required_argument &&
        std::string(o.name).starts_with(word.substr(2)))
      return true;
  return false;
}

bool read_keys(const std::string &list, std::vector<std::string> &keys) {
  for (size_t from = 0;;) {
    const size_t comma = list.find(',', from);
    const std::string key = list.substr(from, comma - from);
    if (key.empty()) return false;
    keys.push_back(key);
    if (comma == std::string::npos) return true;
    from = comma + 1;
  }
}

// A whole number of bytes from 1 up, decimal digits only.
bool read_bytes(const std::string &word, size_t &bytes) {
  if (word.empty() || word.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  const unsigned long long value = std::strtoull(word.c_str(), nullptr, 10);
  if (errno != 0 || value == 0 || value > std::numeric_limits<size_t>::max()) return false;
  bytes = static_cast<size_t>(value);
  return true;
}

bool read_format(const std::string &name, KvxinfoFormat &format) {
  const std::map<std::string, KvxinfoFormat> formats = {
      {"text", KvxinfoFormat::Text}, {"csv", KvxinfoFormat::Csv}, {"json", KvxinfoFormat::Json}};
  const auto found = formats.find(name);
  if (found == formats.end()) return false;
  format = found->second;
  return true;
}

// The words as getopt's argument vector.  Each entry points into
// `storage`, so its word is found by its index there.  Negative image
// numbers stand in as "0" so that getopt passes them as operands.
struct ArgVector {
  explicit ArgVector(const std::vector<std::string> &words) : words(words) {
    storage.push_back("kvxinfo");
    for (size_t i = 0; i < words.size(); ++i)
      storage.push_back(is_negative_image(words[i]) && (i == 0 || !takes_next_word(words[i - 1]))
                            ? "0"
                            : words[i]);
    for (std::string &word : storage) argv.push_back(word.data());
    argv.push_back(nullptr);
  }
  // The original word behind an entry of argv.
  const std::string &word(const char *entry) const {
    for (size_t i = 1; i < storage.size(); ++i)
      if (storage[i].data() == entry) return words[i - 1];
    return storage[0];
  }
  int argc() const { return static_cast<int>(argv.size() - 1); }

  const std::vector<std::string> &words;
  std::vector<std::string> storage;
  std::vector<char *> argv;
};

bool check_combination(const KvxinfoArgs &args, bool header, bool png, bool format,
                       std::string &what) {
  const bool rows = !args.keys.empty() || args.stats;
  if (header + png + rows > 1) {
    what = "-k, --png and --keys/--stats cannot be used together";
    return false;
  }
  if (args.log && !png) {
    what = "--log goes with --png";
    return false;
  }
  if (format && (header || png)) {
    what = "--format goes with the listing, --keys and --stats";
    return false;
  }
  return true;
}

bool read_operands(const std::vector<std::string> &operands, KvxinfoArgs &args, std::string &what) {
  const bool one_image = args.action == KvxinfoAction::Header || args.action == KvxinfoAction::Png;
  if (args.action == KvxinfoAction::Repair && operands.size() != 1) {
    what = "give one FILE";
    return false;
  }
  if (one_image ? operands.size() != 2 : operands.empty()) {
    what = one_image ? "give FILE and IMAGE" : "give at least one FILE";
    return false;
  }
  if (!one_image) {
    args.files = operands;
    return true;
  }
  args.files = {operands[0]};
  const bool read = args.action == KvxinfoAction::Png ? read_images(operands[1], args)
                                                      : read_integer(operands[1], args.image);
  if (!read) {
    what = "IMAGE \"" + operands[1] + "\" is not an image number" +
           (args.action == KvxinfoAction::Png ? " or range FIRST:LAST" : "");
    return false;
  }
  if (!args.range) args.last = args.image;
  if (args.range && args.png.find("%d") == std::string::npos) {
    what = "a range of images needs %d in the name of the PNG file";
    return false;
  }
  return true;
}

}  // namespace

const char *kvxinfo_usage() {
  return "Usage: kvxinfo FILE...\n"
         "       kvxinfo --keys K1,K2,... [--stats] [--format FORMAT] FILE...\n"
         "       kvxinfo --stats [--format FORMAT] [--max-image-bytes N] FILE...\n"
         "       kvxinfo -k FILE IMAGE\n"
         "       kvxinfo --png OUT.png [--log] [--outside-binaries] FILE IMAGE|FIRST:LAST\n"
         "       kvxinfo --repair FILE\n"
         "       kvxinfo -h | --help | --version\n"
         "\n"
         "Shows what KVX image files hold.\n"
         "\n"
         "  FILE...         list the image blocks, one line each: image number, chain,\n"
         "                  dimensions, data type, byte order, compression, header\n"
         "                  position, header size and binary size; then the total.\n"
         "                  With several files the first column names the file\n"
         "  --keys K1,...   one row per image: file, image, chain and the values of the\n"
         "                  header keys K1, ... (\"-\" where a header lacks one)\n"
         "  --stats         one row per image: the number of pixels, their minimum,\n"
         "                  maximum, mean and sum of the true values (stored value +\n"
         "                  DataValueOffset), dummy pixels left out\n"
         "  --format FORMAT text (aligned columns, the default), csv or json\n"
         "  -k              print the header of image IMAGE: one \"key = value\" line\n"
         "                  per key in file order, continued values joined\n"
         "  --png OUT.png   write image IMAGE as an 8-bit grey-scale PNG (\"-\": to the\n"
         "                  standard output), scaled from its smallest value (black)\n"
         "                  to its largest (white); pixels equal to the header's Dummy\n"
         "                  value are black.  With a range FIRST:LAST every image of\n"
         "                  it in the file, each to OUT.png with %d replaced by its\n"
         "                  image number.  A symbolic link or any other file that is\n"
         "                  not a regular file is never replaced\n"
         "  --log           with --png: scale logarithmically\n"
         "  --max-image-bytes N\n"
         "                  the largest data array of one image that --stats and\n"
         "                  --png read (default 268435456, 256 MiB)\n"
         "  --outside-binaries\n"
         "                  read data kept in separate binary files wherever their\n"
         "                  names lead; without it only files in the KVX file's\n"
         "                  directory (or below it) are read\n"
         "  --repair        check every block of FILE; when the only damage is a last\n"
         "                  block cut off by the end of the file (a run was killed),\n"
         "                  cut the file back to the last whole block\n"
         "  -h, --help      print this text\n"
         "  --version       print the version\n"
         "\n"
         "IMAGE is an image number of the primary data chain, as listed.  Options take\n"
         "their value as the next word or after \"=\" (--png=OUT.png).\n"
         "\n"
         "Every mode that reads a file reports damage of the file in one line.\n"
         "\n"
         "Exit status: 0 success; 1 a file cannot be read or written, is not a KVX\n"
         "file, or has no such image, or the image cannot be shown; 2 wrong arguments;\n"
         "3 the file is damaged (--repair leaves it); 4 its last block is torn and no\n"
         "run holds it: kvxinfo --repair FILE; 5 a run holds the file.\n";
}

bool kvxinfo_parse_args(const std::vector<std::string> &words, KvxinfoArgs &args,
                        std::string &what) {
  args = KvxinfoArgs{};
  ArgVector vector(words);
  bool header = false, png = false, format = false, repair = false;
  opterr = 0;
  optind = 0;  // a fresh scan, also after an earlier call
  std::vector<std::string> operands;
  // "-": operands come in their order as code 1, whatever POSIXLY_CORRECT
  // says; ":": a missing value is told apart from an unknown option.
  for (int code;
       (code = getopt_long(vector.argc(), vector.argv.data(), "-:hk", Options, nullptr)) != -1;) {
    const std::string &word = vector.word(vector.argv[optind - 1]);
    switch (code) {
      case 1:
        operands.push_back(vector.word(optarg));
        break;
      case 'h':
        args.action = KvxinfoAction::Help;
        return true;
      case Version:
        args.action = KvxinfoAction::Version;
        return true;
      case 'k':
        header = true;
        break;
      case Log:
        args.log = true;
        break;
      case OutsideBinaries:
        args.outside_binaries = true;
        break;
      case Repair:
        repair = true;
        break;
      case Stats:
        args.stats = true;
        break;
      case Png:
        png = true;
        args.png = optarg;
        break;
      case Keys:
        if (!read_keys(optarg, args.keys)) {
          what = "--keys needs header key names separated by commas";
          return false;
        }
        break;
      case MaxImageBytes:
        if (!read_bytes(optarg, args.max_image_bytes)) {
          what = "--max-image-bytes needs a whole number of bytes from 1 up";
          return false;
        }
        break;
      case Format:
        format = true;
        if (!read_format(optarg, args.format)) {
          what = std::string("unknown format \"") + optarg + "\" (text, csv or json)";
          return false;
        }
        break;
      case ':':
        what = optopt == Png ? "--png needs the name of the PNG file" : word + " needs a value";
        return false;
      default:
        if (optopt >= Keys) {
          what = word.substr(0, word.find('=')) + " takes no value";
          return false;
        }
        what = "unknown option " +
               (optopt > 0 && optopt < 256 ? std::string("-") + static_cast<char>(optopt) : word);
        return false;
    }
  }
  if (!check_combination(args, header, png, format, what)) return false;
  if (repair && (header || png || format || args.stats || !args.keys.empty())) {
    what = "--repair goes alone";
    return false;
  }
  args.action = repair                             ? KvxinfoAction::Repair
                : header                           ? KvxinfoAction::Header
                : png                              ? KvxinfoAction::Png
                : args.stats || !args.keys.empty() ? KvxinfoAction::Rows
                                                   : KvxinfoAction::List;
  for (int i = optind; i < vector.argc(); ++i) operands.push_back(vector.word(vector.argv[i]));
  return read_operands(operands, args, what);
}

std::string kvxinfo_png_name(const std::string &pattern, long image) {
  std::string name;
  for (size_t at = 0;;) {
    const size_t mark = pattern.find("%d", at);
    name += pattern.substr(at, mark - at);
    if (mark == std::string::npos) return name;
    name += std::to_string(image);
    at = mark + 2;
  }
}
