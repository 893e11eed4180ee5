// The listing of KVX files.
#include "kvxinfo_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <string>

#include "kvxinfo_repair.h"
#include "kvxinfo_text.h"
#include "kvxio.h"
#include "kvxio_repair.h"

namespace {

std::vector<KvxinfoColumn> columns(bool name_files) {
  std::vector<KvxinfoColumn> list;
  if (name_files) list.push_back({"File"});
  list.push_back({"Image", false, true});  // left aligned, a number in JSON
  for (const char *title : {"Chain", "Dimensions", "DataType", "ByteOrder", "Compression"})
    list.push_back({title});
  // The positions and sizes are numbers, right aligned.
  for (const char *title : {"HeaderPos", "HeaderSize", "BinarySize"})
    list.push_back({title, true, true});
  return list;
}

std::string value_or_dash(const KvxBlockHeader &header, const char *key) {
  const std::string *value = kvx_header_value(header, key);
  return value != nullptr ? *value : std::string("-");
}

// "Dim_1" x "Dim_2" x ... as the header gives them.
std::string dimensions(const KvxBlockHeader &header) {
  std::string text;
  for (int n = 1;; ++n) {
    const std::string key = "Dim_" + std::to_string(n);
    const std::string *size = kvx_header_value(header, key.c_str());
    if (size == nullptr) break;
    if (n > 1) text += 'x';
    text += *size;
  }
  return text.empty() ? "-" : text;
}

std::vector<KvxinfoCell> row_of(const KvxBlockInfo &block, const KvxBlockHeader *header) {
  std::vector<KvxinfoCell> row = {{block.BlockKey}, {block.ChainKey}};
  if (header != nullptr) {
    row.push_back({dimensions(*header)});
    for (const char *key : {"DataType", "ByteOrder", "Compression"})
      row.push_back({value_or_dash(*header, key)});
  } else {
    row.insert(row.end(), 4, {"?"});
  }
  for (const uint64_t number : {block.HeaderPos, block.HeaderSize, block.BinarySize})
    row.push_back({std::to_string(number)});
  return row;
}

uint64_t file_size(const std::string &name) {
  struct stat info {};
  return stat(name.c_str(), &info) == 0 && info.st_size > 0 ? static_cast<uint64_t>(info.st_size)
                                                            : 0;
}

struct Total {
  size_t blocks = 0;
  uint64_t bytes = 0;
  std::string incomplete;  // the line that names a torn last block
};

// Adds the rows of `file` to `table`; false when the blocks cannot be
// walked.
bool list_file(const KvxinfoFile &file, bool name_files, KvxinfoTable &table, Total &total,
               std::vector<KvxinfoProblem> &problems) {
  uint64_t end = 0;
  const auto list_block = [&](const KvxBlockInfo &block, const KvxBlockHeader *header,
                              int header_error) {
    if (header == nullptr)
      problems.push_back({file.name(), "image " + kvxinfo_printable(block.BlockKey) +
                                           ": header cannot be read (" +
                                           kvxinfo_error_name(header_error) + ")"});
    std::vector<KvxinfoCell> row = row_of(block, header);
    if (name_files) row.insert(row.begin(), {file.name()});
    table.add(std::move(row));
    ++total.blocks;
    total.bytes += block.HeaderSize + block.BinarySize;
    end = std::max(end, block.HeaderPos + block.HeaderSize + block.BinarySize);
    return true;
  };
  int error = RoutineSucceeded;
  if (!kvx_visit_blocks(file.stream(), list_block, &error, nullptr)) {
    problems.push_back(
        {file.name(), "blocks cannot be listed (" + kvxinfo_error_name(error) + ")"});
    return false;
  }
  // The scan stops at a damaged block; what lies behind it is not listed.
  // A block that a writer is still putting out (or that a killed run left
  // behind) is normal in a file being written: it is named, not reported.
  KvxChainCheck check;
  if (kvx_check_stream_chain(file.stream(), check, nullptr, nullptr) == 1 &&
      check.State == KvxChainState::TornLastBlock && check.DamagePos == end) {
    total.incomplete = "incomplete last block: " +
                       kvxinfo_torn_block(check.TornBlockKey, end, check.FileSize - end) +
                       "; being written, or its writer was stopped\n";
  } else if (const uint64_t size = file_size(file.name()); total.blocks > 0 && end < size) {
    problems.push_back({file.name(), "the " + std::to_string(size - end) + " bytes from position " +
                                         std::to_string(end) +
                                         " on cannot be read as blocks; they are not listed"});
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
    if (!total.incomplete.empty()) totals_.push_back(total.incomplete);
  }
  return problems.size() == reported;
}

void KvxinfoListing::print(std::FILE *out) const {
  table_.print(out);
  if (format_ == KvxinfoFormat::Text)
    for (const std::string &line : totals_) std::fputs(line.c_str(), out);
}
