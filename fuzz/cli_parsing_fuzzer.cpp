// Property: the hushmask command's two parsers of untrusted bytes agree with
// simple models of their documented rules, and every piece they return lies
// inside the input it came from.
//   Secret files: split_secret_records gives, for each separator (lines or
//   NUL bytes), exactly the non-empty records of the content in file order,
//   with their 1-based numbers, "\r\n" and "\n" both ending a line.
//   Environment: match_environment returns, in entry order, the entries
//   with a non-empty name before their first "=", split there into name and
//   value; for patterns without a bracket expression, exactly the names that
//   a plain model of the shell glob ("*", "?", "\" escapes, cut at NUL)
//   matches.
//
// Input: a flag byte (bit 0: entries are separated by NUL instead of a
// newline), a length-prefixed glob pattern, then the content, read both as a
// secrets file and as a list of environment entries.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "env_match.h"
#include "fuzz_check.h"
#include "fuzz_input.h"
#include "secret_records.h"

namespace {

using hush::core::fuzzing::FuzzInput;

constexpr std::size_t MAX_PATTERN_LEN = 32;

bool inside(std::string_view piece, std::string_view whole) {
  return piece.data() >= whole.data() && piece.data() + piece.size() <= whole.data() + whole.size();
}

std::vector<std::string_view> split_all(std::string_view content, char terminator) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find(terminator, start);
    if (end == std::string_view::npos) end = content.size();
    pieces.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

void check_records(std::string_view content, hushcli::RecordSeparator separator) {
  const bool lines = separator == hushcli::RecordSeparator::line;
  std::vector<std::pair<std::string_view, std::uint64_t>> expected;
  std::uint64_t number = 0;
  for (std::string_view record : split_all(content, lines ? '\n' : '\0')) {
    ++number;
    if (lines && !record.empty() && record.back() == '\r') record.remove_suffix(1);
    if (!record.empty()) expected.emplace_back(record, number);
  }
  const std::vector<hushcli::SecretRecord> records = hushcli::split_secret_records(content, separator);
  FUZZ_CHECK(records.size() == expected.size());
  for (std::size_t r = 0; r < records.size(); ++r) {
    FUZZ_CHECK(inside(records[r].value, content));
    FUZZ_CHECK(records[r].value == expected[r].first);
    FUZZ_CHECK(records[r].number == expected[r].second);
  }
}

// A plain model of fnmatch without flags, for patterns without "[": "*"
// matches any run of bytes, "?" any one byte, "\" makes the next byte
// literal, and a trailing "\" matches nothing.  Both strings end at a NUL.
bool glob_model(std::string_view pattern, std::string_view name) {
  pattern = pattern.substr(0, pattern.find('\0'));
  name = name.substr(0, name.find('\0'));
  // matches[j]: the pattern read so far matches name[0, j).
  std::vector<char> matches(name.size() + 1, 0);
  matches[0] = 1;
  for (std::size_t p = 0; p < pattern.size(); ++p) {
    std::vector<char> next(name.size() + 1, 0);
    const char token = pattern[p];
    if (token == '*') {
      for (std::size_t j = 0; j <= name.size(); ++j) {
        next[j] = static_cast<char>(matches[j] || (j > 0 && next[j - 1]));
      }
    } else {
      bool any = token == '?';
      char literal = token;
      if (token == '\\') {
        if (++p == pattern.size()) return false;
        literal = pattern[p];
      }
      for (std::size_t j = 1; j <= name.size(); ++j) {
        next[j] = static_cast<char>(matches[j - 1] && (any || name[j - 1] == literal));
      }
    }
    matches.swap(next);
  }
  return matches[name.size()] != 0;
}

void check_environment(std::string_view content, char separator, std::string_view pattern) {
  const std::vector<std::string_view> entries = split_all(content, separator);
  const std::vector<hushcli::EnvSecret> found = hushcli::match_environment(entries, pattern);
  const bool modelled = pattern.substr(0, pattern.find('\0')).find('[') == std::string_view::npos;

  std::size_t next = 0;
  for (std::size_t e = 0; e < entries.size(); ++e) {
    const std::string_view entry = entries[e];
    const std::size_t equals = entry.find('=');
    const bool is_secret_entry = equals != std::string_view::npos && equals != 0;
    const bool returned = next < found.size() && found[next].name.data() == entry.data();
    if (returned) {
      FUZZ_CHECK(is_secret_entry);
      FUZZ_CHECK(found[next].name == entry.substr(0, equals));
      FUZZ_CHECK(found[next].value == entry.substr(equals + 1));
      FUZZ_CHECK(inside(found[next].value, entry));
      ++next;
    }
    if (modelled && is_secret_entry) FUZZ_CHECK(returned == glob_model(pattern, entry.substr(0, equals)));
  }
  FUZZ_CHECK(next == found.size());  // nothing returned out of order or from elsewhere
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t flags = input.byte();
  const std::string pattern = input.sized_bytes(MAX_PATTERN_LEN);
  const std::string content = input.rest();

  check_records(content, hushcli::RecordSeparator::line);
  check_records(content, hushcli::RecordSeparator::nul);
  check_environment(content, (flags & 1) != 0 ? '\0' : '\n', pattern);
  return 0;
}
