// Picking secrets out of environment entries by a shell glob on their names.
//
// A pure function over strings: it reads the entries it is given, not the
// process environment, so it can be fuzzed and tested on its own.
#ifndef HUSHMASK_CLI_ENV_MATCH_H
#define HUSHMASK_CLI_ENV_MATCH_H

#include <span>
#include <string_view>
#include <vector>

namespace hushcli {

struct EnvSecret {
  std::string_view name;   // both point into the entry they came from
  std::string_view value;
};

// `entries` are "NAME=VALUE" strings as in `environ`.  Returns, in entry
// order, the name and value of every entry whose name matches `pattern` as a
// shell glob (fnmatch without flags: "*", "?", "[...]" and "\" escapes).
// Entries without "=" or with an empty name are skipped; the name ends at the
// first "=", so a value may hold "=" itself.  Pattern and names are cut at a
// NUL byte, which neither can hold when they come from a real environment.
std::vector<EnvSecret> match_environment(std::span<const std::string_view> entries, std::string_view pattern);

}  // namespace hushcli

#endif
