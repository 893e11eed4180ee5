// The damage checks that every mode reading a file applies, with one
// message per finding and its exit status:
//
//   image 3 appears 2 times                                    3, damaged
//   damaged at position 17408: no block starts here (the 2048
//     bytes from there on are not read)                        3, damaged
//   incomplete last block: image 3 at position 17408 (8292
//     bytes); no run holds the file: kvxinfo --repair cuts it  4, needs repair
//   incomplete last block: ... ; a run is writing it            5, in use
//
// A torn last block is told apart by the writer's lock: a run that holds it
// is still writing; without one the writer was stopped.
#pragma once

#include <string>
#include <vector>

#include "kvxinfo_file.h"
#include "kvxinfo_problem.h"
#include "kvxio_repair.h"

// Adds what is wrong with `file` as a whole (its end, image numbers held
// twice) to `problems`.  Blocks whose header cannot be read are reported by
// whoever reads them.
void kvxinfo_check_damage(const KvxinfoFile &file, std::vector<KvxinfoProblem> &problems);

// "image 3 appears 2 times" (" in chain <c>" outside the primary chain).
std::string kvxinfo_duplicate_text(const KvxDuplicateImage &duplicate);

// "damaged at position <p>: <what>".
std::string kvxinfo_damage_text(const KvxChainCheck &check);

// The message and status of a torn last block of `name`.
KvxinfoProblem kvxinfo_torn_problem(const std::string &name, const KvxChainCheck &check);
