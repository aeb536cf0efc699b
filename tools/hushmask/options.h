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
  std::string text;  // the secret itself, a file name or a glob
};

struct Options {
  std::vector<SecretSource> sources;            // in command-line order
  bool null_separated = false;                  // -0: secrets files hold NUL-separated records
  std::uint32_t forms = HUSHSET_FORMS_DEFAULT;  // --encodings, as HUSHSET_FORM_* bits
  std::uint64_t min_length = 4;
  bool allow_empty = false;
  std::uint64_t max_stars = 3;
  bool check = false;
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
};

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
