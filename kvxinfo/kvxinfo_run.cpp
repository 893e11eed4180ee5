// kvxinfo as a whole.
#include "kvxinfo_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <set>

#include "kvxinfo_args.h"
#include "kvxinfo_damage.h"
#include "kvxinfo_file.h"
#include "kvxinfo_header.h"
#include "kvxinfo_image.h"
#include "kvxinfo_list.h"
#include "kvxinfo_png.h"
#include "kvxinfo_repair.h"
#include "kvxinfo_rows.h"
#include "kvxinfo_text.h"
#include "kvxio.h"
#include "report_sink.h"

namespace {

int fail(const KvxinfoProblem &problem, std::FILE *err) {
  // The reason may quote a key or a name read from the file; what it
  // quotes it has escaped already, and escaping again changes nothing.
  std::fprintf(err, "kvxinfo: %s: %s\n", kvxinfo_printable(problem.file).c_str(),
               report_printable(problem.what).c_str());
  return problem.status;
}

// Reports `problems` in order; the status of the first.
int report(const std::vector<KvxinfoProblem> &problems, std::FILE *err) {
  for (const KvxinfoProblem &problem : problems) fail(problem, err);
  return problems.empty() ? KvxinfoOk : problems.front().status;
}

// Opens a file to read with the limits of the command line.
bool open_file(const KvxinfoArgs &args, const std::string &name, KvxinfoFile &file,
               KvxinfoProblem &problem) {
  file.set_max_image_bytes(args.max_image_bytes);
  return file.open(name, problem);
}

// What a mode reported for `file`, then the damage of the file as a whole.
int finish(const KvxinfoFile &file, int status, std::FILE *err) {
  std::vector<KvxinfoProblem> problems;
  kvxinfo_check_damage(file, problems);
  const int damage = report(problems, err);
  return status != KvxinfoOk ? status : damage;
}

int usage_error(const std::string &what, std::FILE *err) {
  std::fprintf(err, "kvxinfo: %s\nTry 'kvxinfo --help' for more information.\n",
               kvxinfo_printable(what).c_str());
  return KvxinfoUsage;
}

// The library's reports with --verbose: already lines, but they quote
// file names and keys.
void show_report(std::string_view text, void *err) {
  const std::string shown = report_printable(text, true);
  std::fwrite(shown.data(), 1, shown.size(), static_cast<std::FILE *>(err));
}

// Listings and rows of every file, one file open at a time (the library
// keeps 20 open at most); files that cannot be read are reported after the
// output of the others.
int tabulate(const KvxinfoArgs &args, std::FILE *out, std::FILE *err) {
  std::vector<KvxinfoProblem> problems;
  KvxinfoListing listing(args.files.size() > 1, args.format);
  const std::vector<std::string> keys = kvxinfo_row_keys(args.keys, args.stats);
  KvxinfoTable rows = kvxinfo_rows_table(keys, args.stats, args.format);
  std::string current;
  bool any = false;
  try {
    for (const std::string &name : args.files) {
      current = name;
      KvxinfoFile file;
      KvxinfoProblem problem;
      if (!open_file(args, name, file, problem)) {
        problems.push_back(problem);
        continue;
      }
      any = true;
      if (args.action == KvxinfoAction::Rows)
        kvxinfo_rows(file, keys, args.stats, rows, problems);
      else
        listing.add(file, problems);
      kvxinfo_check_damage(file, problems);
    }
    if (any) args.action == KvxinfoAction::Rows ? rows.print(out) : listing.print(out);
  } catch (const std::bad_alloc &) {
    problems.push_back({current, "not enough memory"});
  }
  std::fflush(out);
  return report(problems, err);
}

// True when `name` names the open file `file`.
bool same_file(const std::string &name, const KvxinfoFile &file) {
  struct stat named {
  }, open{};
  return stat(name.c_str(), &named) == 0 && fstat(file.descriptor(), &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

int picture(const KvxinfoFile &file, const KvxinfoArgs &args, std::FILE *out, std::FILE *err) {
  KvxinfoProblem problem;
  const bool to_out = args.png == "-";
  // The picture replaces OUT as a whole; it must not replace the data.
  if (!to_out && same_file(args.png, file))
    return fail({args.png, "is the file to show; the picture would replace it"}, err);
  KvxinfoImage image;
  if (!kvxinfo_read_image(file, args.image, image, problem)) return fail(problem, err);
  const auto grey = kvxinfo_grey_levels(image, args.log ? KvxinfoScale::Log : KvxinfoScale::Linear);
  if (to_out) {
    // A failed standard output is reported once, by the caller that checks
    // the stream at the end.
    std::string what;
    if (kvxinfo_put_png(out, image.width, image.height, grey, what)) return KvxinfoOk;
    return std::ferror(out) ? KvxinfoFailed : fail({"standard output", what}, err);
  }
  if (!kvxinfo_write_png(args.png, image.width, image.height, grey, problem))
    return fail(problem, err);
  return KvxinfoOk;
}

// The image numbers of the primary chain from `first` to `last`.
bool images_in_range(const KvxinfoFile &file, long first, long last, std::set<long> &images,
                     KvxinfoProblem &problem) {
  const auto take = [&](const KvxBlockInfo &block, const KvxBlockHeader *, int) {
    char *end = nullptr;
    errno = 0;
    const long number = std::strtol(block.BlockKey.c_str(), &end, 10);
    KvxBlockInfo primary;
    if (errno == 0 && *end == '\0' && number >= first && number <= last &&
        kvx_find_block(file.stream(), number, 1, primary, nullptr, nullptr) &&
        primary.HeaderPos == block.HeaderPos)
      images.insert(number);
    return true;
  };
  int error = RoutineSucceeded;
  if (kvx_visit_blocks(file.stream(), take, &error, nullptr)) return true;
  problem = {file.name(), "blocks cannot be listed (" + kvxinfo_error_name(error) + ")"};
  return false;
}

// One picture, or one per image of the range.
int pictures(const KvxinfoArgs &args, std::FILE *out, std::FILE *err) {
  KvxinfoFile file;
  KvxinfoProblem problem;
  if (!open_file(args, args.files.front(), file, problem)) return fail(problem, err);
  if (!args.range) return finish(file, picture(file, args, out, err), err);
  std::set<long> images;
  if (!images_in_range(file, args.image, args.last, images, problem)) return fail(problem, err);
  if (images.empty())
    return finish(file,
                  fail({file.name(), "no image from " + std::to_string(args.image) + " to " +
                                         std::to_string(args.last)},
                       err),
                  err);
  int status = KvxinfoOk;
  for (const long image : images) {
    KvxinfoArgs one = args;
    one.image = image;
    one.png = kvxinfo_png_name(args.png, image);
    if (const int made = picture(file, one, out, err); status == KvxinfoOk) status = made;
  }
  return finish(file, status, err);
}

}  // namespace

int kvxinfo_run(const std::vector<std::string> &words, std::FILE *out, std::FILE *err) {
  KvxinfoArgs args;
  std::string what;
  if (!kvxinfo_parse_args(words, args, what)) return usage_error(what, err);
  if (args.action == KvxinfoAction::Help) {
    std::fputs(kvxinfo_usage(), out);
    return KvxinfoOk;
  }
  if (args.action == KvxinfoAction::Version) {
    std::fputs("kvxinfo (dld2vexa) " KVXINFO_VERSION "\n", out);
    return KvxinfoOk;
  }
  // Binary picture data would drive the terminal instead of being kept.
  if (args.action == KvxinfoAction::Png && args.png == "-" && isatty(fileno(out)))
    return usage_error("--png -: the standard output is a terminal; redirect it or name a file",
                       err);
  // kvxinfo says in one line what failed; the library's account of a
  // damaged file is detail for those who ask for it.
  const ReportSinkScope reports(args.verbose ? show_report : report_discard, err);
  kvx_set_binary_files_outside(args.outside_binaries ? 1 : 0);
  if (args.action == KvxinfoAction::List || args.action == KvxinfoAction::Rows)
    return tabulate(args, out, err);
  // Headers and pictures grow with the file; running out of memory on a
  // large one is a failure to report, not a reason to abort.
  try {
    if (args.action == KvxinfoAction::Png) return pictures(args, out, err);
    KvxinfoFile file;
    KvxinfoProblem problem;
    if (args.action == KvxinfoAction::Repair) return kvxinfo_repair(args.files.front(), out, err);
    if (!open_file(args, args.files.front(), file, problem)) return fail(problem, err);
    return finish(
        file, kvxinfo_header(file, args.image, out, problem) ? KvxinfoOk : fail(problem, err), err);
  } catch (const std::bad_alloc &) {
    return fail({args.files.front(), "not enough memory"}, err);
  }
}
