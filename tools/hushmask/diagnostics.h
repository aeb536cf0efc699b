// Messages on standard error.  Each one is a single line written with one
// write(2), so lines from hushmask and from an --exec child never interleave
// inside a line.
//
// Every message goes through the secret set before it is written, so that
// none can show a registered secret or a form of one, whatever it was built
// from.  Callers still build messages from places, names and lengths only:
// a value given where a name is expected (a secret typed for "-e NAME") is
// no registered secret, and masking would not catch it.
#ifndef HUSHMASK_CLI_DIAGNOSTICS_H
#define HUSHMASK_CLI_DIAGNOSTICS_H

#include <hushset.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace hushcli {

// "hushmask: warning: <text>", masked by `set` (a built set; null only
// before any secret is known, for messages about the command line alone).
void print_warning(const hushset *set, std::string_view text);

// "hushmask: error: <text>", masked the same way.
void print_error(const hushset *set, std::string_view text);

// "first", "second", ... "tenth", then "11th", "12th", "21st": how messages
// name an option or argument by its place on the command line.
std::string ordinal(std::size_t n);

}  // namespace hushcli

#endif
