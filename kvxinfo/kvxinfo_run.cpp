// kvxinfo as a whole.
#include "kvxinfo_run.h"

#include <sys/stat.h>

#include <new>

#include "kvxinfo_args.h"
#include "kvxinfo_file.h"
#include "kvxinfo_header.h"
#include "kvxinfo_image.h"
#include "kvxinfo_list.h"
#include "kvxinfo_png.h"
#include "kvxinfo_repair.h"
#include "kvxinfo_text.h"
#include "kvxio.h"

namespace {

int fail(const KvxinfoProblem &problem, std::FILE *err) {
  std::fprintf(err, "kvxinfo: %s: %s\n", kvxinfo_printable(problem.file).c_str(),
               problem.what.c_str());
  return KvxinfoFailed;
}

int list(const KvxinfoFile &file, std::FILE *out, std::FILE *err) {
  std::vector<KvxinfoProblem> problems;
  if (kvxinfo_list(file, out, problems)) return KvxinfoOk;
  std::fflush(out);
  for (const KvxinfoProblem &problem : problems) fail(problem, err);
  return KvxinfoFailed;
}

// True when `a` and `b` name the same existing file.
bool same_file(const std::string &a, const std::string &b) {
  struct stat first {
  }, second{};
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

int picture(const KvxinfoFile &file, const KvxinfoArgs &args, std::FILE *out, std::FILE *err) {
  KvxinfoProblem problem;
  const bool to_out = args.png == "-";
  // The picture replaces OUT as a whole; it must not replace the data.
  if (!to_out && same_file(args.png, file.name()))
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

}  // namespace

int kvxinfo_run(const std::vector<std::string> &words, std::FILE *out, std::FILE *err) {
  KvxinfoArgs args;
  std::string what;
  if (!kvxinfo_parse_args(words, args, what)) {
    std::fprintf(err, "kvxinfo: %s\n%s", kvxinfo_printable(what).c_str(), kvxinfo_usage());
    return KvxinfoUsage;
  }
  if (args.action == KvxinfoAction::Help) {
    std::fputs(kvxinfo_usage(), out);
    return KvxinfoOk;
  }
  // Listings, headers and pictures all grow with the file; running out of
  // memory on a large one is a failure to report, not a reason to abort.
  kvx_set_binary_files_outside(args.outside_binaries ? 1 : 0);
  try {
    KvxinfoFile file;
    KvxinfoProblem problem;
    if (args.action == KvxinfoAction::Repair)
      return kvxinfo_repair(args.file, out, problem) ? KvxinfoOk : fail(problem, err);
    if (!file.open(args.file, problem)) return fail(problem, err);
    switch (args.action) {
      case KvxinfoAction::Header:
        return kvxinfo_header(file, args.image, out, problem) ? KvxinfoOk : fail(problem, err);
      case KvxinfoAction::Png:
        return picture(file, args, out, err);
      default:
        return list(file, out, err);
    }
  } catch (const std::bad_alloc &) {
    return fail({args.file, "not enough memory"}, err);
  }
}
