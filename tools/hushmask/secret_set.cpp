#include "secret_set.h"

#include "encodings.h"

namespace hushcli {
namespace {

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

std::string describe_length(std::size_t length) {
  return std::to_string(length) + (length == 1 ? " byte" : " bytes");
}

}  // namespace hushcli
