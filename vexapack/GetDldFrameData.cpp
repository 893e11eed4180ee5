// Frames of the histogramming-memory (HM) file: DataLen * Xsize * Ysize
// bytes each, one after the other, after a 512-byte leading block in files
// of header versions before "2.0".  Offsets are 64-bit: HM files grow beyond
// 2 GiB.
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>
#include <stdexcept>

#include "GetDldFrame.h"
#include "report_sink.h"

namespace {

constexpr std::int64_t kLeadingBlockBeforeV2 = 512;
constexpr std::uint64_t kMaxOffset = std::numeric_limits<off_t>::max();

// Bytes of a frame; false when a factor is below 1 or the product does not
// fit 64 bits.
bool FrameSize(const DldFrameGeometry &geometry, std::uint64_t *size) {
  const int factors[] = {geometry.dataLen, geometry.xsize, geometry.ysize};
  std::uint64_t product = 1;
  for (int factor : factors) {
    if (factor < 1 ||
        __builtin_mul_overflow(product, static_cast<std::uint64_t>(factor), &product)) {
      return false;
    }
  }
  *size = product;
  return true;
}

// Byte offset of the frame; false when it does not fit a file offset.
bool FrameOffset(std::int64_t dataStart, int frameNumber, std::uint64_t size,
                 std::uint64_t *offset) {
  const std::uint64_t framesBefore =
      frameNumber > 1 ? static_cast<std::uint64_t>(frameNumber) - 1 : 0;
  std::uint64_t skipped = 0;
  return !__builtin_mul_overflow(framesBefore, size, &skipped) &&
         !__builtin_add_overflow(skipped, static_cast<std::uint64_t>(dataStart), offset) &&
         *offset <= kMaxOffset && size <= kMaxOffset - *offset;
}

// A frame that ends beyond the end of a regular file cannot be read whole:
// knowing that before allocating keeps a header with an absurd geometry from
// claiming gigabytes for a small HM file.  Other files (pipes, devices, streams
// without a descriptor) have no size to compare with.
bool EndsBeyondFile(FILE *stream, std::uint64_t offset, std::uint64_t size) {
  struct stat info {};
  const int fd = fileno(stream);
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  return offset + size > static_cast<std::uint64_t>(info.st_size);
}

// Reads the frame at `offset` straight into `buffer`: one positioned read,
// repeated only when the system hands out less.  A descriptor that cannot be
// positioned (a pipe) fails as a stream that cannot be.  Streams without a
// file descriptor are positioned and read instead.
int ReadAt(FILE *stream, std::uint64_t offset, unsigned char *buffer, std::uint64_t size) {
  const int fd = fileno(stream);
  if (fd < 0) {
    if (fseeko(stream, static_cast<off_t>(offset), SEEK_SET) != 0) return DldPositionFailed;
    return std::fread(buffer, 1, size, stream) == size ? DldSuccess : DldShortRead;
  }
  std::uint64_t got = 0;
  while (got < size) {
    const ssize_t n = pread(fd, buffer + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == ESPIPE) return DldPositionFailed;
    if (n <= 0) break;
    got += static_cast<std::uint64_t>(n);
  }
  return got == size ? DldSuccess : DldShortRead;
}

// The frames of a run have one size: once the buffer has it, a frame is one
// positioned read and nothing else.  A file that has become shorter than the
// frame then shows as a short read, with the same result as the size check.
bool ReadsInPlace(FILE *stream, std::uint64_t size, const std::vector<unsigned char> &start) {
  return fileno(stream) >= 0 && start.size() == size;
}

// A frame buffer of megabytes is copied into and out of by the kernel for
// every frame: backed by huge pages where the system gives them on request,
// it costs fewer page faults and address translations (5 % of the time of
// converting frames of 4 MiB), and its pages are made present in one call
// rather than by a fault each when it is first filled.  Asked for before
// the buffer is first touched; a system without either ignores the request.
void PrepareFrameBuffer(std::vector<unsigned char> *start, std::uint64_t size) {
  constexpr std::uint64_t kHugePage = 2 * 1024 * 1024;
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (size < kHugePage || pageSize <= 0) return;
  const auto page = static_cast<std::uintptr_t>(pageSize);
  const auto begin = reinterpret_cast<std::uintptr_t>(start->data());
  const std::uintptr_t first = (begin + page - 1) / page * page;
  const std::uintptr_t end = (begin + size) / page * page;
  if (end <= first) return;
  (void)madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
  (void)madvise(reinterpret_cast<void *>(first), end - first, MADV_POPULATE_WRITE);
}

int ReadFrame(FILE *stream, std::int64_t dataStart, int frameNumber,
              const DldFrameGeometry &geometry, std::vector<unsigned char> *start) {
  if (stream == nullptr) return DldNoStream;
  std::uint64_t size = 0;
  std::uint64_t offset = 0;
  if (FrameSize(geometry, &size) && FrameOffset(dataStart, frameNumber, size, &offset) &&
      ReadsInPlace(stream, size, *start)) {
    return ReadAt(stream, offset, start->data(), size);
  }
  if (fseeko(stream, static_cast<off_t>(dataStart), SEEK_SET) != 0) return DldPositionFailed;
  if (!FrameSize(geometry, &size)) {
    std::printf("BAD SIZE : (Header %s) DataLen * Xsize * Ysize<=0\n",
                report_printable(DldVersion()).c_str());
    return DldRejected;
  }
  // A frame that no file offset can reach is refused before its buffer is allocated.
  if (!FrameOffset(dataStart, frameNumber, size, &offset)) return DldPositionFailed;
  if (EndsBeyondFile(stream, offset, size)) return DldShortRead;
  try {
    if (start->capacity() < size) {
      start->clear();
      start->reserve(size);
      PrepareFrameBuffer(start, size);
    }
    start->resize(size);
  } catch (const std::bad_alloc &) {
    return DldAllocationFailed;
  } catch (const std::length_error &) {
    return DldAllocationFailed;
  }
  return ReadAt(stream, offset, start->data(), size);
}

}  // namespace

int ReadDldData(FILE *stream, int FrameNumber, const DldFrameGeometry &geometry,
                std::vector<unsigned char> *Start) {
  return ReadFrame(stream, 0, FrameNumber, geometry, Start);
}

int ReadDldDataV1(FILE *stream, int FrameNumber, const DldFrameGeometry &geometry,
                  std::vector<unsigned char> *Start) {
  return ReadFrame(stream, kLeadingBlockBeforeV2, FrameNumber, geometry, Start);
}

int ReadDldData(FILE *stream, int FrameNumber, std::vector<unsigned char> *Start) {
  return ReadDldData(stream, FrameNumber, DldGeometry(), Start);
}

int ReadDldDataV1(FILE *stream, int FrameNumber, std::vector<unsigned char> *Start) {
  return ReadDldDataV1(stream, FrameNumber, DldGeometry(), Start);
}
