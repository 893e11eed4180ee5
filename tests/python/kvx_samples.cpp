// Writes KVX files with the data file library in every data type, byte
// order and compression it writes, plus one file of unusual layout, and
// prints what a reader must find in them as JSON: the blocks and headers as
// the library's own browsing calls report them, and the values written.
//
// Usage: kvx_samples DIR   (writes DIR/types.kvx, DIR/layout.kvx and
// DIR/expected.json)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "kvxio.h"
#include "kvxio_browse.h"

namespace {

// What one written block holds besides its header.
struct Written {
  std::vector<long> dims;  // empty: no data
  int type = 0;
  std::vector<std::string> values;  // as JSON numbers
  bool numbers = true;              // false: the values have no number form here
  std::string dtype;                // numpy's name of the values' type, "u2"
};

std::string json_string(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", c);
      out += code;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string json_double(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// Bytes of `value` in `byte_order`.
template <typename T>
void append(std::vector<unsigned char> &bytes, T value, int byte_order) {
  unsigned char raw[sizeof(T)];
  std::memcpy(raw, &value, sizeof(T));
  if (byte_order != kvx_byteorder())
    for (size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(raw[i], raw[sizeof(T) - 1 - i]);
  bytes.insert(bytes.end(), raw, raw + sizeof(T));
}

// Extreme values first, then a pattern of small numbers that compresses
// well and whose period (100) differs from the row length.
template <typename T>
std::vector<T> integers(size_t count) {
  using limits = std::numeric_limits<T>;
  std::vector<T> values = {limits::min(), limits::max(), 0, 1, static_cast<T>(0x5A)};
  if (limits::is_signed) values.push_back(static_cast<T>(-1));
  for (size_t i = values.size(); i < count; ++i)
    values.push_back(static_cast<T>(static_cast<long>(i * 7 % 100) - (limits::is_signed ? 50 : 0)));
  values.resize(count);
  return values;
}

template <typename T>
std::vector<T> reals(size_t count) {
  using limits = std::numeric_limits<T>;
  std::vector<T> values = {0,
                           -0.0,
                           1.5,
                           -2.25,
                           limits::max(),
                           limits::denorm_min(),
                           limits::infinity(),
                           -limits::infinity(),
                           limits::quiet_NaN()};
  for (size_t i = values.size(); i < count; ++i)
    values.push_back(static_cast<T>(static_cast<double>(i * 7 % 100) * 0.25 - 10));
  values.resize(count);
  return values;
}

template <typename T>
void fill(const std::vector<T> &values, int byte_order, std::vector<unsigned char> &bytes,
          Written &written, bool numbers) {
  written.numbers = numbers;
  written.dtype = (std::is_floating_point_v<T> ? "f"
                   : std::is_signed_v<T>       ? "i"
                                               : "u") +
                  std::to_string(sizeof(T));
  for (T value : values) {
    append(bytes, value, byte_order);
    if (!numbers) continue;
    if constexpr (std::is_floating_point_v<T>)
      written.values.push_back(json_double(static_cast<double>(value)));
    else
      written.values.push_back(std::to_string(value));
  }
}

// The data of `count` values of `type`; values that have no number form
// here (VAX and Convex floats) are written as integer bit patterns.
void make_data(int type, int byte_order, size_t count, std::vector<unsigned char> &bytes,
               Written &written) {
  switch (type) {
    case Unsigned8:
      return fill(integers<uint8_t>(count), byte_order, bytes, written, true);
    case Signed8:
      return fill(integers<int8_t>(count), byte_order, bytes, written, true);
    case Unsigned16:
      return fill(integers<uint16_t>(count), byte_order, bytes, written, true);
    case Signed16:
      return fill(integers<int16_t>(count), byte_order, bytes, written, true);
    case Unsigned32:
      return fill(integers<uint32_t>(count), byte_order, bytes, written, true);
    case Signed32:
      return fill(integers<int32_t>(count), byte_order, bytes, written, true);
    case Unsigned64:
      return fill(integers<uint64_t>(count), byte_order, bytes, written, true);
    case Signed64:
      return fill(integers<int64_t>(count), byte_order, bytes, written, true);
    case FloatIEEE32:
      return fill(reals<float>(count), byte_order, bytes, written, true);
    case DoubleIEEE64:
      return fill(reals<double>(count), byte_order, bytes, written, true);
    case FloatVAX32:
    case FloatConvex32:
      return fill(integers<uint32_t>(count), byte_order, bytes, written, false);
    default:
      return fill(integers<uint64_t>(count), byte_order, bytes, written, false);
  }
}

struct Sample {
  long number;
  int chain;
  std::vector<long> dims;
  int type;
  int byte_order;
  int compression;
  long value_offset;
  long raster;
  std::vector<std::pair<std::string, std::string>> header;
};

bool fail(const char *what, long number, int error) {
  std::fprintf(stderr, "kvx_samples: %s of image %ld failed (error %d)\n", what, number, error);
  return false;
}

bool write_file(const std::string &name, const std::vector<Sample> &samples,
                std::map<std::string, Written> &written) {
  int error = 0;
  const int stream = kvx_open_data_file(name.c_str(), "new", &error, nullptr);
  if (stream < 0) return fail("open", 0, error);
  for (const Sample &s : samples) {
    for (const auto &[key, value] : s.header)
      if (!kvx_write_header_line(stream, s.number, s.chain, key.c_str(), value.c_str(), &error,
                                 nullptr))
        return fail("header", s.number, error);
    if (!kvx_write_header_float(stream, s.number, s.chain, "Float", 0.1F, &error, nullptr) ||
        !kvx_write_header_long(stream, s.number, s.chain, "Long", -42, &error, nullptr))
      return fail("header", s.number, error);
    Written w;
    w.type = s.type;
    std::vector<unsigned char> bytes;
    std::vector<long> dim = {static_cast<long>(s.dims.size())};
    size_t count = 1;
    for (long size : s.dims) {
      dim.push_back(size);
      count *= static_cast<size_t>(size);
    }
    if (!s.dims.empty()) {
      w.dims = s.dims;
      make_data(s.type, s.byte_order, count, bytes, w);
    }
    kvx_set_datacompression(s.compression);
    if (!kvx_write_data_raw(stream, s.number, s.chain, s.dims.empty() ? nullptr : dim.data(),
                            bytes.data(), s.type, s.value_offset, s.byte_order, s.raster, &error,
                            nullptr))
      return fail("data", s.number, error);
    written[std::to_string(s.number) + "/" + std::to_string(s.chain)] = w;
  }
  kvx_set_datacompression(0);
  return kvx_close_data_file(stream, &error, nullptr) == 1 || fail("close", 0, error);
}

std::string json_entries(const std::vector<KvxHeaderEntry> &entries) {
  std::string out = "[";
  for (const KvxHeaderEntry &e : entries)
    out += (out.size() > 1 ? "," : "") + std::string("[") + json_string(e.Key) + "," +
           json_string(e.Value) + "]";
  return out + "]";
}

template <typename T>
std::string json_list(const std::vector<T> &items) {
  std::ostringstream out;
  out << "[";
  for (size_t i = 0; i < items.size(); ++i) out << (i ? "," : "") << items[i];
  out << "]";
  return out.str();
}

// The blocks of `name` as the library lists them, with what was written.
bool describe(const std::string &name, const std::string &file_name,
              const std::map<std::string, Written> &written, std::string &json) {
  int error = 0;
  const int stream = kvx_open_data_file(name.c_str(), "read", &error, nullptr);
  if (stream < 0) return fail("reopen", 0, error);
  std::string blocks, defaults = "[]";
  const int visited = kvx_visit_blocks(
      stream,
      [&](const KvxBlockInfo &b, const KvxBlockHeader *h, int) {
        if (h == nullptr) return false;
        defaults = json_entries(h->Defaults);
        const std::string number = b.BlockKey;
        const int chain = b.ChainKey == "Image.Psd" ? 1 : b.ChainKey == "Image.Error" ? -1 : 2;
        const Written &w = written.at(number + "/" + std::to_string(chain));
        std::ostringstream o;
        o << (blocks.empty() ? "" : ",\n") << "{\"key\":" << json_string(b.BlockKey)
          << ",\"chain\":" << json_string(b.ChainKey) << ",\"header_pos\":" << b.HeaderPos
          << ",\"header_size\":" << b.HeaderSize << ",\"binary_pos\":" << b.BinaryPos
          << ",\"binary_size\":" << b.BinarySize << ",\"header\":" << json_entries(h->Entries)
          << ",\"dims\":" << json_list(w.dims)
          << ",\"type\":" << json_string(kvx_datatype2string(w.type))
          << ",\"dtype\":" << json_string(w.dtype)
          << ",\"values\":" << (w.numbers ? json_list(w.values) : "null") << "}";
        blocks += o.str();
        return true;
      },
      &error, nullptr);
  (void)kvx_close_data_file(stream, nullptr, nullptr);
  if (!visited) return fail("listing", 0, error);
  json += "{\"name\":" + json_string(file_name) + ",\"defaults\":" + defaults + ",\"blocks\":[\n" +
          blocks + "]}";
  return true;
}

// Every data type the library has a size for, in both byte orders and all
// three compressions, 40 x 30 values each.
std::vector<Sample> type_samples() {
  std::vector<Sample> samples;
  long number = 1;
  for (int type = Unsigned8; type < EndDType; ++type) {
    if (kvx_data_sizeof(type) == 0) continue;
    for (int order : {LowByteFirst, HighByteFirst})
      for (int compression : {UnCompressed, GzipCompression, ZCompression}) {
        const std::string title = std::string(kvx_datatype2string(type)) + " " +
                                  ByteOrder2String(order) + " " +
                                  kvx_compression2string(compression);
        samples.push_back(
            {number++, 1, {40, 30}, type, order, compression, 0, 1, {{"Title", title}}});
      }
  }
  return samples;
}

// Other chains, dimensions, value offsets and raster configurations, a
// general block, small headers, broken lines and values that need escapes
// and continuation keys.
std::vector<Sample> layout_samples() {
  std::string long_title;
  for (int i = 0; i < 60; ++i) long_title += "part " + std::to_string(i) + " {a;b} \\ ";
  long_title += "\r\nnext line";
  return {
      {1,
       1,
       {7},
       Signed16,
       LowByteFirst,
       UnCompressed,
       -5,
       2,
       {{"Title", long_title},
        {"Empty", ""},
        {"Spaced", "  padded  "},
        {"Quoted", "\"quoted\""},
        {"Semi", "a;b"}}},
      {-3, -1, {4, 3, 2}, FloatIEEE32, HighByteFirst, GzipCompression, 0, 1, {{"Title", "error"}}},
      {5, 2, {16, 8}, Unsigned8, LowByteFirst, ZCompression, 0, 1, {}},
      {6, 1, {}, Unsigned16, HighByteFirst, UnCompressed, 0, 1, {{"Title", "no data"}}},
      {7, 1, {5, 0}, Unsigned16, LowByteFirst, GzipCompression, 0, 1, {{"Title", "empty"}}},
  };
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: kvx_samples DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  std::map<std::string, Written> types, layout;
  if (!write_file(dir + "/types.kvx", type_samples(), types)) return 1;
  kvx_general_block(1);
  kvx_set_minimumheadersize(512);
  kvx_set_max_line_width(60);
  const bool written = write_file(dir + "/layout.kvx", layout_samples(), layout);
  kvx_reset_settings();
  if (!written) return 1;
  std::string json = "{\"files\":[\n";
  if (!describe(dir + "/types.kvx", "types.kvx", types, json)) return 1;
  json += ",\n";
  if (!describe(dir + "/layout.kvx", "layout.kvx", layout, json)) return 1;
  json += "]}\n";
  std::ofstream(dir + "/expected.json") << json;
  return 0;
}
