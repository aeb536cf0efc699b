#include "env_match.h"

#include <fnmatch.h>

#include <string>

namespace hushcli {

std::vector<EnvSecret> match_environment(std::span<const std::string_view> entries, std::string_view pattern) {
  // fnmatch reads terminated strings; copies keep the views untouched.
  const std::string pattern_text(pattern);
  std::string name_text;
  std::vector<EnvSecret> matches;
  for (std::string_view entry : entries) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos || equals == 0) continue;
    const std::string_view name = entry.substr(0, equals);
    name_text.assign(name);
    if (fnmatch(pattern_text.c_str(), name_text.c_str(), 0) == 0) {
      matches.push_back(EnvSecret{name, entry.substr(equals + 1)});
    }
  }
  return matches;
}

}  // namespace hushcli
