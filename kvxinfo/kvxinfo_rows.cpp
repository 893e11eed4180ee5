// One row per image block: header values and pixel statistics.
#include "kvxinfo_rows.h"

#include <algorithm>
#include <limits>

#include "kvxinfo_text.h"
#include "kvxio.h"

namespace {

const std::vector<std::string> FixedTitles = {"File", "Image", "Chain"};
const std::vector<std::string> StatsTitles = {"Pixels", "Min", "Max", "Mean", "Sum"};

void add_stats(const KvxinfoFile &file, const KvxBlockInfo &block, std::vector<KvxinfoCell> &row,
               std::vector<KvxinfoProblem> &problems) {
  KvxinfoImage image;
  KvxinfoProblem problem;
  if (!kvxinfo_read_block(file, block, image, problem)) {
    problems.push_back(problem);
    row.insert(row.end(), StatsTitles.size(), KvxinfoCell{{}, true});
    return;
  }
  const KvxinfoStats stats = kvxinfo_stats(image);
  const bool any = stats.pixels > 0;
  row.push_back({std::to_string(stats.pixels)});
  for (const double value : {stats.min, stats.max, stats.mean})
    row.push_back(any ? kvxinfo_number_cell(value) : KvxinfoCell{{}, true});
  row.push_back(kvxinfo_number_cell(stats.sum));
}

}  // namespace

KvxinfoStats kvxinfo_stats(const KvxinfoImage &image) {
  KvxinfoStats stats;
  double min = std::numeric_limits<double>::infinity(), max = -min;
  // Integer pixels add up exactly in the wider sum up to 2^64.
  long double sum = 0;
  std::visit(
      [&](const auto &values) {
        for (const auto raw : values) {
          const auto value = static_cast<double>(raw);
          if (image.is_dummy(value)) continue;
          ++stats.pixels;
          min = std::min(min, value);
          max = std::max(max, value);
          sum += value;
        }
      },
      image.values);
  if (stats.pixels > 0) {
    stats.min = min;
    stats.max = max;
    stats.sum = static_cast<double>(sum);
    stats.mean = static_cast<double>(sum / static_cast<long double>(stats.pixels));
  }
  return stats;
}

std::vector<std::string> kvxinfo_row_keys(const std::vector<std::string> &keys, bool stats) {
  std::vector<std::string> titles = FixedTitles;
  if (stats) titles.insert(titles.end(), StatsTitles.begin(), StatsTitles.end());
  std::vector<std::string> columns;
  for (const std::string &key : keys) {
    if (std::find(titles.begin(), titles.end(), key) != titles.end()) continue;
    titles.push_back(key);
    columns.push_back(key);
  }
  return columns;
}

KvxinfoTable kvxinfo_rows_table(const std::vector<std::string> &keys, bool stats,
                                KvxinfoFormat format) {
  // The image number is a text as the file writes it, also in JSON.
  std::vector<KvxinfoColumn> columns = {{FixedTitles[0]}, {FixedTitles[1], true}, {FixedTitles[2]}};
  for (const std::string &key : keys)
    columns.push_back({key, false, KvxinfoJson::HeaderValue, "keys"});
  if (stats)
    for (const std::string &title : StatsTitles)
      columns.push_back({title, true, KvxinfoJson::Number, "stats"});
  return KvxinfoTable(std::move(columns), format);
}

bool kvxinfo_rows(const KvxinfoFile &file, const std::vector<std::string> &keys, bool stats,
                  KvxinfoTable &table, std::vector<KvxinfoProblem> &problems) {
  const size_t reported = problems.size();
  const auto add_row = [&](const KvxBlockInfo &block, const KvxBlockHeader *header,
                           int header_error) {
    std::vector<KvxinfoCell> row = {{file.name()}, {block.BlockKey}, {block.ChainKey}};
    if (header == nullptr)
      problems.push_back({file.name(),
                          "image " + kvxinfo_printable(block.BlockKey) +
                              ": header cannot be read (" + kvxinfo_error_name(header_error) + ")",
                          KvxinfoDamaged});
    for (const std::string &key : keys) {
      const std::string *value =
          header != nullptr ? kvx_header_value(*header, key.c_str()) : nullptr;
      row.push_back(value != nullptr ? KvxinfoCell{*value} : KvxinfoCell{{}, true});
    }
    if (stats && header != nullptr) add_stats(file, block, row, problems);
    table.add(std::move(row));
    return true;
  };
  int error = RoutineSucceeded;
  if (!kvx_visit_blocks(file.stream(), add_row, &error, nullptr))
    problems.push_back(
        {file.name(), "blocks cannot be listed (" + kvxinfo_error_name(error) + ")"});
  return problems.size() == reported;
}
