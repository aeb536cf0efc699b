#include "secret_set.h"

#include <algorithm>

#include "encodings.h"

namespace hushcli {
namespace {

std::string describe_length(std::size_t length) {
  return std::to_string(length) + (length == 1 ? " byte" : " bytes");
}

// Registers one string unless it is too short or already there.
void register_form(SecretSet &set, std::string bytes, std::string source, std::size_t origin) {
  if (bytes.size() < set.min_length) {
    set.warnings.push_back(source + " is " + describe_length(bytes.size()) + " long, shorter than --min-length " +
                           std::to_string(set.min_length) + ": not masked");
    return;
  }
  if (!set.seen.insert(bytes).second) return;
  set.secrets.push_back(RegisteredSecret{std::move(bytes), std::move(source), origin});
}

void add_plain(SecretSet &set, std::string_view value, const std::string &source) {
  const std::size_t origin = set.origin_count++;
  register_form(set, std::string(value), source, origin);
  // Encoded forms of a secret too short to mask would only add warnings.
  if (value.size() < set.min_length) return;
  for (DerivedForm &form : derive_forms(value, set.encodings)) {
    // A secret with nothing to escape encodes to itself; a secret of a byte
    // or two has no base64 character of its own.
    if (form.bytes.empty()) continue;
    register_form(set, std::move(form.bytes), form.kind + " of " + source, origin);
  }
}

}  // namespace

void add_secret(SecretSet &set, std::string_view value, const std::string &source) {
  add_plain(set, value, source);
  if (value.find('\n') == std::string_view::npos) return;
  // Logs often print a multi-line value (a key, a certificate) line by line,
  // each line on its own between other output.
  std::size_t start = 0;
  std::size_t line_number = 0;
  while (start < value.size()) {
    std::size_t end = value.find('\n', start);
    if (end == std::string_view::npos) end = value.size();
    std::string_view line = value.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++line_number;
    if (!line.empty()) add_plain(set, line, "line " + std::to_string(line_number) + " of " + source);
    start = end + 1;
  }
}

std::vector<std::string> containment_warnings(const std::vector<RegisteredSecret> &secrets) {
  std::vector<std::string> warnings;
  std::size_t origin_count = 0;
  for (const RegisteredSecret &secret : secrets) origin_count = std::max(origin_count, secret.origin + 1);
  std::vector<bool> warned(origin_count, false);
  // Quadratic in the number of registered strings, which stays in the
  // hundreds for any command line; each test is one substring search.
  for (const RegisteredSecret &inner : secrets) {
    if (warned[inner.origin]) continue;
    for (const RegisteredSecret &outer : secrets) {
      if (outer.bytes.size() <= inner.bytes.size()) continue;
      if (outer.bytes.find(inner.bytes, 1) == std::string::npos) continue;
      warnings.push_back(inner.source + " (" + describe_length(inner.bytes.size()) + ") occurs inside " +
                         outer.source + " (" + describe_length(outer.bytes.size()) +
                         ") but not at its start: it stays unmasked where it follows a partial "
                         "occurrence of the longer one");
      warned[inner.origin] = true;
      break;
    }
  }
  return warnings;
}

}  // namespace hushcli
