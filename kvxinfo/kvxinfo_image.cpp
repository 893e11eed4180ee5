// Reading the pixels of one image.
#include "kvxinfo_image.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cmpr.h"
#include "kvxinfo_text.h"
#include "kvxio.h"
#include "numio.h"

namespace {

// What the header says about the data.
struct Layout {
  size_t width = 0;
  size_t height = 1;
  int type = FloatIEEE32;  // the library's assumption without "DataType"
  int byte_order = 0;
  int compression = UnCompressed;
};

// A "Dim_n" value: an integer expression, as the library reads it.
bool read_size(const std::string &text, long &size) {
  int errval = 0;
  const char *tail = nullptr;
  size = num_str2long(text.c_str(), &tail, &errval);
  return errval == 0 && tail != nullptr && tail[std::strspn(tail, " \t\r\n\f\v")] == '\0';
}

bool read_dimensions(const KvxBlockHeader &header, Layout &layout, std::string &what) {
  std::vector<long> sizes;
  for (int n = 1;; ++n) {
    const std::string key = "Dim_" + std::to_string(n);
    const std::string *text = kvx_header_value(header, key.c_str());
    if (text == nullptr) break;
    long size = 0;
    if (!read_size(*text, size) || size < 1) {
      what = key + " \"" + kvxinfo_printable(*text) + "\" is not a size";
      return false;
    }
    sizes.push_back(size);
  }
  if (sizes.empty()) {
    what = "no Dim_1 in the header";
    return false;
  }
  for (size_t n = 2; n < sizes.size(); ++n)
    if (sizes[n] != 1) {
      what = "Dim_" + std::to_string(n + 1) + " is " + std::to_string(sizes[n]) +
             ": only two-dimensional images can be shown";
      return false;
    }
  const long height = sizes.size() > 1 ? sizes[1] : 1;
  if (sizes[0] > KvxinfoMaxImageSide || height > KvxinfoMaxImageSide) {
    what = "the image is wider or higher than " + std::to_string(KvxinfoMaxImageSide) + " pixels";
    return false;
  }
  layout.width = static_cast<size_t>(sizes[0]);
  layout.height = static_cast<size_t>(height);
  return true;
}

bool is_shown_type(int type) {
  return type == Unsigned8 || type == Signed8 || type == Unsigned16 || type == Signed16 ||
         type == Unsigned32 || type == Signed32 || type == Unsigned64 || type == Signed64 ||
         type == FloatIEEE32 || type == DoubleIEEE64;
}

bool read_codes(const KvxBlockHeader &header, Layout &layout, std::string &what) {
  if (const std::string *name = kvx_header_value(header, "DataType")) {
    layout.type = kvx_string2datatype(name->c_str());
    if (layout.type == InValidDType) {
      what = "unknown data type \"" + kvxinfo_printable(*name) + "\"";
      return false;
    }
  }
  if (!is_shown_type(layout.type)) {
    what = std::string("data type ") + kvx_datatype2string(layout.type) +
           " cannot be shown as numbers";
    return false;
  }
  // Without "ByteOrder" the data are taken as written on this machine.
  layout.byte_order = kvx_byteorder();
  if (const std::string *name = kvx_header_value(header, "ByteOrder")) {
    layout.byte_order = String2ByteOrder(name->c_str());
    if (layout.byte_order != LowByteFirst && layout.byte_order != HighByteFirst) {
      what = "unknown byte order \"" + kvxinfo_printable(*name) + "\"";
      return false;
    }
  }
  if (const std::string *name = kvx_header_value(header, "Compression")) {
    layout.compression = kvx_string2compression(name->c_str());
    if (layout.compression == InValidDCompression) {
      what = "unknown compression \"" + kvxinfo_printable(*name) + "\"";
      return false;
    }
  }
  return true;
}

// A number of the header ("Dummy"), read as a floating-point expression.
bool read_number(const KvxBlockHeader &header, const char *key, double &value, std::string &what) {
  const std::string *text = kvx_header_value(header, key);
  if (text == nullptr) return false;
  int errval = 0;
  const char *tail = nullptr;
  value = num_str2double(text->c_str(), &tail, &errval);
  if (errval != 0 || tail == nullptr || tail[std::strspn(tail, " \t\r\n\f\v")] != '\0') {
    what = std::string(key) + " \"" + kvxinfo_printable(*text) + "\" is not a number";
    return false;
  }
  return true;
}

// Bytes of the data array; false when it passes the limit.
bool array_bytes(const Layout &layout, size_t &bytes) {
  return !__builtin_mul_overflow(layout.width, layout.height, &bytes) &&
         !__builtin_mul_overflow(bytes, kvx_data_sizeof(layout.type), &bytes) &&
         bytes <= KvxinfoMaxImageBytes;
}

// Why the binary data of `block` cannot be read.
std::string unreadable_data(const KvxBlockInfo &block, int error) {
  const std::string file = "the binary file \"" + kvxinfo_printable(block.BinaryFileName) + "\"";
  switch (error) {
    case BinaryFileOutside:
      return file + " lies outside the directory of the KVX file (--outside-binaries reads it)";
    case NotARegularFile:
      return file + " is not a regular file";
    default:
      return "binary data cannot be read (" + kvxinfo_error_name(error) + ")";
  }
}

// Reads the binary data: `bytes` bytes as they are, or inflated into
// exactly `bytes` bytes.
bool read_data(const KvxinfoFile &file, const KvxBlockInfo &block, const Layout &layout,
               size_t bytes, std::vector<unsigned char> &data, std::string &what) {
  int error = RoutineSucceeded;
  if (layout.compression == UnCompressed) {
    if (kvx_read_block_binary(file.stream(), block, bytes, data, &error, nullptr)) return true;
    what = error == BadDataBlock ? "the binary section is shorter than the image's " +
                                       std::to_string(bytes) + " bytes"
                                 : unreadable_data(block, error);
    return false;
  }
  // The stream fills the data section; one that passes the limit would
  // inflate beyond it too.
  uint64_t stored = 0;
  if (!kvx_read_block_data_size(file.stream(), block, stored, &error, nullptr)) {
    what = unreadable_data(block, error);
    return false;
  }
  if (stored > KvxinfoMaxImageBytes) {
    what = "the compressed data are larger than " + std::to_string(KvxinfoMaxImageBytes) + " bytes";
    return false;
  }
  std::vector<unsigned char> packed;
  if (!kvx_read_block_binary(file.stream(), block, static_cast<size_t>(stored), packed, &error,
                             nullptr)) {
    what = unreadable_data(block, error);
    return false;
  }
  data.assign(bytes, 0);
  size_t converted = 0;
  int errval = 0;
  if (cmpr_inflate(data.data(), bytes, packed.data(), packed.size(), layout.compression, &converted,
                   &errval) != 0) {
    what = std::string(errval == -1 ? "the compressed data hold more than the image's "
                                    : "the compressed data are damaged or shorter than the "
                                      "image's ") +
           std::to_string(bytes) + " bytes";
    return false;
  }
  if (converted != bytes) {
    what = "the compressed data hold " + std::to_string(converted) + " of the image's " +
           std::to_string(bytes) + " bytes";
    return false;
  }
  return true;
}

// Turns values of `size` bytes into the host's byte order.
void to_host_order(std::vector<unsigned char> &data, size_t size, int byte_order) {
  if (size < 2 || byte_order == kvx_byteorder()) return;
  for (size_t i = 0; i + size <= data.size(); i += size)
    std::reverse(data.begin() + static_cast<long>(i), data.begin() + static_cast<long>(i + size));
}

template <typename T>
double as_number(const unsigned char *at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return static_cast<double>(value);
}

bool read_image(const KvxinfoFile &file, long image, KvxinfoImage &pixels,
                KvxinfoProblem &problem) {
  KvxBlockInfo block;
  if (!file.find_image(image, block, problem)) return false;
  const std::string which = "image " + std::to_string(image) + ": ";
  KvxBlockHeader header;
  int error = RoutineSucceeded;
  if (!kvx_read_block_header(file.stream(), block, header, &error, nullptr)) {
    problem.what = which + "header cannot be read (" + kvxinfo_error_name(error) + ")";
    return false;
  }
  Layout layout;
  size_t bytes = 0;
  std::string what;
  if (!read_dimensions(header, layout, what) || !read_codes(header, layout, what)) {
    problem.what = which + what;
    return false;
  }
  if (!array_bytes(layout, bytes)) {
    problem.what =
        which + "the data array is larger than " + std::to_string(KvxinfoMaxImageBytes) + " bytes";
    return false;
  }
  pixels = KvxinfoImage{};
  pixels.has_dummy = read_number(header, "Dummy", pixels.dummy, what);
  if (pixels.has_dummy) read_number(header, "DDummy", pixels.ddummy, what);
  if (!what.empty()) {
    problem.what = which + what;
    return false;
  }
  pixels.ddummy = std::fabs(pixels.ddummy);
  if (!read_data(file, block, layout, bytes, pixels.data, what)) {
    problem.what = which + what;
    return false;
  }
  to_host_order(pixels.data, kvx_data_sizeof(layout.type), layout.byte_order);
  pixels.width = layout.width;
  pixels.height = layout.height;
  pixels.type = layout.type;
  return true;
}

}  // namespace

