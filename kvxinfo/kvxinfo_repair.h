// kvxinfo --repair: a way back after a run that was killed in the middle of
// a block.
//
// Every block of the file is checked under the writer's lock.  When the
// only damage is a torn last block, the file is cut back to the end of the
// last whole block and the report says what was removed:
//
//   run.kvx: removed the incomplete last block, image 12 at position 98304
//   (3072 bytes); 11 whole blocks remain
//
// A whole file is left untouched ("nothing to repair").  Any other damage
// (also an image number that several blocks hold; a last block whose data
// are all there although its size runs past the end of the file), or a
// file that a running conversion holds, is reported and the file is left
// unchanged.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "kvxinfo_problem.h"

// Repairs `name`, reporting on `out` and the problems on `err`.  Returns the
// exit status: KvxinfoOk, KvxinfoDamaged (damaged otherwise), KvxinfoInUse
// (a run holds the writer's lock) or KvxinfoFailed (cannot be read or cut).
[[nodiscard]] int kvxinfo_repair(const std::string &name, std::FILE *out, std::FILE *err);

// "image 12 at position 98304 (3072 bytes)": the torn block found by a
// check.  `image` is empty when its header does not
// name it yet.
std::string kvxinfo_torn_block(const std::string &image, uint64_t pos, uint64_t bytes);
