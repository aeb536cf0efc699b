// The command line of hushmask, parsed into a plain record.
#ifndef HUSHMASK_CLI_OPTIONS_H
#define HUSHMASK_CLI_OPTIONS_H

#include <hushset.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hushcli {

struct SecretSource {
  enum class Kind { value, file, env };
  Kind kind;
  std::string text;      // the secret itself, a file name or a glob
  bool builtin = false;  // an --env-defaults pattern
};

// The glob patterns --env-defaults adds: the variable names CI systems and
// the tools run in them use for secrets.
inline constexpr std::string_view DEFAULT_ENV_PATTERNS[] = {
    "*_PASSWORD",   "*_SECRET",     "*_TOKEN",   "*_PRIVATE_KEY",
    "*_ACCESS_KEY", "*_SECRET_KEY", "*_API_KEY", "*_CONNECTION_STRING",
};

struct Options {
  std::vector<SecretSource> sources;            // in command-line order
  bool null_separated = false;                  // -0: secrets files hold NUL-separated records
  std::uint32_t forms = HUSHSET_FORMS_DEFAULT;  // --encodings, as HUSHSET_FORM_* bits
  std::uint64_t min_length = 4;
  bool allow_empty = false;
  std::uint64_t max_stars = 3;
  bool check = false;               // also set by the report options and -q
  bool files_with_matches = false;  // -l
  bool count = false;               // -c
  bool locations = false;           // --locations
  std::string report_file;          // --report; empty: standard error
  bool quiet = false;               // -q: no masked output
  bool in_place = false;            // -i
  bool directives = false;          // --directives
  std::string control_path;         // --control; empty: no control socket
  std::string add_secret_path;      // hushmask --add-secret PATH; the whole command line
  bool merge = false;               // --merge
  bool pty = false;                 // --pty
  bool unset_secrets = false;       // --unset-secrets
  std::size_t chunk_size = 65536;
  std::vector<std::string> files;    // inputs; none means standard input
  std::vector<std::string> command;  // non-empty with --exec
  bool show_help = false;
  bool show_version = false;
};

// The largest --chunk-size: one read never needs more, and it keeps a typo
// from asking for gigabytes.
inline constexpr std::size_t MAX_CHUNK_SIZE = std::size_t{1} << 30;

struct ParsedCommandLine {
  Options options;
  std::string error;  // empty on success; otherwise one line naming the problem
  // Where each -s value stands in the arguments that were parsed, so that
  // the caller can overwrite it there once it is copied.
  std::vector<std::string_view> secret_values;
};

inline bool wants_reports(const Options &options) {
  return options.files_with_matches || options.count || options.locations;
}

// Parses the arguments after the program name.  Short options may be bundled
// ("-0f FILE"), a value may be attached ("-n3", "--max-stars=3") or follow as
// the next argument; "--" ends the options and "-" is standard input.
// Everything after --exec is the command and its arguments.  An error never
// quotes an option's value, which may be a secret.  "-f -" (secrets on
// standard input) is refused where standard input is the text too, and
// when given twice.
ParsedCommandLine parse_command_line(std::span<const std::string_view> args);

// Whether the text is read from standard input: no --exec, and no FILE
// argument or a "-" among them.
bool reads_text_from_standard_input(const Options &options);

// Parses a comma-separated --encodings list into HUSHSET_FORM_* bits: the
// names of the forms, "default" (HUSHSET_FORMS_DEFAULT, which may be
// combined with others) or "none" alone.  Returns false on an unknown or
// empty name, or "none" mixed with others.
bool parse_encodings(std::string_view list, std::uint32_t &forms);

// The --encodings name of one HUSHSET_FORM_* bit ("base64"), as messages
// name a form; empty for 0 (the secret itself) and unknown bits.
std::string_view form_name(std::uint32_t form);

std::string help_text();

}  // namespace hushcli

#endif
