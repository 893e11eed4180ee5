// Damage checks shared by every mode that reads a file.
#include "kvxinfo_damage.h"

#include <fcntl.h>
#include <unistd.h>

#include "kvxinfo_repair.h"
#include "kvxinfo_text.h"
#include "kvxio.h"
#include "kvxio_lock.h"
#include "regular_file.h"

namespace {

// True when a run holds the writer's lock on `name`.
bool held_by_a_run(const std::string &name) {
  const int fd = open_regular_file(name.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool held = kvx_writer_lock_held(fd);
  close(fd);
  return held;
}

}  // namespace

std::string kvxinfo_duplicate_text(const KvxDuplicateImage &duplicate) {
  std::string text = "image " + kvxinfo_printable(duplicate.BlockKey);
  if (duplicate.ChainKey != "Image.Psd")
    text += " in chain " + kvxinfo_printable(duplicate.ChainKey);
  return text + " appears " + std::to_string(duplicate.Count) + " times";
}

std::string kvxinfo_damage_text(const KvxChainCheck &check) {
  return "damaged at position " + std::to_string(check.DamagePos) + ": " + check.Damage;
}

KvxinfoProblem kvxinfo_torn_problem(const std::string &name, const KvxChainCheck &check) {
  const std::string torn =
      "incomplete last block: " +
      kvxinfo_torn_block(check.TornBlockKey, check.DamagePos, check.FileSize - check.DamagePos);
  if (held_by_a_run(name)) return {name, torn + "; a run is writing it", KvxinfoInUse};
  return {name, torn + "; no run holds the file: kvxinfo --repair cuts it off", KvxinfoNeedsRepair};
}

void kvxinfo_check_damage(const KvxinfoFile &file, std::vector<KvxinfoProblem> &problems) {
  KvxChainCheck check;
  int error = RoutineSucceeded;
  if (kvx_check_stream_chain(file.stream(), check, &error, nullptr) != 1) {
    problems.push_back({file.name(), "cannot be checked (" + kvxinfo_error_name(error) + ")"});
    return;
  }
  for (const KvxDuplicateImage &duplicate : check.Duplicates)
    problems.push_back({file.name(), kvxinfo_duplicate_text(duplicate), KvxinfoDamaged});
  switch (check.State) {
    case KvxChainState::Whole:
      return;
    case KvxChainState::Damaged:
      problems.push_back({file.name(),
                          kvxinfo_damage_text(check) + " (the " +
                              std::to_string(check.FileSize - check.DamagePos) +
                              " bytes from there on are not read)",
                          KvxinfoDamaged});
      return;
    case KvxChainState::TornLastBlock:
      problems.push_back(kvxinfo_torn_problem(file.name(), check));
      return;
  }
}
