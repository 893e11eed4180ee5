// Block compression with zlib's deflate.
#include "cmpr.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "kvxio.h"
#include "report_sink.h"

namespace {

// Bytes fed to and taken from deflate per call.
constexpr size_t StepSize = 16384;
// gzip wrapper around a 32 KiB window.
constexpr int GzipWindowBits = 31;
constexpr int MemoryLevel = 8;

int gDebug = 0;

// Sets up `stream` for `method`; returns zlib's code, or Z_ERRNO (-1) for a
// method that is not a compression.
int init_stream(z_stream &stream, int method) {
  if (method == GzipCompression) {
    if (gDebug) {
      std::printf("   gzip: deflateInit2(strm,level,method,windowBits,memLevel,strategy)\n");
      std::printf("         deflateInit2(...,%d,%d,%d,%d,%d)\n", Z_DEFAULT_COMPRESSION, Z_DEFLATED,
                  GzipWindowBits, MemoryLevel, Z_DEFAULT_STRATEGY);
    }
    return deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, GzipWindowBits, MemoryLevel,
                        Z_DEFAULT_STRATEGY);
  }
  if (method == ZCompression) {
    if (gDebug) {
      std::printf("   Z: deflateInit(strm,level)\n");
      std::printf("      deflateInit(...,%d)\n", Z_DEFAULT_COMPRESSION);
    }
    return deflateInit(&stream, Z_DEFAULT_COMPRESSION);
  }
  return Z_ERRNO;
}

int finish(int errval, size_t converted, size_t *pconverted, int *perrval) {
  if (pconverted != nullptr) *pconverted = converted;
  if (perrval != nullptr) *perrval = errval;
  if (errval != Z_OK) {
    report_printf("cmpr_deflate: %s (%s)\n", cmpr_errval2string(errval), cmpr_version());
    if (gDebug) std::printf(" cmpr_deflate END (errval=%d)\n", errval);
    return -1;
  }
  if (gDebug) std::printf(" cmpr_deflate END\n");
  return 0;
}

}  // namespace

int cmpr_deflate(void *out, size_t outlen, const void *inp, size_t inplen, int cmpr_method,
                 size_t *pconverted, int *perrval) {
  if (gDebug) std::printf("\n cmpr_deflate BEGIN\n");
  if (out == nullptr) outlen = 0;
  if (inp == nullptr) inplen = 0;
  if (inplen == 0) return finish(Z_OK, 0, pconverted, perrval);

  z_stream stream{};
  if (int init = init_stream(stream, cmpr_method); init != Z_OK)
    return finish(init, 0, pconverted, perrval);

  auto *next_out = static_cast<Bytef *>(out);
  auto *next_in = static_cast<const Bytef *>(inp);
  size_t out_left = outlen;
  size_t in_left = inplen;
  int code = Z_OK;
  while (in_left > 0 && out_left > 0 && code != Z_STREAM_END) {
    size_t piece = std::min(in_left, StepSize);
    bool last = piece == in_left;
    stream.next_in = const_cast<Bytef *>(next_in);
    stream.avail_in = static_cast<uInt>(piece);
    do {
      size_t window = std::min(out_left, StepSize);
      stream.next_out = next_out;
      stream.avail_out = static_cast<uInt>(window);
      code = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
      size_t produced = window - stream.avail_out;
      next_out += produced;
      out_left -= produced;
      if (code != Z_OK && code != Z_STREAM_END) {
        deflateEnd(&stream);
        return finish(code, outlen - out_left, pconverted, perrval);
      }
    } while (stream.avail_out == 0 && out_left > 0 && code != Z_STREAM_END);
    size_t used = piece - stream.avail_in;
    next_in += used;
    in_left -= used;
  }
  deflateEnd(&stream);
  size_t converted = outlen - out_left;
  if (code == Z_STREAM_END) return finish(Z_OK, converted, pconverted, perrval);
  // With room left the stream should have ended; a full output buffer means
  // that the data did not fit (input or pending output remains).
  if (out_left > 0) {
    report_printf("deflate should report Z_STREAM_END\n");
    return finish(Z_DATA_ERROR, converted, pconverted, perrval);
  }
  if (gDebug) {
    std::printf(" cmpr_deflate: output buffer too short (%lu of %lu bytes used)\n",
                static_cast<unsigned long>(converted), static_cast<unsigned long>(outlen));
    std::printf("              %lu of %lu input bytes unprocessed.\n",
                static_cast<unsigned long>(in_left), static_cast<unsigned long>(inplen));
  }
  return finish(Z_ERRNO, converted, pconverted, perrval);
}

const char *cmpr_errval2string(int errval) {
  switch (errval) {
    case Z_ERRNO:
      return "error reading or writing data buffer";
    case Z_STREAM_ERROR:
      return "invalid compression level";
    case Z_DATA_ERROR:
      return "invalid or incomplete deflate data";
    case Z_MEM_ERROR:
      return "out of memory";
    case Z_VERSION_ERROR:
      return "zlib version mismatch!";
    default:
      return "";
  }
}

const char *cmpr_version() {
  static const std::string text =
      std::string("cmpr : V1.2 Ardeny 2011-01-20 -- zlib : ") + zlibVersion();
  return text.c_str();
}

void cmpr_debug(int level) { gDebug = level; }
