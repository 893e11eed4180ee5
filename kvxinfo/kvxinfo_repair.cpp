// kvxinfo --repair.
#include "kvxinfo_repair.h"

#include "kvxinfo_file.h"
#include "kvxinfo_text.h"
#include "kvxio.h"
#include "kvxio_repair.h"

namespace {

std::string blocks(uint64_t count) {
  return std::to_string(count) + " whole block" + (count == 1 ? "" : "s");
}

}  // namespace

std::string kvxinfo_torn_block(const std::string &image, uint64_t pos, uint64_t bytes) {
  return (image.empty() ? "" : "image " + kvxinfo_printable(image) + " ") + "at position " +
         std::to_string(pos) + " (" + std::to_string(bytes) + " bytes)";
}

bool kvxinfo_repair(const std::string &name, std::FILE *out, KvxinfoProblem &problem) {
  problem.file = name;
  if (std::string why = kvxinfo_unreadable(name); !why.empty()) {
    problem.what = why;
    return false;
  }
  KvxRepair repair;
  int error = RoutineSucceeded;
  const bool ran = kvx_repair_block_chain(name.c_str(), repair, &error, nullptr) == 1;
  const KvxChainCheck &check = repair.Check;
  const std::string torn =
      kvxinfo_torn_block(check.TornBlockKey, check.DamagePos, check.FileSize - check.DamagePos);
  if (!ran) {
    problem.what = error == FileIsNotWritable
                       ? "the incomplete last block, " + torn +
                             ", cannot be removed: the file may not be written"
                       : "cannot be repaired (" + kvxinfo_error_name(error) + ")";
    return false;
  }
  if (repair.InUse) {
    problem.what = "in use by another process (a conversion writing to it?); left unchanged";
    return false;
  }
  const std::string shown = kvxinfo_printable(name);
  switch (check.State) {
    case KvxChainState::Whole:
      std::fprintf(out, "%s: %s; nothing to repair\n", shown.c_str(), blocks(check.Blocks).c_str());
      return true;
    case KvxChainState::TornLastBlock:
      std::fprintf(out, "%s: removed the incomplete last block, %s; %s remain%s\n", shown.c_str(),
                   torn.c_str(), blocks(check.Blocks).c_str(), check.Blocks == 1 ? "s" : "");
      return true;
    case KvxChainState::Damaged:
      break;
  }
  problem.what = "damaged at position " + std::to_string(check.DamagePos) + ": " + check.Damage +
                 "; left unchanged";
  return false;
}
