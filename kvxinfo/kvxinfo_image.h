// The pixels of one image, read with the data type, byte order and
// compression its header states.
#pragma once

#include <cstddef>
#include <string>
#include <variant>
#include <vector>

#include "kvxinfo_file.h"
#include "kvxinfo_problem.h"
#include "kvxio_pixels.h"

// Largest width or height: the limit that PNG readers apply by default.
inline constexpr long KvxinfoMaxImageSide = 1000000;

struct KvxinfoImage {
  size_t width = 0;        // "Dim_1"
  size_t height = 0;       // "Dim_2", 1 for one-dimensional data
  KvxPixelValues values;   // width * height true values (stored + DataValueOffset)
  bool has_dummy = false;  // the header has a "Dummy" that is a number
  double dummy = 0.0;
  double ddummy = 0.0;  // "DDummy": how far from "Dummy" a value still is one

  size_t pixels() const { return width * height; }
  // Pixel `index` (row by row) as a number.
  double value(size_t index) const {
    return std::visit([index](const auto &v) { return static_cast<double>(v[index]); }, values);
  }
  // True for a pixel that marks "no data": equal to the dummy value (within
  // the tolerance), or not a finite number.
  bool is_dummy(double value) const;
};

// Reads the image of `block` of `file`.  Messages begin "image <n>: ", with
// the chain named for blocks outside the primary chain.  Fails with a message for missing or bad
// dimensions, more than two dimensions that are not 1, a data type that cannot be shown as a number
// (VAX and Convex floats, unassigned codes) or that is unknown, an unknown byte order or
// compression, data that do not match the dimensions, a DataValueOffset that is not a decimal
// number or true values beyond their type, arrays larger than the file's max_image_bytes() and
// sides beyond the limit above.  "Dummy" and "DDummy" are plain decimal numbers (as
// "DataValueOffset"); a "Dummy" that is none is no dummy, a "DDummy" that is none no tolerance.
[[nodiscard]] bool kvxinfo_read_block(const KvxinfoFile &file, const KvxBlockInfo &block,
                                      KvxinfoImage &pixels, KvxinfoProblem &problem);

// Reads image `image` (chain 1) of `file` for a picture, as above; the
// picture's byte per pixel counts against max_image_bytes() as well, so that
// the values and the grey levels together stay within it.
[[nodiscard]] bool kvxinfo_read_image(const KvxinfoFile &file, long image, KvxinfoImage &pixels,
                                      KvxinfoProblem &problem);
