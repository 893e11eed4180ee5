// Prints what the library reads in KVX files, one JSON line per file, in a
// form that the Python package's reading can be compared with
// (tests/python/kvx_differential.py):
//
//   {"refused": E}                             the open failed with error E
//   {"state": "whole"|"torn"|"damaged"|"offgrid",  the block chain
//    "defaults": [[KEY, VALUE], ...],          the general block's entries
//    "blocks": [{"key": K, "chain": C, "pos": [header, binary, size],
//                "header": [[KEY, VALUE], ...] | E,
//                "pixels": {"kind": "int"|"float", "dims": [...],
//                           "crc": N} | E}, ...]}
//
// Keys and values are given as the hex of their bytes; E is the library's
// error value.  Pixels are the true values (the library's default
// reading), as 64-bit integers or as doubles, little-endian, summed up by
// their CRC-32.
//
// Usage: kvx_dump < NAMES   (one file name a line; library messages go to
// standard error)
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>
#include <type_traits>
#include <vector>

#include "kvxio.h"
#include "kvxio_browse.h"
#include "kvxio_pixels.h"
#include "kvxio_repair.h"

namespace {

std::string hex(const std::string &bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out = "\"";
  for (const unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out + "\"";
}

std::string entries(const std::vector<KvxHeaderEntry> &list) {
  std::string out = "[";
  for (const KvxHeaderEntry &e : list) {
    if (out.size() > 1) out += ',';
    out += '[';
    out += hex(e.Key);
    out += ',';
    out += hex(e.Value);
    out += ']';
  }
  return out + "]";
}

template <typename T>
uLong crc_of(const std::vector<T> &values, bool &integer) {
  integer = std::is_integral_v<T>;
  uLong crc = crc32(0L, Z_NULL, 0);
  for (const T v : values) {
    unsigned char bytes[8];
    if constexpr (std::is_floating_point_v<T>) {
      const double d = v;
      std::memcpy(bytes, &d, 8);
    } else {
      // Signed and unsigned 64-bit integers of one value share their bytes.
      const uint64_t u = static_cast<uint64_t>(v);
      for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(u >> (8 * i));
    }
    crc = crc32(crc, bytes, 8);
  }
  return crc;
}

std::string pixels_of(int stream, const KvxBlockInfo &block) {
  KvxPixels pixels;
  int error = RoutineSucceeded;
  if (!kvx_read_block_pixels(stream, block, KvxStoredDataType, pixels, &error, nullptr))
    return std::to_string(error);
  bool integer = true;
  const uLong crc =
      std::visit([&](const auto &values) { return crc_of(values, integer); }, pixels.Values);
  std::string out = integer ? "{\"kind\":\"int\",\"dims\":[" : "{\"kind\":\"float\",\"dims\":[";
  for (size_t i = 0; i < pixels.Layout.Dim.size(); ++i) {
    if (i > 0) out += ',';
    out += std::to_string(pixels.Layout.Dim[i]);
  }
  out += "],\"crc\":";
  out += std::to_string(crc);
  out += '}';
  return out;
}

const char *state_name(const KvxChainCheck &check) {
  // A header off the block grid is damage to a writer, which could not
  // append behind it, but not to a reader.
  if (check.Damage.starts_with("a header ends off the block grid")) return "offgrid";
  switch (check.State) {
    case KvxChainState::Whole:
      return "whole";
    case KvxChainState::TornLastBlock:
      return "torn";
    default:
      return "damaged";
  }
}

std::string dump(const std::string &name) {
  int error = RoutineSucceeded;
  const int stream = kvx_open_data_file(name.c_str(), "read", &error, nullptr);
  if (stream < 0) return "{\"refused\":" + std::to_string(error) + "}";
  std::string blocks, defaults = "[]";
  const int visited = kvx_visit_blocks(
      stream,
      [&](const KvxBlockInfo &b, const KvxBlockHeader *h, int header_error) {
        blocks += blocks.empty() ? "{\"key\":" : ",{\"key\":";
        blocks += hex(b.BlockKey);
        blocks += ",\"chain\":";
        blocks += hex(b.ChainKey);
        blocks += ",\"pos\":[";
        blocks += std::to_string(b.HeaderPos) + ',' + std::to_string(b.BinaryPos) + ',' +
                  std::to_string(b.BinarySize);
        blocks += "],\"header\":";
        if (h == nullptr) {
          blocks += std::to_string(header_error);
        } else {
          defaults = entries(h->Defaults);
          blocks += entries(h->Entries);
          blocks += ",\"pixels\":";
          blocks += pixels_of(stream, b);
        }
        blocks += '}';
        return true;
      },
      &error, nullptr);
  KvxChainCheck check;
  const bool checked = kvx_check_stream_chain(stream, check, nullptr, nullptr) == 1;
  (void)kvx_close_data_file(stream, nullptr, nullptr);
  if (!visited) return "{\"refused\":" + std::to_string(error) + "}";
  std::string out = "{\"state\":\"";
  out += checked ? state_name(check) : "unchecked";
  out += "\",\"defaults\":";
  out += defaults;
  out += ",\"blocks\":[";
  out += blocks;
  out += "]}";
  return out;
}

}  // namespace

int main() {
  std::string name;
  while (std::getline(std::cin, name)) std::cout << dump(name) << '\n';
  std::cout.flush();
  return std::cout ? 0 : 1;
}
