// Reading the secrets that the command line names: values given with -s,
// secrets files (-f, "-" for standard input) and environment variables (-e).
#ifndef HUSHMASK_CLI_SECRET_SOURCES_H
#define HUSHMASK_CLI_SECRET_SOURCES_H

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "options.h"
#include "secret_set.h"

namespace hushcli {

// The "NAME=VALUE" entries of this process's environment.
std::vector<std::string_view> process_environment();

struct GatherResult {
  std::vector<std::string> errors;          // a source that cannot be read; one line each
  std::vector<std::string> variable_names;  // every variable an -e pattern took, for --unset-secrets
  bool out_of_memory = false;
};

// Adds every secret of every source in `options`, in command-line order, to
// `set`.  Environment globs are matched against `environment`.  A source
// that cannot be read is named in `errors` by its place on the command line,
// never by the path or pattern given, and the others are still added, so
// that the messages can be written masked by a set that holds every secret
// that could be read.
GatherResult gather_secrets(const Options &options, std::span<const std::string_view> environment, SecretSet &set);

}  // namespace hushcli

#endif
