// Writes one image into a new KVX file with the KVX library, its size taken
// from expressions read by the framework, and reads its dimensions and
// pixels back.
// Usage: consumer FILE.  Exit value 0 when the dimensions and pixels read back
// are the ones written, 1 otherwise.
#include <cstdio>
#include <variant>
#include <vector>

#include <dld2vexa/VexaExpression.h>
#include <dld2vexa/kvxio.h>
#include <dld2vexa/kvxio_pixels.h>

namespace {

int fail(const char *what, int errorValue) {
  std::fprintf(stderr, "consumer: %s failed: %s\n", what, kvx_report_data_error(errorValue));
  return 1;
}

// A size typed as an expression, as the framework reads it from a prompt.
bool readSize(const char *text, long expected, long *size) {
  int status = Success;
  *size = longexpr(text, &status);
  if (status == Success && *size == expected) return true;
  std::fprintf(stderr, "consumer: %s read as %ld with status %d\n", text, *size, status);
  return false;
}

}  // namespace

int main(int argc, char *argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: consumer FILE\n");
    return 1;
  }
  const char *file = argv[1];

  long columns = 0, rows = 0;
  if (!readSize("3*8", 24, &columns) || !readSize("(20)", 20, &rows)) return 1;

  int status = Success;
  int errorValue = 0;
  const int stream = kvx_open_data_file(file, "new", &errorValue, &status);
  if (stream < 0) return fail("kvx_open_data_file new", errorValue);
  const long dim[3] = {2, columns, rows};
  std::vector<unsigned short> pixels(static_cast<size_t>(columns * rows));
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned short>(i);
  if (kvx_write_data_raw(stream, 1, 1, dim, pixels.data(), kvx_string2datatype("UnsignedShort"), 0,
                         kvx_byteorder(), 1, &errorValue, &status) == 0)
    return fail("kvx_write_data_raw", errorValue);
  if (kvx_close_data_file(stream, &errorValue, &status) == 0)
    return fail("kvx_close_data_file", errorValue);

  const int reread = kvx_open_data_file(file, "read", &errorValue, &status);
  if (reread < 0) return fail("kvx_open_data_file read", errorValue);
  long readDim[3] = {2, 0, 0};
  size_t bytes = 0;
  if (kvx_read_data_dimension(reread, 1, 1, readDim, &bytes, &errorValue, &status) == 0 ||
      errorValue != RoutineSucceeded)
    return fail("kvx_read_data_dimension", errorValue);
  // The pixels as numbers, in one call.
  KvxBlockInfo block;
  KvxPixels read;
  if (kvx_find_block(reread, 1, 1, block, &errorValue, &status) == 0 ||
      kvx_read_block_pixels(reread, block, DoubleIEEE64, read, &errorValue, &status) == 0)
    return fail("kvx_read_block_pixels", errorValue);
  kvx_close_data_file(reread, &errorValue, &status);
  if (std::get<std::vector<double>>(read.Values) !=
      std::vector<double>(pixels.begin(), pixels.end())) {
    std::fprintf(stderr, "consumer: the pixels read back differ from those written\n");
    return 1;
  }

  if (readDim[1] != columns || readDim[2] != rows || bytes != pixels.size() * 2) {
    std::fprintf(stderr, "consumer: read back %ld x %ld (%zu bytes), wrote %ld x %ld\n", readDim[1],
                 readDim[2], bytes, columns, rows);
    return 1;
  }
  std::printf("consumer: %ld x %ld image written and read back\n", columns, rows);
  return 0;
}
