// The set of byte strings registered with the library: every secret, each
// line of a multi-line secret, and their encoded forms, with where each came
// from.  Building it prints nothing; warnings are collected as text, and no
// warning ever holds a secret's bytes, only sources and lengths.
#ifndef HUSHMASK_CLI_SECRET_SET_H
#define HUSHMASK_CLI_SECRET_SET_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace hushcli {

struct RegisteredSecret {
  std::string bytes;
  std::string source;   // e.g. "base64 form at byte offset 1 of --secret #2"
  std::size_t origin;   // which plain secret (a given one, or one of its lines) it derives from
};

struct SecretSet {
  unsigned encodings = 0;  // bits of Encoding
  std::uint64_t min_length = 0;
  std::vector<RegisteredSecret> secrets;  // distinct byte strings, in registration order
  std::unordered_set<std::string> seen;   // the bytes of `secrets`, to drop repeats
  std::size_t origin_count = 0;
  std::vector<std::string> warnings;      // one line each, without the "warning:" prefix
};

// Registers `value`, and when it spans lines each of its lines ("\n" ends a
// line, one "\r" before it is dropped, empty lines are skipped), and the
// encoded forms of each of those.  A string shorter than min_length is left
// out with a warning; a repeat is left out silently.
void add_secret(SecretSet &set, std::string_view value, const std::string &source);

// "1 byte", "12 bytes": how warnings name a string, never by its value.
std::string describe_length(std::size_t length);

}  // namespace hushcli

#endif
