// Data types, byte orders, compressions and host types: codes, names,
// sizes and the mapping between stored and host types.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kvxio_internal.h"

namespace {

struct DTypeEntry {
  const char *Name;    // written into headers
  const char *Alias1;  // accepted on input
  const char *Alias2;
  size_t Size;  // bytes of one value
};

constexpr std::array<DTypeEntry, EndDType> kDTypes = {{
    {"Invalid", "Invalid", "Invalid", 0},
    {"UnsignedByte", "Unsigned8", "UnsignedByte", 1},
    {"SignedByte", "Signed8", "SignedByte", 1},
    {"UnsignedShort", "Unsigned16", "UnsignedShort", 2},
    {"SignedShort", "Signed16", "SignedShort", 2},
    {"UnsignedInteger", "Unsigned32", "UnsignedLong", 4},
    {"SignedInteger", "Signed32", "SignedLong", 4},
    {"Unsigned64", "Unsigned64", "Unsigned64", 8},
    {"Signed64", "Signed64", "Signed64", 8},
    {"FloatValue", "FloatIEEE32", "Float", 4},
    {"DoubleValue", "DoubleIEEE64", "DoubleValue", 8},
    {"UnAssigned", "UnAssigned", "UnAssigned", 0},
    {"UnAssigned", "UnAssigned", "UnAssigned", 0},
    {"FloatVAX32", "FloatVAX32", "FloatVAX32", 4},
    {"DoubleVAX64", "DoubleVAX64", "DoubleVAX64", 8},
    {"FloatConvex32", "FloatConvex32", "FloatConvex32", 4},
    {"DoubleConvex64", "DoubleConvex64", "DoubleConvex64", 8},
}};

// The slot after the last byte order reads "FixedByteOrder"; the name
// lookup never produces it.
constexpr std::array<const char *, EndBOrder + 1> kBOrderNames = {
    "Invalid", "LowByteFirst", "HighByteFirst", "FixedByteOrder"};

constexpr std::array<const char *, EndDCompression> kCompressionNames = {
    "Invalid", "None", "GzipCompression", "ZCompression"};
constexpr std::array<const char *, EndDCompression> kCompressionAlias1 = {
    "Invalid", "UnCompressed", "GzipCompression", "ZCompression"};
constexpr std::array<const char *, EndDCompression> kCompressionAlias2 = {
    "Invalid", "NoSpecificValue", "Gzip", "Z"};

struct MTypeEntry {
  const char *Name;
  size_t Size;
  int DataType;  // the stored type of this host type
};

constexpr std::array<MTypeEntry, EndMType> kMTypes = {{
    {"Invalid", 0, InValidDType},
    {"unsigned char", 1, Unsigned8},
    {"char", 1, Signed8},
    {"unsigned short", 2, Unsigned16},
    {"short", 2, Signed16},
    {"unsigned int", 4, Unsigned32},
    {"int", 4, Signed32},
    {"unsigned long", 4, Unsigned32},
    {"long", 4, Signed32},
    {"float", 4, FloatIEEE32},
    {"double", 8, DoubleIEEE64},
}};

// Host type of each stored type (0: none).
constexpr std::array<int, EndDType> kMachineTypeOf = {
    InValidMType, MUnsignedChar, MChar,        MUnsignedShort, MShort,      MUnsignedLong,
    MLong,        InValidMType,  InValidMType, MFloat,         MDouble,     InValidMType,
    InValidMType, InValidMType,  InValidMType, InValidMType,   InValidMType};

bool names_equal(const char *a, const char *b) {
  return kvxio::compare_keys(a, b, kvxio::UpperCaseSort) == 0;
}

// Index of the first name of `table` that equals `name`, or -1.
template <size_t N>
int find_name(const std::array<const char *, N> &table, const char *name) {
  for (size_t i = 0; i < N; ++i)
    if (names_equal(table[i], name)) return static_cast<int>(i);
  return -1;
}

}  // namespace

