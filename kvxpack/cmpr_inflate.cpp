// Block decompression with zlib's inflate, the reverse of cmpr_deflate.
#include <zlib.h>

#include <algorithm>
#include <climits>

#include "cmpr.h"
#include "kvxio.h"

namespace {

// gzip wrapper only (15 + 16), as cmpr_deflate writes it.
constexpr int GzipOnlyWindowBits = 31;
// zlib wrapper with the largest window.
constexpr int ZlibWindowBits = 15;
// zlib counts in unsigned int: larger buffers are fed in pieces.
constexpr size_t MaxPiece = UINT_MAX;

int finish_inflate(int errval, size_t converted, size_t *pconverted, int *perrval) {
  if (pconverted != nullptr) *pconverted = converted;
  if (perrval != nullptr) *perrval = errval;
  return errval == Z_OK ? 0 : -1;
}

}  // namespace

int cmpr_inflate(void *out, size_t outlen, const void *inp, size_t inplen, int cmpr_method,
                 size_t *pconverted, int *perrval) {
  if (out == nullptr) outlen = 0;
  if (inp == nullptr) inplen = 0;
  int window_bits = 0;
  if (cmpr_method == GzipCompression)
    window_bits = GzipOnlyWindowBits;
  else if (cmpr_method == ZCompression)
    window_bits = ZlibWindowBits;
  else
    return finish_inflate(Z_ERRNO, 0, pconverted, perrval);

  z_stream stream{};
  if (int init = inflateInit2(&stream, window_bits); init != Z_OK)
    return finish_inflate(init, 0, pconverted, perrval);

  auto *next_out = static_cast<Bytef *>(out);
  const auto *next_in = static_cast<const Bytef *>(inp);
  size_t out_left = outlen;
  size_t in_left = inplen;
  int code = Z_OK;
  for (;;) {
    const size_t in_piece = std::min(in_left, MaxPiece);
    const size_t out_piece = std::min(out_left, MaxPiece);
    stream.next_in = const_cast<Bytef *>(next_in);
    stream.avail_in = static_cast<uInt>(in_piece);
    stream.next_out = next_out;
    stream.avail_out = static_cast<uInt>(out_piece);
    code = inflate(&stream, Z_NO_FLUSH);
    next_in += in_piece - stream.avail_in;
    in_left -= in_piece - stream.avail_in;
    next_out += out_piece - stream.avail_out;
    out_left -= out_piece - stream.avail_out;
    if (code == Z_STREAM_END || (code != Z_OK && code != Z_BUF_ERROR)) break;
    // No progress possible: either the output is full or the input is used up.
    if (code == Z_BUF_ERROR || (stream.avail_out == 0 && out_left == 0) ||
        (stream.avail_in == 0 && in_left == 0))
      break;
  }
  // A full output with the stream still going means that the stream holds
  // more than the caller expects; one more byte of room tells for sure.
  if (code != Z_STREAM_END && code != Z_MEM_ERROR && out_left == 0) {
    Bytef probe = 0;
    stream.next_out = &probe;
    stream.avail_out = 1;
    const int more = inflate(&stream, Z_NO_FLUSH);
    if (stream.avail_out == 0)
      code = Z_ERRNO;
    else if (more == Z_STREAM_END)
      code = Z_STREAM_END;
  }
  inflateEnd(&stream);
  const size_t converted = outlen - out_left;
  switch (code) {
    case Z_STREAM_END:
      return finish_inflate(Z_OK, converted, pconverted, perrval);
    case Z_ERRNO:
    case Z_MEM_ERROR:
      return finish_inflate(code, converted, pconverted, perrval);
    default:
      return finish_inflate(Z_DATA_ERROR, converted, pconverted, perrval);
  }
}
