// The data array of a block as numbers: layout from the header, raw bytes
// through kvxio_browse in pieces, inflation, byte order, value offset and
// type conversion.
#include "kvxio_pixels.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

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

// What is added to each stored value.
struct Offset {
  bool none = true;     // 0: the values as stored
  bool whole = false;   // an integer within int64_t
  int64_t integer = 0;  // the offset when whole
  double value = 0.0;
};

int read_offset(int stream, const KvxBlockInfo &block, bool stored, Offset &offset) {
  offset = Offset{};
  if (stored) return RoutineSucceeded;
  KvxBlockHeader header;
  int error = RoutineSucceeded;
  if (!kvx_read_block_header(stream, block, header, &error, nullptr)) return error;
  const std::string *text = kvx_header_value(header, "DataValueOffset");
  if (text == nullptr) return RoutineSucceeded;
  if (!kvx_parse_value_offset(*text, offset.value)) return NumberConversionFailed;
  offset.none = offset.value == 0.0;
  // 2^63 is exact as a double; whole numbers below it convert exactly.
  offset.whole = std::trunc(offset.value) == offset.value && std::fabs(offset.value) < 0x1p63;
  if (offset.whole) offset.integer = static_cast<int64_t>(offset.value);
  return RoutineSucceeded;
}

// The true value of `stored` as a To; false when To cannot hold it.
template <typename To, typename From>
bool true_value(From stored, const Offset &offset, To &out) {
  if (offset.none) {
    if (!holds<To>(stored)) return false;
    out = static_cast<To>(stored);
    return true;
  }
  if constexpr (std::is_integral_v<From> && std::is_integral_v<To>)
    if (offset.whole) return !__builtin_add_overflow(stored, offset.integer, &out);
  const double value = static_cast<double>(stored) + offset.value;
  if (!holds<To>(value)) return false;
  out = static_cast<To>(value);
  return true;
}

// Turns stored bytes, arriving in pieces of any size, into values: byte
// order, offset and type, one value after the other.
template <typename To, typename From>
class Converter {
 public:
  Converter(std::vector<To> &out, int byte_order, const Offset &offset)
      : out_(out), swap_(sizeof(From) > 1 && byte_order != kvx_byteorder()), offset_(offset) {}

  // False when a value does not fit, or more bytes come than values.
  bool take(const unsigned char *bytes, size_t length) {
    // A value split between two pieces first, then whole values in place.
    if constexpr (sizeof(From) > 1) {
      while (held_ > 0 && length > 0) {
        carry_[held_++] = *bytes++;
        --length;
        if (held_ < sizeof(From)) continue;
        held_ = 0;
        if (!put(carry_)) return false;
      }
    }
    for (; length >= sizeof(From); bytes += sizeof(From), length -= sizeof(From))
      if (!put(bytes)) return false;
    if constexpr (sizeof(From) > 1) {
      std::memcpy(carry_, bytes, length);
      held_ = length;
    }
    return true;
  }
  bool complete() const { return next_ == out_.size() && held_ == 0; }
  bool failed() const { return failed_; }

 private:
  bool put(const unsigned char *stored) {
    if (next_ == out_.size()) return false;
    unsigned char raw[sizeof(From)];
    std::memcpy(raw, stored, sizeof raw);
    if (swap_) std::reverse(raw, raw + sizeof raw);
    From value;
    std::memcpy(&value, raw, sizeof value);
    failed_ = !true_value(value, offset_, out_[next_++]);
    return !failed_;
  }

  std::vector<To> &out_;
  bool swap_;
  Offset offset_;
  unsigned char carry_[sizeof(From)] = {};
  size_t held_ = 0;
  size_t next_ = 0;
  bool failed_ = false;
};

// Inflates the pieces of a compressed binary section into `sink` a bounded
// piece at a time; stops at the end of the stream, or as soon as it gives
// more than `bytes`.
class Inflater {
 public:
  Inflater(int compression, size_t bytes, const KvxDataSink &sink)
      : bytes_(bytes), sink_(sink), out_(std::min(bytes + 1, KvxDataPieceBytes)) {
    // The gzip wrapper only (15 + 16), as the writer deflates; or zlib's.
    ok_ = inflateInit2(&z_, compression == GzipCompression ? 31 : 15) == Z_OK;
    if (!ok_) error_ = CouldNotMallocMemory;
  }
  ~Inflater() {
    if (ok_) inflateEnd(&z_);
  }
  Inflater(const Inflater &) = delete;
  Inflater &operator=(const Inflater &) = delete;

  // False once nothing more is wanted: the stream ended or failed.
  bool take(const unsigned char *bytes, size_t length) {
    z_.next_in = const_cast<Bytef *>(bytes);
    z_.avail_in = static_cast<uInt>(length);  // pieces are far below 4 GiB
    while (error_ == RoutineSucceeded && !ended_) {
      z_.next_out = out_.data();
      z_.avail_out = static_cast<uInt>(out_.size());
      const int code = inflate(&z_, Z_NO_FLUSH);
      const size_t made = out_.size() - z_.avail_out;
      if (code == Z_MEM_ERROR)
        error_ = CouldNotMallocMemory;
      else if (code != Z_OK && code != Z_STREAM_END && code != Z_BUF_ERROR)
        error_ = BadDataBlock;
      else if (made > bytes_ - given_)  // more than the array
        error_ = BadDataBlock;
      else if (made > 0 && !sink_(out_.data(), made))
        error_ = DataConversionFailed;
      given_ += made;
      ended_ = code == Z_STREAM_END;
      if (z_.avail_in == 0 && z_.avail_out > 0) break;  // all of this piece is in
    }
    return error_ == RoutineSucceeded && !ended_;
  }
  // The outcome once the input is used up or refused.
  int result() const {
    if (error_ != RoutineSucceeded) return error_;
    return ended_ && given_ == bytes_ ? RoutineSucceeded : BadDataBlock;
  }

