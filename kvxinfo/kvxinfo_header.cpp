// The header of one image.
#include "kvxinfo_header.h"

#include <string>

#include "kvxinfo_text.h"
#include "kvxio.h"

bool kvxinfo_header(const KvxinfoFile &file, long image, std::FILE *out, KvxinfoProblem &problem) {
  KvxBlockInfo block;
  if (!file.find_image(image, block, problem)) return false;
  KvxBlockHeader header;
  int error = RoutineSucceeded;
  if (!kvx_read_block_header(file.stream(), block, header, &error, nullptr)) {
    problem.what = "image " + std::to_string(image) + ": header cannot be read (" +
                   kvxinfo_error_name(error) + ")";
    return false;
  }
  for (const KvxHeaderEntry &entry : header.Entries)
    std::fprintf(out, "%s = %s\n", kvxinfo_printable(entry.Key).c_str(),
                 kvxinfo_printable(entry.Value).c_str());
  return true;
}