const char *kvx_datatype2string(int data_type) {
  if (data_type < 0 || data_type >= EndDType) return kDTypes[InValidDType].Name;
  return kDTypes[static_cast<size_t>(data_type)].Name;
}

int kvx_string2datatype(const char *name) {
  if (name == nullptr) return InValidDType;
  for (auto field : {&DTypeEntry::Name, &DTypeEntry::Alias1, &DTypeEntry::Alias2})
    for (size_t i = 0; i < kDTypes.size(); ++i)
      if (names_equal(kDTypes[i].*field, name)) return static_cast<int>(i);
  return InValidDType;
}

const char *kvx_compression2string(int compression) {
  if (compression < 0 || compression >= EndDCompression) return kCompressionNames[0];
  return kCompressionNames[static_cast<size_t>(compression)];
}

int kvx_string2compression(const char *name) {
  if (name == nullptr) return InValidDCompression;
  for (const auto *table : {&kCompressionNames, &kCompressionAlias1, &kCompressionAlias2})
    if (int found = find_name(*table, name); found >= 0) return found;
  // A plain number names the compression by its code.
  char *end = nullptr;
  errno = 0;
  unsigned long code = std::strtoul(name, &end, 10);
  bool whole = end != name && errno == 0 && name[0] != '-' && name[0] != '+';
  while (whole && *end == ' ') ++end;
  if (whole && *end == '\0' && code >= UnCompressed && code <= ZCompression)
    return static_cast<int>(code);
  return InValidDCompression;
}

const char *ByteOrder2String(int byte_order) {
  if (byte_order < 0 || byte_order >= EndBOrder) return kBOrderNames[0];
  return kBOrderNames[static_cast<size_t>(byte_order)];
}

int String2ByteOrder(const char *name) {
  if (name == nullptr) return InValidBOrder;
  for (int i = 0; i < EndBOrder; ++i)
    if (names_equal(kBOrderNames[static_cast<size_t>(i)], name)) return i;
  return InValidBOrder;
}

size_t kvx_data_sizeof(int data_type) {
  if (data_type < Unsigned8 || data_type >= EndDType) return 0;
  return kDTypes[static_cast<size_t>(data_type)].Size;
}

int kvx_byteorder() {
  const unsigned int one = 1;
  unsigned char first = 0;
  std::memcpy(&first, &one, 1);
  return first == 1 ? LowByteFirst : HighByteFirst;
}

int kvx_datatype2machinetype(int data_type) {
  if (data_type < 0 || data_type >= EndDType) return InValidMType;
  return kMachineTypeOf[static_cast<size_t>(data_type)];
}

int kvx_machinetype2datatype(int machine_type) {
  if (machine_type < 0 || machine_type >= EndMType) return InValidDType;
  return kMTypes[static_cast<size_t>(machine_type)].DataType;
}

const char *kvx_machinetype2string(int machine_type) {
  if (machine_type < 0 || machine_type >= EndMType) return kMTypes[0].Name;
  return kMTypes[static_cast<size_t>(machine_type)].Name;
}

size_t kvx_machine_sizeof(int machine_type) {
  if (machine_type < 0 || machine_type >= EndMType) return 0;
  return kMTypes[static_cast<size_t>(machine_type)].Size;
}

void kvx_showdatatypes(int flag) {
  if (flag) std::printf(" %15s               = %15s\n", "DataType", "MachineType");
  for (int type = Unsigned8; type < EndDType; ++type) {
    int machine = kvx_datatype2machinetype(type);
    if (!flag && machine == InValidMType) continue;
    std::printf(" %15s (%5lu bytes) = %15s (%5lu bytes)\n", kvx_datatype2string(type),
                static_cast<unsigned long>(kvx_data_sizeof(type)), kvx_machinetype2string(machine),
                static_cast<unsigned long>(kvx_machine_sizeof(machine)));
  }
}
