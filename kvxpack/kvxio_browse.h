// kvxio_browse: looking into an open KVX file block by block, for tools
// that show what a file holds: the blocks in the order in which they lie in
// the file, the header of a block with its keys in file order, and the raw
// bytes of a block's binary section.
//
// Calling conventions as in kvxio.h: every call ends with the optional
// out-parameters `pErrorValue` (ErrorValues) and `pstatus` (Success or
// ExternalErrorReport), returns 1 on success and 0 on failure, and throws
// nothing of its own (an exception of a visitor passes through).  Results
// are copies owned by the caller; the library keeps no header in memory on
// their account, so a file of many blocks can be walked with constant
// memory.  The calls read what is on disk: values written in
// this session but not yet written out are not seen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Where a data block lies.
struct KvxBlockInfo {
  std::string ChainKey;  // "Image.Psd" for primary data (chain 1)
  std::string BlockKey;  // the image number, as the file writes it
  uint64_t HeaderPos = 0;
  uint64_t HeaderSize = 0;
  uint64_t BinaryPos = 0;
  uint64_t BinarySize = 0;  // bytes of the binary section, padding included
  // Data kept in a separate file ("KVX_BinaryFileName"): its full name, the
  // position and length of the data in it (length 0 when the header does not
  // say).  Empty name: the data are the binary section of this file.
  std::string BinaryFileName;
  uint64_t BinaryFilePos = 0;
  uint64_t BinaryFileLen = 0;
};

// One header entry: the key as written and the caller's value (quotes and
// escapes undone, the pieces of "key~1", "key~2", ... appended).
struct KvxHeaderEntry {
  std::string Key;
  std::string Value;
};

struct KvxBlockHeader {
  // The block's own entries in file order.  A continuation key that was
  // joined to its base key is not listed on its own.
  std::vector<KvxHeaderEntry> Entries;
  // Entries of the file's general block (without "KVX_" keys); they stand
  // for keys that a block does not hold itself.
  std::vector<KvxHeaderEntry> Defaults;
};

// Calls `visit` for every data block of the file in file order (the general
// block is not visited; an earlier block whose image number a later block
// of its chain holds again is visited too, where it lies) with its header,
// or with a null header and the error value (ReadDataError,
// CouldNotMallocMemory) when the header cannot be read.  The walk stops
// early when `visit` returns false.  Each header is read once and dropped
// after the call, so a walk costs time in proportion to the file and memory
// for one header.  `visit` must not change the file.  Errors: InvalidStream,
// NoFileOpen, CouldNotMallocMemory.
using KvxBlockVisitor =
    std::function<bool(const KvxBlockInfo &block, const KvxBlockHeader *header, int header_error)>;
[[nodiscard]] int kvx_visit_blocks(int stream, const KvxBlockVisitor &visit, int *pErrorValue,
                                   int *pstatus);

// The block of image `DataNumber` in chain `DataChain` ("007" and "7" are the
// same image; of several blocks with that number, the last in the file).
// Errors: CouldNotFindHeader when the file has no such block, InvalidStream,
// NoFileOpen, MissingKeyDefinition.
[[nodiscard]] int kvx_find_block(int stream, long DataNumber, int DataChain, KvxBlockInfo &block,
                                 int *pErrorValue, int *pstatus);

// The header of `block` (as listed or found above).  Errors:
// CouldNotFindHeader (no such block), ReadDataError (the header cannot be
// read), CouldNotMallocMemory, InvalidStream, NoFileOpen.
[[nodiscard]] int kvx_read_block_header(int stream, const KvxBlockInfo &block,
                                        KvxBlockHeader &header, int *pErrorValue, int *pstatus);

// The value of `key` in `header`, found as the library finds keys (without
// regard to case, ignoring spaces and control characters), in the block's
// own entries first, then among the defaults for keys that do not begin
// with "KVX_".  Null when absent; valid while `header` is unchanged.
const std::string *kvx_header_value(const KvxBlockHeader &header, const char *key);

// Bytes of data that the block holds from its data position on: its binary
// section, or what its separate binary file holds there (never more than
// that file's stated length, all of the rest when none is stated).  A
// separate file's name is used exactly as written; one that holds a zero
// byte is never opened.  Errors: CouldNotOpenFile, BinaryFileOutside,
// NotARegularFile (separate binary file, see kvx_set_binary_files_outside),
// ReadDataError, InvalidStream, NoFileOpen.
[[nodiscard]] int kvx_read_block_data_size(int stream, const KvxBlockInfo &block, uint64_t &bytes,
                                           int *pErrorValue, int *pstatus);

// The first `length` bytes of the block's data, read from its binary
// section or its separate binary file.  `length` is checked against what
// the block holds before anything is allocated.  Errors: BadDataBlock
// (`length` beyond the block's data), CouldNotOpenFile, BinaryFileOutside,
// NotARegularFile (separate binary file), ReadDataError,
// CouldNotMallocMemory, InvalidStream, NoFileOpen.
[[nodiscard]] int kvx_read_block_binary(int stream, const KvxBlockInfo &block, size_t length,
                                        std::vector<unsigned char> &bytes, int *pErrorValue,
                                        int *pstatus);

// Hands the first `length` bytes of the block's data to `take` in pieces
// of at most KvxDataPieceBytes, in order; the walk stops early when `take`
// returns false.  Nothing larger than one piece is held, so data of any
// size are read in bounded memory.  `length` is checked against what the
// block holds first.  Errors: those of kvx_read_block_binary.
inline constexpr size_t KvxDataPieceBytes = size_t{1} << 20;
using KvxDataSink = std::function<bool(const unsigned char *bytes, size_t length)>;
[[nodiscard]] int kvx_read_block_pieces(int stream, const KvxBlockInfo &block, uint64_t length,
                                        const KvxDataSink &take, int *pErrorValue, int *pstatus);
