// Reading the secrets that the command line names: values given with -s,
// secrets files (-f) and environment variables (-e).
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

// Adds every secret of every source in `options`, in command-line order, to
// `set` (whose encodings and min_length are already chosen).  Environment
// globs are matched against `environment`.  Returns an error line when a
// secrets file cannot be read, else an empty string.
std::string gather_secrets(const Options &options, std::span<const std::string_view> environment, SecretSet &set);

}  // namespace hushcli

#endif
