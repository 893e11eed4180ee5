// The data array of a block as numbers: layout from the header, raw bytes
// through kvxio_browse, inflation, byte order and type conversion.
#include "kvxio_pixels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "cmpr.h"
#include "kvxio_internal.h"
#include "numio.h"

namespace {

using kvxio::guarded;
using kvxio::report;

// Deflate codes at best 258 repeated bytes in 2 bits, so a stream never
// inflates to more than 1032 times its size (gzip and zlib wrappers only
// add bytes).  Sizes that promise more cannot be honest.
constexpr uint64_t MaxInflateRatio = 1032;

// An integer expression with nothing but white space after it.
bool read_size(const std::string &text, long &size) {
  int errval = 0;
  const char *tail = nullptr;
  size = num_str2long(text.c_str(), &tail, &errval);
  return errval == 0 && tail != nullptr && tail[std::strspn(tail, " \t\r\n\f\v")] == '\0';
}

int layout_of(const KvxBlockHeader &header, KvxImageLayout &layout) {
  layout = KvxImageLayout{};
  layout.ByteOrder = kvx_byteorder();
  for (int n = 1;; ++n) {
    const std::string *text = kvx_header_value(header, ("Dim_" + std::to_string(n)).c_str());
    if (text == nullptr) break;
    long size = 0;
    if (!read_size(*text, size) || size < 0) return CouldNotReadDimension;
    layout.Dim.push_back(static_cast<size_t>(size));
  }
  if (layout.Dim.empty()) return CouldNotReadDimension;
  if (const std::string *name = kvx_header_value(header, "DataType"))
    layout.DataType = kvx_string2datatype(name->c_str());
  if (const std::string *name = kvx_header_value(header, "ByteOrder"))
    layout.ByteOrder = String2ByteOrder(name->c_str());
  if (const std::string *name = kvx_header_value(header, "Compression"))
    layout.Compression = kvx_string2compression(name->c_str());
  return RoutineSucceeded;
}

int read_layout(int stream, const KvxBlockInfo &block, KvxImageLayout &layout) {
  KvxBlockHeader header;
  int error = RoutineSucceeded;
  if (!kvx_read_block_header(stream, block, header, &error, nullptr)) return error;
  return layout_of(header, layout);
}

bool has_host_type(int type) { return type >= Unsigned8 && type <= DoubleIEEE64; }

bool is_readable(const KvxImageLayout &layout) {
  return has_host_type(layout.DataType) &&
         (layout.ByteOrder == LowByteFirst || layout.ByteOrder == HighByteFirst) &&
         (layout.Compression == UnCompressed || layout.Compression == GzipCompression ||
          layout.Compression == ZCompression);
}

// Bytes of the stored array; false when they pass the range of size_t.
bool array_bytes(const KvxImageLayout &layout, size_t &bytes) {
  bytes = kvx_data_sizeof(layout.DataType);
  for (const size_t size : layout.Dim)
    if (__builtin_mul_overflow(bytes, size, &bytes)) return false;
  return true;
}

int read_compressed(int stream, const KvxBlockInfo &block, const KvxImageLayout &layout,
                    size_t bytes, std::vector<unsigned char> &data) {
  uint64_t stored = 0;
  int error = RoutineSucceeded;
  if (!kvx_read_block_data_size(stream, block, stored, &error, nullptr)) return error;
  if (bytes / MaxInflateRatio > stored || stored > std::numeric_limits<size_t>::max())
    return BadDataBlock;
  std::vector<unsigned char> packed;
  if (!kvx_read_block_binary(stream, block, static_cast<size_t>(stored), packed, &error, nullptr))
    return error;
  data.assign(bytes, 0);
  size_t converted = 0;
  int errval = 0;
  if (cmpr_inflate(data.data(), bytes, packed.data(), packed.size(), layout.Compression, &converted,
                   &errval) != 0)
    return errval == -4 ? CouldNotMallocMemory : BadDataBlock;
  return converted == bytes ? RoutineSucceeded : BadDataBlock;
}

int read_bytes(int stream, const KvxBlockInfo &block, const KvxImageLayout &layout, size_t bytes,
               std::vector<unsigned char> &data) {
  // The writer puts out an empty array without a compressed stream.
  if (bytes == 0) {
    data.clear();
    return RoutineSucceeded;
  }
  if (layout.Compression != UnCompressed)
    return read_compressed(stream, block, layout, bytes, data);
  int error = RoutineSucceeded;
  if (!kvx_read_block_binary(stream, block, bytes, data, &error, nullptr)) return error;
  return RoutineSucceeded;
}

void to_host_order(std::vector<unsigned char> &data, size_t size, int byte_order) {
  if (size < 2 || byte_order == kvx_byteorder()) return;
  for (auto at = data.begin(); data.end() - at >= static_cast<long>(size);
       at += static_cast<long>(size))
    std::reverse(at, at + static_cast<long>(size));
}

// True when `value` converts into To without leaving its range or, for an
// integer To, without losing a fraction.
template <typename To, typename From>
bool holds(From value) {
  if constexpr (std::is_integral_v<To> && std::is_integral_v<From>) {
    return std::in_range<To>(value);
  } else if constexpr (std::is_integral_v<To>) {
    // Both bounds are powers of two and exact in every floating type.
    const From limit = std::ldexp(From{1}, std::numeric_limits<To>::digits);
    const From lowest = std::is_signed_v<To> ? -limit : From{0};
    return value >= lowest && value < limit && std::trunc(value) == value;
  } else if constexpr (std::is_same_v<To, float> && std::is_same_v<From, double>) {
    return !std::isfinite(value) || std::fabs(value) <= std::numeric_limits<float>::max();
  } else {
    return true;
  }
}

template <typename To, typename From>
int convert(const std::vector<unsigned char> &data, KvxPixelValues &values) {
  const size_t count = data.size() / sizeof(From);
  std::vector<To> &out = values.emplace<std::vector<To>>(count);
  for (size_t i = 0; i < count; ++i) {
    From value;
    std::memcpy(&value, data.data() + i * sizeof(From), sizeof value);
    if (!holds<To>(value)) return DataConversionFailed;
    out[i] = static_cast<To>(value);
  }
  return RoutineSucceeded;
}

// The host type of each DType with one, in DType order from Unsigned8.
template <typename Visit>
int with_type(int type, Visit visit) {
  switch (type) {
    case Unsigned8:
      return visit(uint8_t{});
    case Signed8:
      return visit(int8_t{});
    case Unsigned16:
      return visit(uint16_t{});
    case Signed16:
      return visit(int16_t{});
    case Unsigned32:
      return visit(uint32_t{});
    case Signed32:
      return visit(int32_t{});
    case Unsigned64:
      return visit(uint64_t{});
    case Signed64:
      return visit(int64_t{});
    case FloatIEEE32:
      return visit(float{});
    case DoubleIEEE64:
      return visit(double{});
    default:
      return DataConversionFailed;
  }
}

int read_pixels(int stream, const KvxBlockInfo &block, int type, KvxPixels &pixels) {
  if (const int error = read_layout(stream, block, pixels.Layout); error != RoutineSucceeded)
    return error;
  const KvxImageLayout &layout = pixels.Layout;
  if (type == KvxStoredDataType) type = layout.DataType;
  if (!is_readable(layout) || !has_host_type(type)) return DataConversionFailed;
  size_t bytes = 0;
  if (!array_bytes(layout, bytes)) return BadSizeDefinition;
  std::vector<unsigned char> data;
  if (const int error = read_bytes(stream, block, layout, bytes, data); error != RoutineSucceeded)
    return error;
  to_host_order(data, kvx_data_sizeof(layout.DataType), layout.ByteOrder);
  pixels.DataType = type;
  return with_type(layout.DataType, [&](auto from) {
    return with_type(
        type, [&](auto to) { return convert<decltype(to), decltype(from)>(data, pixels.Values); });
  });
}

}  // namespace

size_t KvxImageLayout::count() const {
  size_t product = 1;
  for (const size_t size : Dim)
    if (__builtin_mul_overflow(product, size, &product)) return std::numeric_limits<size_t>::max();
  return product;
}

int kvx_read_block_layout(int stream, const KvxBlockInfo &block, KvxImageLayout &layout,
                          int *pErrorValue, int *pstatus) {
  return report(guarded([&] { return read_layout(stream, block, layout); }), pErrorValue, pstatus);
}

int kvx_read_block_pixels(int stream, const KvxBlockInfo &block, int DataType, KvxPixels &pixels,
                          int *pErrorValue, int *pstatus) {
  return report(guarded([&] { return read_pixels(stream, block, DataType, pixels); }), pErrorValue,
                pstatus);
}
