// kvxio_pixels: the data array of a block as numbers.
//
// A block's binary section holds its values as the header describes them:
// "Dim_1", "Dim_2", ... (Dim_1 varies fastest), "DataType" (FloatValue when
// absent), "ByteOrder" (the host's when absent) and "Compression" (None when
// absent).  kvx_read_block_pixels reads the data of a block found with
// kvxio_browse.h, inflates them, puts them into the host's byte order, adds
// the header's "DataValueOffset" and converts them into a host type the
// caller picks, in one call.
//
// Calling conventions as in kvxio.h and kvxio_browse.h: the optional
// out-parameters `pErrorValue` (ErrorValues) and `pstatus` (Success or
// ExternalErrorReport) end every call, which returns 1 on success and 0 on
// failure and throws nothing.  Results are the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
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
  double ValueOffset = 0.0;     // what was added to the stored values
};

// Asks for pixels in the block's own data type (of its true values, see
// KvxPixelRequest).
inline constexpr int KvxStoredDataType = InValidDType;

// Largest data array read by default: 256 MiB.  The sizes come from the
// file, so they are bounded before anything is allocated.
inline constexpr size_t KvxDefaultMaxImageBytes = size_t{256} << 20;

// How kvx_read_block_pixels reads.
struct KvxPixelRequest {
  // A DType with a host type (Unsigned8 to DoubleIEEE64), or
  // KvxStoredDataType: the block's own type, or with a non-zero
  // DataValueOffset Signed64 (integer type and whole offset) or
  // DoubleIEEE64 (otherwise).
  int DataType = KvxStoredDataType;
  // True: the values as stored, "DataValueOffset" not added.
  bool Stored = false;
  // Largest array in bytes, as stored and as returned; larger images are
  // refused before anything is allocated or read.
  size_t MaxArrayBytes = KvxDefaultMaxImageBytes;
};

// Reads the layout of `block` from its header.  The sizes are decimal
// integer expressions, as the writer stores them.  Errors: those of
// kvx_read_block_header; CouldNotReadDimension when the header has no
// "Dim_1" or a size is not an integer of 0 or more.
[[nodiscard]] int kvx_read_block_layout(int stream, const KvxBlockInfo &block,
                                        KvxImageLayout &layout, int *pErrorValue, int *pstatus);

// Reads the data array of `block` as values of `request.DataType`.  True
// values by default: the stored value plus the header's "DataValueOffset"
// (a plain decimal number: optional sign, digits, optional fraction of one
// or more digits, optional exponent, white space around; absent means 0).
// With a whole offset and an integer type, the sum is exact; otherwise it
// is taken in double precision.  The values are converted exactly: into an
// integer type only values that it holds (integers in its range; no
// fraction, no NaN or infinity), into FloatIEEE32 only values within its
// range (NaN and infinities pass, other values are rounded to the nearest
// float); into DoubleIEEE64 every value (64-bit integers beyond 2^53 are
// rounded).  The data are read and inflated piece by piece (gzip or zlib;
// the stream must give exactly the array's bytes, bytes behind it in the
// binary section are ignored), so memory is the array plus about 2 MiB.
// Errors: those of kvx_read_block_layout and kvx_read_block_pieces;
// DataConversionFailed for a data type without a host type (VAX and Convex
// floats) or unknown, an unknown byte order or compression, a requested
// type that is not one of the above, or a value that it cannot hold;
// NumberConversionFailed for a "DataValueOffset" that is not a plain
// decimal number; BadSizeDefinition when the array's bytes pass the range
// of size_t; ImageTooLarge beyond `request.MaxArrayBytes`; BadDataBlock
// when the data are shorter than the array, or compressed data are damaged
// or inflate to more or fewer bytes.  On failure `pixels` is unspecified.
[[nodiscard]] int kvx_read_block_pixels(int stream, const KvxBlockInfo &block,
                                        const KvxPixelRequest &request, KvxPixels &pixels,
                                        int *pErrorValue, int *pstatus);
// The same for true values of `DataType` and the default limit.
[[nodiscard]] int kvx_read_block_pixels(int stream, const KvxBlockInfo &block, int DataType,
                                        KvxPixels &pixels, int *pErrorValue, int *pstatus);

// Reads a "DataValueOffset" text as described above.  False for anything
// else ("inf", "nan", hexadecimal, expressions, a value beyond double).
[[nodiscard]] bool kvx_parse_value_offset(std::string_view text, double &offset);
