// kvxio_repair: checking the block chain of a KVX file and cutting off a
// last block that an interrupted writer left incomplete.
//
// A writer appends a block as its header followed by its binary section.
// When the writer is killed (or the machine stops) in the middle of a block,
// the file ends with a torn block: the start of a header without its end, or
// a whole header whose binary section runs past the end of the file.  Such a
// file cannot be appended to, because the next block would follow the torn
// one and could not be found again.  Cutting the file back to the end of the
// last whole block makes it appendable again; the blocks before the cut keep
// every byte.
//
// Any other damage (bytes that do not start a block, a broken header before
// the last block, a header that ends off the block grid) cannot be told from
// data that matter, so it is reported and never cut.
//
// Calling conventions as in kvxio.h: the optional out-parameters
// `pErrorValue` (ErrorValues) and `pstatus` (Success or ExternalErrorReport)
// come last; the calls return 1 on success and 0 on failure.  The library's
// usual warnings about a damaged file are printed on the error stream while
// the file is walked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class KvxChainState {
  Whole,          // the file ends with a whole block (or holds none)
  TornLastBlock,  // only the last block is incomplete, cut off by the end of the file
  Damaged,        // damage that a cut would not mend
};

// An image number that more than one block of a chain holds.  Readers
// list every such block; a search by number finds the last.
struct KvxDuplicateImage {
  std::string ChainKey;
  std::string BlockKey;   // as the first of the blocks writes it
  uint64_t Count = 0;     // blocks holding it
  uint64_t FirstPos = 0;  // header position of the first of them
};

struct KvxChainCheck {
  KvxChainState State = KvxChainState::Whole;
  uint64_t Blocks = 0;     // whole blocks before the end or the damage
  uint64_t WholeEnd = 0;   // end of the last whole block: where a cut goes
  uint64_t FileSize = 0;   // bytes of the file when it was checked
  uint64_t DamagePos = 0;  // start of the torn block, or where the damage is
  // The image number (block key) of the torn block, when its header has
  // come that far; else empty.
  std::string TornBlockKey;
  // What is wrong at DamagePos (Damaged only).
  std::string Damage;
  // Image numbers held by more than one whole block, in the order of their
  // first block.  Damage of its own, whatever the state of the end.
  std::vector<KvxDuplicateImage> Duplicates;
};

// Walks the blocks of `fname` without changing it.  Readers do not lock: a
// file that a writer is filling shows its whole blocks and a torn last
// block.  Errors: CouldNotOpenFile (also for a file that is not a regular
// file), ReadDataError, CouldNotMallocMemory.
[[nodiscard]] int kvx_check_block_chain(const char *fname, KvxChainCheck &check, int *pErrorValue,
                                        int *pstatus);

// The same check for a file opened with kvx_open_data_file for reading
// (mode "read"), from where the open's walk stopped; the blocks are not
// walked again.  As a reader sees it: a header that ends off the block grid
// (which a writer must not append behind) is no damage here.  Errors: InvalidStream, NoFileOpen,
// ReadDataError, CouldNotMallocMemory.
[[nodiscard]] int kvx_check_stream_chain(int stream, KvxChainCheck &check, int *pErrorValue,
                                         int *pstatus);

struct KvxRepair {
  KvxChainCheck Check;  // the state found under the lock
  bool InUse = false;   // another process holds the writer's lock: nothing was checked
  bool Cut = false;     // the torn last block was removed
};

// Checks `fname` under the writer's lock (an open-file-description lock
// over the whole file, taken without waiting) and, when the only damage is
// a torn last block (no other damage, no image number held twice), cuts the file back to the end of
// the last whole block and flushes it to the disk.  A whole or otherwise damaged file is left
// untouched, and so is a file whose lock another process holds (a running
// conversion).  A whole file may be read only; a cut needs write permission.
// Errors: CouldNotOpenFile (also for a file that is not a regular file),
// FileIsNotWritable (a torn block in a file that may not be written),
// ReadDataError, WriteDataError (the cut or its flush failed),
// CouldNotMallocMemory.
[[nodiscard]] int kvx_repair_block_chain(const char *fname, KvxRepair &repair, int *pErrorValue,
                                         int *pstatus);
