// Reading the pixels of one image through the data file library, with
// kvxinfo's limits and messages.
#include "kvxinfo_image.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "kvxinfo_text.h"
#include "kvxio.h"

namespace {

// A number of the header ("Dummy", "DDummy"): a plain decimal number, read
// as "DataValueOffset" is.  Not an expression: a header value such as
// "5_mm" or "pi" must not mean one thing here and another to a reader in
// another language.
bool read_number(const KvxBlockHeader &header, const char *key, double &value) {
  const std::string *text = kvx_header_value(header, key);
  return text != nullptr && kvx_parse_value_offset(*text, value);
}

std::string named(const KvxBlockHeader &header, const char *key) {
  const std::string *value = kvx_header_value(header, key);
  if (value == nullptr) return "(none)";
  // Appended piece by piece: "\"" + text makes g++ 12 warn (-Wrestrict) at -O3.
  std::string quoted = "\"";
  quoted += kvxinfo_printable(*value);
  quoted += '"';
  return quoted;
}

// Why the library cannot read the layout as numbers; empty when it can.
std::string unreadable(const KvxImageLayout &layout, const KvxBlockHeader &header) {
  if (layout.DataType == InValidDType) return "unknown data type " + named(header, "DataType");
  if (kvx_data_sizeof(layout.DataType) == 0 || layout.DataType > DoubleIEEE64)
    return std::string("data type ") + kvx_datatype2string(layout.DataType) +
           " cannot be shown as numbers";
  if (layout.ByteOrder == InValidBOrder) return "unknown byte order " + named(header, "ByteOrder");
  if (layout.Compression == InValidDCompression)
    return "unknown compression " + named(header, "Compression");
  return {};
}

// Why kvxinfo does not show an image of `layout`; empty when it does.
std::string beyond_limits(const KvxImageLayout &layout) {
  for (size_t n = 2; n < layout.Dim.size(); ++n)
    if (layout.Dim[n] != 1)
      return "Dim_" + std::to_string(n + 1) + " is " + std::to_string(layout.Dim[n]) +
             ": only two-dimensional images can be shown";
  const size_t width = layout.Dim[0], height = layout.Dim.size() > 1 ? layout.Dim[1] : 1;
  if (width < 1 || height < 1) return "the image has no pixels";
  const auto side = static_cast<size_t>(KvxinfoMaxImageSide);
  if (width > side || height > side)
    return "the image is wider or higher than " + std::to_string(KvxinfoMaxImageSide) + " pixels";
  return {};
}

std::string data_problem(int error, const KvxImageLayout &layout, const KvxBlockInfo &block,
                         const KvxinfoFile &kvx, const KvxBlockHeader &header) {
  const std::string file = "the binary file \"" + kvxinfo_printable(block.BinaryFileName) + "\"";
  if (error == ImageTooLarge)
    return "the data array is larger than " + std::to_string(kvx.max_image_bytes()) +
           " bytes (--max-image-bytes raises the limit)";
  if (error == NumberConversionFailed)
    return "DataValueOffset " + named(header, "DataValueOffset") + " is not a decimal number";
  if (error == DataConversionFailed)
    return "a true value (stored value + DataValueOffset) passes the range of its type";
  if (error == BinaryFileOutside)
    return file + " lies outside the directory of the KVX file (--outside-binaries reads it)";
  if (error == NotARegularFile) return file + " is not a regular file";
  if (block.BinaryFileName.find('\0') != std::string::npos)
    return file + " holds a zero byte: refused as an unsafe name";
  const std::string bytes =
      std::to_string(layout.Dim[0] * (layout.Dim.size() > 1 ? layout.Dim[1] : 1) *
                     kvx_data_sizeof(layout.DataType));
  if (error == BadDataBlock)
    return layout.Compression == UnCompressed
               ? "the binary section is shorter than the image's " + bytes + " bytes"
               : "the compressed data are damaged or do not hold the image's " + bytes + " bytes";
  if (error == CouldNotMallocMemory) return "not enough memory";
  return "binary data cannot be read (" + kvxinfo_error_name(error) + ")";
}

// `reserve`: bytes per pixel that the caller needs besides the values,
// counted against the file's limit.
bool read_block(const KvxinfoFile &file, const KvxBlockInfo &block, size_t reserve,
                KvxinfoImage &image, KvxinfoProblem &problem) {
  problem.file = file.name();
  std::string which = "image " + kvxinfo_printable(block.BlockKey);
  if (block.ChainKey != "Image.Psd") which += " (" + kvxinfo_printable(block.ChainKey) + ")";
  which += ": ";
  KvxBlockHeader header;
  KvxImageLayout layout;
  int error = RoutineSucceeded;
  if (!kvx_read_block_header(file.stream(), block, header, &error, nullptr)) {
    problem.what = which + "header cannot be read (" + kvxinfo_error_name(error) + ")";
    problem.status = KvxinfoDamaged;
    return false;
  }
  if (!kvx_read_block_layout(file.stream(), block, layout, &error, nullptr)) {
    problem.what = which + (error == CouldNotReadDimension
                                ? "the dimensions (Dim_1, Dim_2, ...) cannot be read as sizes"
                                : "header cannot be read (" + kvxinfo_error_name(error) + ")");
    return false;
  }
  std::string what = unreadable(layout, header);
  if (what.empty()) what = beyond_limits(layout);
  if (!what.empty()) {
    problem.what = which + what;
    return false;
  }
  // The sides are at most 10^6 each: no overflow.
  const size_t reserved = layout.Dim[0] * (layout.Dim.size() > 1 ? layout.Dim[1] : 1) * reserve;
  KvxPixels pixels;
  KvxPixelRequest request;
  request.MaxArrayBytes = file.max_image_bytes() - std::min(reserved, file.max_image_bytes());
  if (!kvx_read_block_pixels(file.stream(), block, request, pixels, &error, nullptr)) {
    problem.what = which + data_problem(error, layout, block, file, header);
    if (error == ImageTooLarge && reserve > 0)
      problem.what = which + "the data array and its picture take more than " +
                     std::to_string(file.max_image_bytes()) +
                     " bytes (--max-image-bytes raises the limit)";
    if (error == BadDataBlock) problem.status = KvxinfoDamaged;
    return false;
  }
  image = KvxinfoImage{};
  image.width = layout.Dim[0];
  image.height = layout.Dim.size() > 1 ? layout.Dim[1] : 1;
  image.values = std::move(pixels.Values);
  // A dummy that is no number marks no pixel, rather than hiding the image.
  image.has_dummy = read_number(header, "Dummy", image.dummy);
  if (!image.has_dummy || !read_number(header, "DDummy", image.ddummy)) image.ddummy = 0.0;
  image.ddummy = std::fabs(image.ddummy);
  return true;
}

}  // namespace

bool KvxinfoImage::is_dummy(double v) const {
  return !std::isfinite(v) || (has_dummy && std::fabs(v - dummy) <= ddummy);
}

namespace {

bool read_guarded(const KvxinfoFile &file, const KvxBlockInfo &block, size_t reserve,
                  KvxinfoImage &pixels, KvxinfoProblem &problem) {
  try {
    return read_block(file, block, reserve, pixels, problem);
  } catch (const std::bad_alloc &) {
    problem.file = file.name();
    problem.what = "image " + kvxinfo_printable(block.BlockKey) + ": not enough memory";
    return false;
  }
}

}  // namespace

bool kvxinfo_read_block(const KvxinfoFile &file, const KvxBlockInfo &block, KvxinfoImage &pixels,
                        KvxinfoProblem &problem) {
  return read_guarded(file, block, 0, pixels, problem);
}

bool kvxinfo_read_image(const KvxinfoFile &file, long image, KvxinfoImage &pixels,
                        KvxinfoProblem &problem) {
  KvxBlockInfo block;
  // One grey level per pixel.
  return file.find_image(image, block, problem) && read_guarded(file, block, 1, pixels, problem);
}
