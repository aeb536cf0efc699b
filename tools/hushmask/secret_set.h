// The secret set of one run: a hushset holding every secret the command
// line names, with the forms --encodings enables, and the warnings that
// adding them gave.
//
// Which forms a secret has, and which are too short to mask, is the
// library's to decide; the set only puts a name to each form the library
// leaves out.  The library tells code, form and length, never bytes, and
// the warning says just that, with the secret's source ("-s #2", "line 3 of
// secrets.txt").
#ifndef HUSHMASK_CLI_SECRET_SET_H
#define HUSHMASK_CLI_SECRET_SET_H

#include <hushset.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "options.h"

namespace hushcli {

// One diagnostic of the library, as it came.
struct LeftOut {
  std::int32_t code;   // HUSHSET_DIAG_*
  std::uint32_t form;  // HUSHSET_FORM_* bit, 0 for the secret itself
  std::uint64_t length;
};

struct SecretSet {
  hushset *set = nullptr;
  std::uint64_t min_length = 0;
  std::string source;                 // names the secret being added
  std::vector<LeftOut> left_out;      // what this add left out so far, each told once
  std::vector<std::string> warnings;  // one line each, without the "warning:" prefix
  bool diagnostics_lost = false;      // memory ran out while a diagnostic was recorded
};

// Creates the empty set with the forms, max_stars and min_length of
// `options`.  Returns false when memory runs out.  The library's diagnostics
// point at `set`, which must not move until it is closed.
bool open_secret_set(SecretSet &set, const Options &options);

// Adds one secret; `source` names it in warnings.  Returns false when
// memory runs out.
bool add_secret(SecretSet &set, std::string_view value, std::string source);

// Compiles what was added.  Returns false when memory runs out.
bool build_secret_set(SecretSet &set);

// Adds one secret while the text is being masked (a directive, the control
// socket) and rebuilds the set, so that every stream masks it from its next
// write on, held-back bytes kept.  The warnings the add gives are written
// at once, masked by the rebuilt set.  Returns false when memory runs out:
// the set then masks as before.
bool add_secret_now(SecretSet &set, std::string_view value, std::string source);

// Releases the set.  Safe on a set that was never opened.
void close_secret_set(SecretSet &set);

}  // namespace hushcli

#endif
