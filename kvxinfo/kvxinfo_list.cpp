// The listing of KVX files.
#include "kvxinfo_list.h"

#include <algorithm>
#include <string>

#include "kvxinfo_text.h"
#include "kvxio.h"

namespace {

std::vector<KvxinfoColumn> columns(bool name_files) {
  std::vector<KvxinfoColumn> list;
  if (name_files) list.push_back({"File"});
  list.push_back({"Image"});  // left aligned; a text in JSON, as the file writes it
  for (const char *title : {"Chain", "Dimensions", "DataType", "ByteOrder", "Compression"})
    list.push_back({title});
  // The positions and sizes are numbers, right aligned.
  for (const char *title : {"HeaderPos", "HeaderSize", "BinarySize"})
    list.push_back({title, true, KvxinfoJson::Number});
  return list;
}

KvxinfoCell value_of(const KvxBlockHeader &header, const char *key) {
  const std::string *value = kvx_header_value(header, key);
  return value != nullptr ? KvxinfoCell{*value} : KvxinfoCell{{}, true};
}

// "Dim_1" x "Dim_2" x ... as the header gives them.
KvxinfoCell dimensions(const KvxBlockHeader &header) {
  std::string text;
  for (int n = 1;; ++n) {
    const std::string key = "Dim_" + std::to_string(n);
    const std::string *size = kvx_header_value(header, key.c_str());
    if (size == nullptr) break;
    if (n > 1) text += 'x';
    text += *size;
  }
  return text.empty() ? KvxinfoCell{{}, true} : KvxinfoCell{text};
}

std::vector<KvxinfoCell> row_of(const KvxBlockInfo &block, const KvxBlockHeader *header) {
  std::vector<KvxinfoCell> row = {{block.BlockKey}, {block.ChainKey}};
  if (header != nullptr) {
    row.push_back(dimensions(*header));
    for (const char *key : {"DataType", "ByteOrder", "Compression"})
      row.push_back(value_of(*header, key));
  } else {
    row.insert(row.end(), 4, {"?"});
  }
  for (const uint64_t number : {block.HeaderPos, block.HeaderSize, block.BinarySize})
    row.push_back({std::to_string(number)});
  return row;
}

struct Total {
  size_t blocks = 0;
  uint64_t bytes = 0;
};

// Adds the rows of `file` to `table`; false when the blocks cannot be
// walked.
bool list_file(const KvxinfoFile &file, bool name_files, KvxinfoTable &table, Total &total,
               std::vector<KvxinfoProblem> &problems) {
  const auto list_block = [&](const KvxBlockInfo &block, const KvxBlockHeader *header,
                              int header_error) {
    if (header == nullptr)
      problems.push_back({file.name(),
                          "image " + kvxinfo_printable(block.BlockKey) +
                              ": header cannot be read (" + kvxinfo_error_name(header_error) + ")",
                          KvxinfoDamaged});
    std::vector<KvxinfoCell> row = row_of(block, header);
    if (name_files) row.insert(row.begin(), {file.name()});
    table.add(std::move(row));
    ++total.blocks;
    total.bytes += block.HeaderSize + block.BinarySize;
    return true;
  };
  int error = RoutineSucceeded;
  if (!kvx_visit_blocks(file.stream(), list_block, &error, nullptr)) {
    problems.push_back(
        {file.name(), "blocks cannot be listed (" + kvxinfo_error_name(error) + ")"});
    return false;
  }
  return true;
}

}  // namespace

KvxinfoListing::KvxinfoListing(bool name_files, KvxinfoFormat format)
    : name_files_(name_files), format_(format), table_(columns(name_files), format) {}

bool KvxinfoListing::add(const KvxinfoFile &file, std::vector<KvxinfoProblem> &problems) {
  const size_t reported = problems.size();
  Total total;
  if (list_file(file, name_files_, table_, total, problems)) {
    const std::string which = name_files_ ? kvxinfo_printable(file.name()) + ": " : "";
    totals_.push_back("total: " + which + std::to_string(total.blocks) + " block" +
                      (total.blocks == 1 ? "" : "s") + ", " + std::to_string(total.bytes) +
                      " bytes\n");
  }
  return problems.size() == reported;
}

void KvxinfoListing::print(std::FILE *out) const {
  table_.print(out);
  if (format_ == KvxinfoFormat::Text)
    for (const std::string &line : totals_) std::fputs(line.c_str(), out);
}
