#include "secret_records.h"

namespace hushcli {

std::vector<SecretRecord> split_secret_records(std::string_view content, RecordSeparator separator) {
  const char terminator = separator == RecordSeparator::line ? '\n' : '\0';
  std::vector<SecretRecord> records;
  std::uint64_t number = 0;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find(terminator, start);
    if (end == std::string_view::npos) end = content.size();
    std::string_view value = content.substr(start, end - start);
    // Only one "\r" goes: a file written on Windows ends each line in CRLF,
    // and any further "\r" would be part of the secret itself.
    if (separator == RecordSeparator::line && !value.empty() && value.back() == '\r') {
      value.remove_suffix(1);
    }
    ++number;
    if (!value.empty()) records.push_back(SecretRecord{value, number});
    start = end + 1;
  }
  return records;
}

}  // namespace hushcli