double KvxinfoImage::value(size_t index) const {
  const unsigned char *at = data.data() + index * kvx_data_sizeof(type);
  switch (type) {
    case Unsigned8:
      return as_number<uint8_t>(at);
    case Signed8:
      return as_number<int8_t>(at);
    case Unsigned16:
      return as_number<uint16_t>(at);
    case Signed16:
      return as_number<int16_t>(at);
    case Unsigned32:
      return as_number<uint32_t>(at);
    case Signed32:
      return as_number<int32_t>(at);
    case Unsigned64:
      return as_number<uint64_t>(at);
    case Signed64:
      return as_number<int64_t>(at);
    case FloatIEEE32:
      return as_number<float>(at);
    default:
      return as_number<double>(at);
  }
}

bool KvxinfoImage::is_dummy(double v) const {
  return !std::isfinite(v) || (has_dummy && std::fabs(v - dummy) <= ddummy);
}

bool kvxinfo_read_image(const KvxinfoFile &file, long image, KvxinfoImage &pixels,
                        KvxinfoProblem &problem) {
  try {
    return read_image(file, image, pixels, problem);
  } catch (const std::bad_alloc &) {
    problem.file = file.name();
    problem.what = "image " + std::to_string(image) + ": not enough memory";
    return false;
  }
}
