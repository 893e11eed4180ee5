// The listing of a KVX file.
#include "kvxinfo_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <string>

#include "kvxinfo_repair.h"
#include "kvxinfo_text.h"
#include "kvxio.h"
#include "kvxio_repair.h"

namespace {

constexpr size_t Columns = 9;
using Row = std::array<std::string, Columns>;

const Row Titles = {"Image",       "Chain",     "Dimensions", "DataType",  "ByteOrder",
                    "Compression", "HeaderPos", "HeaderSize", "BinarySize"};
// The columns from HeaderPos on are numbers, right aligned.
constexpr size_t FirstNumberColumn = 6;

std::string value_or_dash(const KvxBlockHeader &header, const char *key) {
  const std::string *value = kvx_header_value(header, key);
  return value != nullptr ? kvxinfo_printable(*value) : std::string("-");
}

// "Dim_1" x "Dim_2" x ... as the header gives them.
std::string dimensions(const KvxBlockHeader &header) {
  std::string text;
  for (int n = 1;; ++n) {
    const std::string key = "Dim_" + std::to_string(n);
    const std::string *size = kvx_header_value(header, key.c_str());
    if (size == nullptr) break;
    text += (n > 1 ? "x" : "") + kvxinfo_printable(*size);
  }
  return text.empty() ? "-" : text;
}

Row row_of(const KvxBlockInfo &block, const KvxBlockHeader *header) {
  Row row;
  row[0] = kvxinfo_printable(block.BlockKey);
  row[1] = kvxinfo_printable(block.ChainKey);
  if (header != nullptr) {
    row[2] = dimensions(*header);
    row[3] = value_or_dash(*header, "DataType");
    row[4] = value_or_dash(*header, "ByteOrder");
    row[5] = value_or_dash(*header, "Compression");
  } else {
    row[2] = row[3] = row[4] = row[5] = "?";
  }
  row[6] = std::to_string(block.HeaderPos);
  row[7] = std::to_string(block.HeaderSize);
  row[8] = std::to_string(block.BinarySize);
  return row;
}

void print_rows(const std::vector<Row> &rows, std::FILE *out) {
  std::array<size_t, Columns> width{};
  for (const Row &row : rows)
    for (size_t c = 0; c < Columns; ++c) width[c] = std::max(width[c], row[c].size());
  for (const Row &row : rows) {
    std::string line;
    for (size_t c = 0; c < Columns; ++c) {
      const std::string pad(width[c] - row[c].size(), ' ');
      if (c > 0) line += "  ";
      line += c >= FirstNumberColumn ? pad + row[c] : row[c] + (c + 1 < Columns ? pad : "");
    }
    std::fprintf(out, "%s\n", line.c_str());
  }
}

uint64_t file_size(const std::string &name) {
  struct stat info {};
  return stat(name.c_str(), &info) == 0 && info.st_size > 0 ? static_cast<uint64_t>(info.st_size)
                                                            : 0;
}

}  // namespace

bool kvxinfo_list(const KvxinfoFile &file, std::FILE *out, std::vector<KvxinfoProblem> &problems) {
  std::vector<Row> rows{Titles};
  uint64_t bytes = 0, end = 0;
  const auto list_block = [&](const KvxBlockInfo &block, const KvxBlockHeader *header,
                              int header_error) {
    if (header == nullptr)
      problems.push_back({file.name(), "image " + kvxinfo_printable(block.BlockKey) +
                                           ": header cannot be read (" +
                                           kvxinfo_error_name(header_error) + ")"});
    rows.push_back(row_of(block, header));
    bytes += block.HeaderSize + block.BinarySize;
    end = std::max(end, block.HeaderPos + block.HeaderSize + block.BinarySize);
    return true;
  };
  int error = RoutineSucceeded;
  if (!kvx_visit_blocks(file.stream(), list_block, &error, nullptr)) {
    problems.push_back(
        {file.name(), "blocks cannot be listed (" + kvxinfo_error_name(error) + ")"});
    return false;
  }
  print_rows(rows, out);
  const size_t blocks = rows.size() - 1;
  std::fprintf(out, "total: %zu block%s, %llu bytes\n", blocks, blocks == 1 ? "" : "s",
               static_cast<unsigned long long>(bytes));
  // The scan stops at a damaged block; what lies behind it is not listed.
  // A block that a writer is still putting out (or that a killed run left
  // behind) is normal in a file being written: it is named, not reported.
  KvxChainCheck check;
  if (kvx_check_stream_chain(file.stream(), check, nullptr, nullptr) == 1 &&
      check.State == KvxChainState::TornLastBlock && check.DamagePos == end) {
    std::fprintf(out, "incomplete last block: %s; being written, or its writer was stopped\n",
                 kvxinfo_torn_block(check.TornBlockKey, end, check.FileSize - end).c_str());
  } else if (const uint64_t size = file_size(file.name()); blocks > 0 && end < size) {
    problems.push_back({file.name(), "the " + std::to_string(size - end) + " bytes from position " +
                                         std::to_string(end) +
                                         " on cannot be read as blocks; they are not listed"});
  }
  return problems.empty();
}
