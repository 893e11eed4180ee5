// Writing images with the data file library, for the tests that need a
// KVX file of known content.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "kvxio.h"
#include "support/KvxHeaderReader.h"

namespace testsupport {

// One image as a test writes it: unsigned 16-bit values, high byte first,
// in chain 1 and without header lines unless the setters say otherwise.
struct KvxTestImage {
  // `dims` = {n, size of each dimension}; `data` holds as many values of
  // the type as the sizes say.
  KvxTestImage(long number, std::vector<long> dims, const void *data)
      : number(number), dims(std::move(dims)), data(data) {}
  KvxTestImage &as(int value_type, int byte_order) {
    type = value_type;
    byteOrder = byte_order;
    return *this;
  }
  KvxTestImage &offset(long value_offset) {
    valueOffset = value_offset;
    return *this;
  }
  KvxTestImage &in_chain(int number_of_chain) {
    chain = number_of_chain;
    return *this;
  }
  KvxTestImage &with(KvxEntries header_lines) {
    keys = std::move(header_lines);
    return *this;
  }

  long number;
  std::vector<long> dims;
  const void *data;
  int type = Unsigned16;
  int byteOrder = HighByteFirst;
  long valueOffset = 0;
  int chain = 1;
  KvxEntries keys;  // written before the data
};

// Writes `image` into the open `stream`: its header lines, then its data.
// False at the first call that fails, whose error value goes to `*error`.
inline bool write_kvx_image(int stream, const KvxTestImage &image, int *error = nullptr) {
  for (const auto &[key, value] : image.keys)
    if (kvx_write_header_line(stream, image.number, image.chain, key.c_str(), value.c_str(), error,
                              nullptr) != 1)
      return false;
  return kvx_write_data_raw(stream, image.number, image.chain, image.dims.data(), image.data,
                            image.type, image.valueOffset, image.byteOrder, 1, error, nullptr) == 1;
}

// Opens `file` as `mode`, writes `images` in turn and closes the file.
// A `compression` from 0 up is set for these images only; -1 leaves the
// setting as it is.  False when a call fails, with its error value in
// `*error`.
inline bool write_kvx_file(const std::string &file, const std::vector<KvxTestImage> &images,
                           const char *mode = "any", int compression = -1, int *error = nullptr) {
  if (compression >= 0) kvx_set_datacompression(compression);
  int failed = RoutineSucceeded;
  const int stream = kvx_open_data_file(file.c_str(), mode, &failed, nullptr);
  bool ok = stream >= 0;
  for (const KvxTestImage &image : images) ok = ok && write_kvx_image(stream, image, &failed);
  int closed = RoutineSucceeded;
  if (stream >= 0 && kvx_close_data_file(stream, &closed, nullptr) != 1 && ok) {
    ok = false;
    failed = closed;
  }
  if (compression >= 0) kvx_set_datacompression(0);
  if (error != nullptr) *error = failed;
  return ok;
}

}  // namespace testsupport
