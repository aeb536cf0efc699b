// Messages on standard error.  Each one is a single line written with one
// write(2), so lines from hushmask and from an --exec child never interleave
// inside a line.  Callers build the text from sources, names and lengths,
// never from a secret's bytes.
#ifndef HUSHMASK_CLI_DIAGNOSTICS_H
#define HUSHMASK_CLI_DIAGNOSTICS_H

#include <string_view>

namespace hushcli {

// "hushmask: warning: <text>"
void print_warning(std::string_view text);

// "hushmask: error: <text>"
void print_error(std::string_view text);

}  // namespace hushcli

#endif
