// Splitting the contents of a secrets file into secrets.
//
// A pure function over bytes: it reads no file and allocates nothing but the
// result, so it can be fuzzed and tested on its own.
#ifndef HUSHMASK_CLI_SECRET_RECORDS_H
#define HUSHMASK_CLI_SECRET_RECORDS_H

#include <cstdint>
#include <string_view>
#include <vector>

namespace hushcli {

enum class RecordSeparator {
  line,  // one secret per line; "\n" ends a line and one "\r" before it is dropped
  nul,   // records end at NUL bytes and are taken verbatim, newlines included
};

struct SecretRecord {
  std::string_view value;  // points into the content that was split
  std::uint64_t number;    // 1-based position of the record in the file, empty ones counted
};

// Returns the non-empty records of `content` in file order.  The last record
// needs no terminator.  Every byte value other than the separator is kept, so
// a record is exactly the secret as it stands in the file.
std::vector<SecretRecord> split_secret_records(std::string_view content, RecordSeparator separator);

}  // namespace hushcli

#endif