 private:
  z_stream z_{};
  size_t bytes_;
  const KvxDataSink &sink_;
  std::vector<unsigned char> out_;
  size_t given_ = 0;
  bool ok_ = false;
  bool ended_ = false;
  int error_ = RoutineSucceeded;
};

// Streams the stored bytes of the array of `block` into `sink`: as they
// lie, or inflated from the binary section.
int stream_bytes(int stream, const KvxBlockInfo &block, const KvxImageLayout &layout, size_t bytes,
                 const KvxDataSink &sink) {
  // The writer puts out an empty array without a compressed stream.
  if (bytes == 0) return RoutineSucceeded;
  int error = RoutineSucceeded;
  if (layout.Compression == UnCompressed)
    return kvx_read_block_pieces(stream, block, bytes, sink, &error, nullptr) ? RoutineSucceeded
                                                                              : error;
  uint64_t stored = 0;
  if (!kvx_read_block_data_size(stream, block, stored, &error, nullptr)) return error;
  if (bytes / MaxInflateRatio > stored) return BadDataBlock;
  Inflater inflater(layout.Compression, bytes, sink);
  if (inflater.result() == CouldNotMallocMemory) return CouldNotMallocMemory;
  const KvxDataSink feed = [&](const unsigned char *piece, size_t length) {
    return inflater.take(piece, length);
  };
  if (!kvx_read_block_pieces(stream, block, stored, feed, &error, nullptr)) return error;
  return inflater.result();
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

// The type of the values when the caller leaves it to the block.
int natural_type(const KvxImageLayout &layout, const Offset &offset) {
  if (offset.none) return layout.DataType;
  const bool integer = layout.DataType >= Unsigned8 && layout.DataType <= Signed64;
  return integer && offset.whole ? Signed64 : DoubleIEEE64;
}

int read_pixels(int stream, const KvxBlockInfo &block, const KvxPixelRequest &request,
                KvxPixels &pixels) {
  if (const int error = read_layout(stream, block, pixels.Layout); error != RoutineSucceeded)
    return error;
  const KvxImageLayout &layout = pixels.Layout;
  Offset offset;
  if (const int error = read_offset(stream, block, request.Stored, offset);
      error != RoutineSucceeded)
    return error;
  const int type =
      request.DataType == KvxStoredDataType ? natural_type(layout, offset) : request.DataType;
  if (!is_readable(layout) || !has_host_type(type)) return DataConversionFailed;
  size_t bytes = 0, values = 0;
  if (!array_bytes(layout, bytes) ||
      __builtin_mul_overflow(layout.count(), kvx_data_sizeof(type), &values))
    return BadSizeDefinition;
  if (std::max(bytes, values) > request.MaxArrayBytes) return ImageTooLarge;
  pixels.DataType = type;
  pixels.ValueOffset = offset.value;
  return with_type(layout.DataType, [&](auto from) {
    return with_type(type, [&](auto to) {
      using To = decltype(to);
      std::vector<To> &out = pixels.Values.emplace<std::vector<To>>(layout.count());
      Converter<To, decltype(from)> converter(out, layout.ByteOrder, offset);
      const KvxDataSink sink = [&](const unsigned char *piece, size_t length) {
        return converter.take(piece, length);
      };
      const int error = stream_bytes(stream, block, layout, bytes, sink);
      if (converter.failed()) return static_cast<int>(DataConversionFailed);
      if (error != RoutineSucceeded) return error;
      return converter.complete() ? static_cast<int>(RoutineSucceeded)
                                  : static_cast<int>(BadDataBlock);
    });
  });
}

// Digits from `at` on; their count.
size_t skip_digits(std::string_view text, size_t &at) {
  const size_t from = at;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
  return at - from;
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

int kvx_read_block_pixels(int stream, const KvxBlockInfo &block, const KvxPixelRequest &request,
                          KvxPixels &pixels, int *pErrorValue, int *pstatus) {
  return report(guarded([&] { return read_pixels(stream, block, request, pixels); }), pErrorValue,
                pstatus);
}

int kvx_read_block_pixels(int stream, const KvxBlockInfo &block, int DataType, KvxPixels &pixels,
                          int *pErrorValue, int *pstatus) {
  KvxPixelRequest request;
  request.DataType = DataType;
  return kvx_read_block_pixels(stream, block, request, pixels, pErrorValue, pstatus);
}

bool kvx_parse_value_offset(std::string_view text, double &offset) {
  const auto space = [](char c) { return std::strchr(" \t\r\n\f\v", c) != nullptr && c != '\0'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  if (skip_digits(text, at) == 0) return false;
  if (at < text.size() && text[at] == '.' && (++at, skip_digits(text, at) == 0)) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    if (skip_digits(text, at) == 0) return false;
  }
  if (at != text.size()) return false;
  // from_chars takes no "+" and reads in the C locale.
  if (text.front() == '+') text.remove_prefix(1);
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), offset);
  return failure == std::errc() && end == text.data() + text.size() && std::isfinite(offset);
}
