// kvxio_pixels: the data array of a block as numbers.
//
// A block's binary section holds its values as the header describes them:
// "Dim_1", "Dim_2", ... (Dim_1 varies fastest), "DataType" (FloatValue when
// absent), "ByteOrder" (the host's when absent) and "Compression" (None when
// absent).  kvx_read_block_pixels reads the data of a block found with
// kvxio_browse.h, inflates them, puts them into the host's byte order and
// converts them into a host type the caller picks, in one call.
//
// Calling conventions as in kvxio.h and kvxio_browse.h: the optional
// out-parameters `pErrorValue` (ErrorValues) and `pstatus` (Success or
// ExternalErrorReport) end every call, which returns 1 on success and 0 on
// failure and throws nothing.  Results are the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <variant>
#include <vector>

#include "kvxio.h"
#include "kvxio_browse.h"

// What a header says about its data array.  Codes are InValidDType,
// InValidBOrder or InValidDCompression when the header names something
// unknown.
struct KvxImageLayout {
  std::vector<size_t> Dim;  // "Dim_1", "Dim_2", ...; at least one
  int DataType = FloatIEEE32;
  int ByteOrder = InValidBOrder;
  int Compression = UnCompressed;

  // Number of values: the product of the sizes; the largest size_t when
  // the product passes it.
  size_t count() const;
};

// The values, one vector per host type; the alternative with index n holds
// values of the DType n + 1 (Unsigned8 = uint8_t ... DoubleIEEE64 = double).
using KvxPixelValues =
    std::variant<std::vector<uint8_t>, std::vector<int8_t>, std::vector<uint16_t>,
                 std::vector<int16_t>, std::vector<uint32_t>, std::vector<int32_t>,
                 std::vector<uint64_t>, std::vector<int64_t>, std::vector<float>,
                 std::vector<double>>;

struct KvxPixels {
  KvxImageLayout Layout;        // as stored in the file
  int DataType = InValidDType;  // the DType of `Values`
  KvxPixelValues Values;        // Layout.count() values, Dim_1 fastest
};

// Asks for pixels in the block's own data type.
inline constexpr int KvxStoredDataType = InValidDType;

// Reads the layout of `block` from its header.  The sizes are decimal
// integer expressions, as the writer stores them.  Errors: those of
// kvx_read_block_header; CouldNotReadDimension when the header has no
// "Dim_1" or a size is not an integer of 0 or more.
[[nodiscard]] int kvx_read_block_layout(int stream, const KvxBlockInfo &block,
                                        KvxImageLayout &layout, int *pErrorValue, int *pstatus);

// Reads the data array of `block` as values of `DataType`: a DType with a
// host type (Unsigned8 to DoubleIEEE64), or KvxStoredDataType for the
// block's own type.  The values are converted exactly: into an integer type
// only values that it holds (integers in its range; no fraction, no NaN or
// infinity), into FloatIEEE32 only values within its range (NaN and
// infinities pass, other values are rounded to the nearest float); into
// DoubleIEEE64 every value (64-bit integers beyond 2^53 are rounded).
// Compressed data (gzip or zlib) are inflated and must give exactly the
// array's bytes; bytes behind the data (the padding of the binary section)
// are ignored.
// Errors: those of kvx_read_block_layout and kvx_read_block_binary;
// DataConversionFailed for a data type without a host type (VAX and Convex
// floats) or unknown, an unknown byte order or compression, a `DataType`
// that is not one of the above, or a value that `DataType` cannot hold;
// BadSizeDefinition when the array's bytes pass the range of size_t;
// BadDataBlock when the data are shorter than the array, or compressed data
// are damaged or inflate to more or fewer bytes.  Memory is bounded by what
// the file holds: sizes that promise more data than the block can hold fail
// before the array is allocated.  On failure `pixels` is unspecified.
[[nodiscard]] int kvx_read_block_pixels(int stream, const KvxBlockInfo &block, int DataType,
                                        KvxPixels &pixels, int *pErrorValue, int *pstatus);
