// Names of the data file library's error values for messages.
#include "kvxinfo_problem.h"

#include "kvxio.h"

std::string kvxinfo_error_name(int error_value) {
  // The library's message is the name framed by line breaks.
  std::string text = kvx_report_data_error(error_value);
  const size_t first = text.find_first_not_of('\n');
  const size_t last = text.find_last_not_of('\n');
  return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}
