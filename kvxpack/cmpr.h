// cmpr: compression of a whole data buffer in one call, with zlib's deflate,
// in gzip format (GzipCompression) or zlib format (ZCompression).
//
// Error values follow zlib's return codes: -1 the output buffer was too
// short (or the method is unknown), -2 invalid compression level, -3
// incomplete deflate stream, -4 out of memory, -6 zlib version mismatch.
#pragma once

#include <cstddef>

// Compresses `inplen` bytes of `inp` with `cmpr_method` (a DCompression
// code) into `out`, which holds `outlen` bytes.  Returns 0 on success and
// -1 on failure.  `pconverted` receives the number of bytes written (also
// on failure), `perrval` the error value (0 on success); both may be null.
// An absent buffer counts as one of length 0; an empty input succeeds with
// 0 bytes written.  Failures print "cmpr_deflate: <text> (<version>)" on
// the error stream.
[[nodiscard]] int cmpr_deflate(void *out, size_t outlen, const void *inp, size_t inplen,
                               int cmpr_method, size_t *pconverted, int *perrval);

// The text of an error value ("" for values without one).
const char *cmpr_errval2string(int errval);

// "cmpr : V1.2 Ardeny 2011-01-20 -- zlib : <zlib version>"
const char *cmpr_version();

// Switches the trace output of cmpr_deflate (0 off).
void cmpr_debug(int level);

// Inflates the gzip (GzipCompression) or zlib (ZCompression) stream at the
// start of `inp` into `out`, which holds `outlen` bytes; bytes after the end
// of the stream (the padding of a binary section) are ignored.  Never
// writes more than `outlen` bytes, whatever the stream claims.  Returns 0
// when the whole stream was inflated, -1 on failure, with `perrval`: -1 the
// stream holds more than `outlen` bytes (or the method is unknown), -3 the
// stream is damaged or ends early, -4 out of memory.  `pconverted` receives
// the number of bytes written (also on failure).  Both may be null.  Prints
// nothing: the caller knows what the data were.
[[nodiscard]] int cmpr_inflate(void *out, size_t outlen, const void *inp, size_t inplen,
                               int cmpr_method, size_t *pconverted, int *perrval);
