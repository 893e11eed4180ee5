// kvxinfo --repair.
#include "kvxinfo_repair.h"

#include "kvxinfo_damage.h"
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

int kvxinfo_repair(const std::string &name, std::FILE *out, std::FILE *err) {
  const std::string shown = kvxinfo_printable(name);
  const auto fail = [&](const std::string &what, KvxinfoExit status) {
    std::fprintf(err, "kvxinfo: %s: %s\n", shown.c_str(), what.c_str());
    return status;
  };
  if (std::string why = kvxinfo_unreadable(name); !why.empty()) return fail(why, KvxinfoFailed);
  KvxRepair repair;
  int error = RoutineSucceeded;
  const bool ran = kvx_repair_block_chain(name.c_str(), repair, &error, nullptr) == 1;
  const KvxChainCheck &check = repair.Check;
  const std::string torn =
      kvxinfo_torn_block(check.TornBlockKey, check.DamagePos, check.FileSize - check.DamagePos);
  if (!ran)
    return fail(error == FileIsNotWritable
                    ? "the incomplete last block, " + torn +
                          ", cannot be removed: the file may not be written"
                    : "cannot be repaired (" + kvxinfo_error_name(error) + ")",
                KvxinfoFailed);
  if (repair.InUse)
    return fail("in use by another process (a conversion writing to it?); left unchanged",
                KvxinfoInUse);
  // Damage that a cut does not explain leaves the file as it is, a torn
  // last block included.
  for (const KvxDuplicateImage &duplicate : check.Duplicates)
    fail(kvxinfo_duplicate_text(duplicate), KvxinfoDamaged);
  if (check.State == KvxChainState::Damaged)
    return fail(kvxinfo_damage_text(check) + "; left unchanged", KvxinfoDamaged);
  if (!check.Duplicates.empty())
    return fail("left unchanged: --repair cuts off only a torn last block", KvxinfoDamaged);
  if (check.State == KvxChainState::Whole) {
    std::fprintf(out, "%s: %s; nothing to repair\n", shown.c_str(), blocks(check.Blocks).c_str());
    return KvxinfoOk;
  }
  std::fprintf(out, "%s: removed the incomplete last block, %s; %s remain%s\n", shown.c_str(),
               torn.c_str(), blocks(check.Blocks).c_str(), check.Blocks == 1 ? "s" : "");
  return KvxinfoOk;
}
