#include "options.h"

#include <charconv>
#include <optional>

#include "diagnostics.h"

namespace hushcli {
namespace {

enum class OptionId {
  secret,
  secrets_file,
  null,
  env,
  encodings,
  min_length,
  allow_empty,
  max_stars,
  check,
  chunk_size,
  files_with_matches,
  count,
  locations,
  report,
  quiet,
  in_place,
  directives,
  control,
  add_secret,
  merge,
  pty,
  env_defaults,
  unset_secrets,
  exec,
  help,
  version,
};

struct OptionInfo {
  OptionId id;
  char short_name;  // '\0' when there is none
  std::string_view long_name;
  bool takes_value;
};

constexpr OptionInfo OPTION_TABLE[] = {
    {OptionId::secret, 's', "secret", true},
    {OptionId::secrets_file, 'f', "secrets-file", true},
    {OptionId::null, '0', "null", false},
    {OptionId::env, 'e', "env", true},
    {OptionId::encodings, '\0', "encodings", true},
    {OptionId::min_length, '\0', "min-length", true},
    {OptionId::allow_empty, '\0', "allow-empty", false},
    {OptionId::max_stars, 'n', "max-stars", true},
    {OptionId::check, '\0', "check", false},
    {OptionId::chunk_size, '\0', "chunk-size", true},
    {OptionId::files_with_matches, 'l', "files-with-matches", false},
    {OptionId::count, 'c', "count", false},
    {OptionId::locations, '\0', "locations", false},
    {OptionId::report, '\0', "report", true},
    {OptionId::quiet, 'q', "quiet", false},
    {OptionId::in_place, 'i', "in-place", false},
    {OptionId::directives, '\0', "directives", false},
    {OptionId::control, '\0', "control", true},
    {OptionId::add_secret, '\0', "add-secret", true},
    {OptionId::merge, '\0', "merge", false},
    {OptionId::pty, '\0', "pty", false},
    {OptionId::env_defaults, '\0', "env-defaults", false},
    {OptionId::unset_secrets, '\0', "unset-secrets", false},
    {OptionId::exec, '\0', "exec", false},
    {OptionId::help, 'h', "help", false},
    {OptionId::version, '\0', "version", false},
};

// The --encodings names, in the order --help lists them.
struct FormName {
  std::string_view name;
  std::uint32_t bit;
};

constexpr FormName FORM_NAMES[] = {
    {"lines", HUSHSET_FORM_LINES}, {"base64", HUSHSET_FORM_BASE64}, {"base64url", HUSHSET_FORM_BASE64URL},
    {"url", HUSHSET_FORM_URL},     {"json", HUSHSET_FORM_JSON},     {"xml", HUSHSET_FORM_XML},
    {"shell", HUSHSET_FORM_SHELL},
};

const FormName *find_form(std::string_view name) {
  for (const FormName &form : FORM_NAMES) {
    if (form.name == name) return &form;
  }
  return nullptr;
}

const OptionInfo *find_long(std::string_view name) {
  for (const OptionInfo &option : OPTION_TABLE) {
    if (option.long_name == name) return &option;
  }
  return nullptr;
}

const OptionInfo *find_short(char name) {
  for (const OptionInfo &option : OPTION_TABLE) {
    if (option.short_name != '\0' && option.short_name == name) return &option;
  }
  return nullptr;
}

std::string display_name(const OptionInfo &option) { return "--" + std::string(option.long_name); }

// Plain decimal digits only: no sign, no spaces, no suffix.
std::optional<std::uint64_t> parse_number(std::string_view text, std::uint64_t min, std::uint64_t max) {
  std::uint64_t value = 0;
  const char *end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc{} || stop != end || text.front() == '+') return std::nullopt;
  if (value < min || value > max) return std::nullopt;
  return value;
}

// Applies one option with its value (empty for flags); returns an error line
// or an empty string.
std::string apply(const OptionInfo &option, std::string_view value, Options &options) {
  // The value is not quoted: a value that went to the wrong option (say,
  // "-n" right before the secret meant for "-s") may be a secret.
  auto bad_number = [&](std::string_view range) {
    return "option " + display_name(option) + " needs " + std::string(range);
  };
  switch (option.id) {
    case OptionId::secret: options.sources.push_back({SecretSource::Kind::value, std::string(value)}); break;
    case OptionId::secrets_file: options.sources.push_back({SecretSource::Kind::file, std::string(value)}); break;
    case OptionId::env: options.sources.push_back({SecretSource::Kind::env, std::string(value)}); break;
    case OptionId::null: options.null_separated = true; break;
    case OptionId::allow_empty: options.allow_empty = true; break;
    case OptionId::check: options.check = true; break;
    case OptionId::help: options.show_help = true; break;
    case OptionId::version: options.show_version = true; break;
    case OptionId::files_with_matches: options.files_with_matches = options.check = true; break;
    case OptionId::count: options.count = options.check = true; break;
    case OptionId::locations: options.locations = options.check = true; break;
    case OptionId::quiet: options.quiet = options.check = true; break;
    case OptionId::in_place: options.in_place = true; break;
    case OptionId::directives: options.directives = true; break;
    case OptionId::merge: options.merge = true; break;
    case OptionId::pty: options.pty = true; break;
    case OptionId::unset_secrets: options.unset_secrets = true; break;
    case OptionId::report:
      if (value.empty()) return "option --report needs a file name";
      options.report_file = std::string(value);
      break;
    case OptionId::control:
      if (value.empty()) return "option --control needs a socket path";
      options.control_path = std::string(value);
      break;
    case OptionId::env_defaults:
      for (std::string_view pattern : DEFAULT_ENV_PATTERNS) {
        options.sources.push_back({SecretSource::Kind::env, std::string(pattern), true});
      }
      break;
    case OptionId::add_secret:   // handled by the caller: it is the whole command line
    case OptionId::exec: break;  // handled by the caller: it takes the rest of the line
    case OptionId::encodings:
      if (!parse_encodings(value, options.forms)) {
        return "option --encodings takes a comma-separated list of lines, base64, base64url, url, json, xml, "
               "shell and default, or 'none' alone";
      }
      break;
    case OptionId::min_length: {
      const auto number = parse_number(value, 0, UINT64_MAX);
      if (!number) return bad_number("a whole number of bytes");
      options.min_length = *number;
      break;
    }
    case OptionId::max_stars: {
      const auto number = parse_number(value, 0, UINT64_MAX);
      if (!number) return bad_number("a whole number");
      options.max_stars = *number;
      break;
    }
    case OptionId::chunk_size: {
      const auto number = parse_number(value, 1, MAX_CHUNK_SIZE);
      if (!number) return bad_number("a number of bytes from 1 to " + std::to_string(MAX_CHUNK_SIZE));
      options.chunk_size = static_cast<std::size_t>(*number);
      break;
    }
  }
  return {};
}

// hushmask --add-secret PATH: the client of --control takes nothing else,
// and above all no value, which would show in the process table.
std::string parse_add_secret(std::span<const std::string_view> args, std::size_t at, std::string_view path,
                             Options &options) {
  // `at` is the index of the path's argument (or of "--add-secret=PATH").
  if (!args[0].starts_with("--add-secret") || at + 1 != args.size()) {
    return "hushmask --add-secret takes the control socket path alone; it reads the secret from standard input";
  }
  if (path.empty()) return "option --add-secret needs the control socket path";
  options.add_secret_path = std::string(path);
  return {};
}

// Options that make sense only with others, or not with others.
std::string check_combinations(const Options &options) {
  const bool exec = !options.command.empty();
  if (exec && !options.files.empty()) return "FILE arguments cannot be mixed with --exec";
  if (!options.report_file.empty() && !wants_reports(options)) {
    return "option --report needs -l, -c or --locations: it names where they go";
  }
  if (options.in_place) {
    if (exec) return "option --in-place masks FILEs: it cannot be mixed with --exec";
    if (reads_text_from_standard_input(options)) {
      return "option --in-place needs FILE arguments: standard input cannot be rewritten";
    }
    if (options.quiet) return "option --in-place writes the FILEs: it cannot be mixed with -q";
  }
  const char *exec_only = options.merge           ? "--merge"
                          : options.pty           ? "--pty"
                          : options.unset_secrets ? "--unset-secrets"
                                                  : nullptr;
  if (exec_only != nullptr && !exec) return "option " + std::string(exec_only) + " applies to --exec only";
  return {};
}

}  // namespace

bool parse_encodings(std::string_view list, std::uint32_t &forms) {
  std::uint32_t chosen = 0;
  bool none = false;
  std::size_t names = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    const std::string_view name = list.substr(start, comma == std::string_view::npos ? list.npos : comma - start);
    ++names;
    if (name == "none") {
      none = true;
    } else if (name == "default") {
      chosen |= HUSHSET_FORMS_DEFAULT;
    } else {
      const FormName *form = find_form(name);
      if (form == nullptr) return false;
      chosen |= form->bit;
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (none && names > 1) return false;
  forms = chosen;
  return true;
}

bool reads_text_from_standard_input(const Options &options) {
  if (!options.command.empty()) return false;
  if (options.files.empty()) return true;
  for (const std::string &file : options.files) {
    if (file == "-") return true;
  }
  return false;
}

std::string_view form_name(std::uint32_t form) {
  for (const FormName &entry : FORM_NAMES) {
    if (entry.bit == form) return entry.name;
  }
  return {};
}

ParsedCommandLine parse_command_line(std::span<const std::string_view> args) {
  ParsedCommandLine parsed;
  Options &options = parsed.options;
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (options_ended || arg == "-" || arg.size() < 2 || arg[0] != '-') {
      options.files.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    if (arg.starts_with("--")) {
      const std::size_t equals = arg.find('=');
      const std::string_view name = arg.substr(2, equals == arg.npos ? arg.npos : equals - 2);
      const OptionInfo *option = find_long(name);
      // Named by its place, not quoted: a secret that starts with "--" and
      // was meant as a FILE or a value lands here too.  (A short option is
      // one byte, which gives nothing away.)
      if (option == nullptr) {
        parsed.error = "the " + ordinal(i + 1) + " argument is an unknown option";
        return parsed;
      }
      if (option->id == OptionId::exec) {
        if (equals != arg.npos) {
          parsed.error = "option --exec takes the command as the arguments after it";
          return parsed;
        }
        options.command.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
        if (options.command.empty()) parsed.error = "option --exec needs a command";
        break;
      }
      std::string_view value;
      if (option->takes_value) {
        if (equals != arg.npos) {
          value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
          value = args[++i];
        } else {
          parsed.error = "option " + display_name(*option) + " needs a value";
          return parsed;
        }
      } else if (equals != arg.npos) {
        parsed.error = "option " + display_name(*option) + " takes no value";
        return parsed;
      }
      if (option->id == OptionId::add_secret) {
        parsed.error = parse_add_secret(args, i, value, options);
        return parsed;
      }
      if (option->id == OptionId::secret) parsed.secret_values.push_back(value);
      parsed.error = apply(*option, value, options);
      if (!parsed.error.empty()) return parsed;
      continue;
    }
    // A cluster of short options: flags until one that takes a value, which
    // takes the rest of the cluster or else the next argument.
    for (std::size_t j = 1; j < arg.size(); ++j) {
      const OptionInfo *option = find_short(arg[j]);
      if (option == nullptr) {
        parsed.error = "unknown option '-" + std::string(1, arg[j]) + "'";
        return parsed;
      }
      std::string_view value;
      if (option->takes_value) {
        if (j + 1 < arg.size()) {
          value = arg.substr(j + 1);
        } else if (i + 1 < args.size()) {
          value = args[++i];
        } else {
          parsed.error = "option -" + std::string(1, option->short_name) + " needs a value";
          return parsed;
        }
        j = arg.size();
      }
      if (option->id == OptionId::secret) parsed.secret_values.push_back(value);
      parsed.error = apply(*option, value, options);
      if (!parsed.error.empty()) return parsed;
    }
  }
  if (!parsed.error.empty()) return parsed;
  parsed.error = check_combinations(options);
  if (!parsed.error.empty()) return parsed;
  std::size_t secrets_on_input = 0;
  for (const SecretSource &source : options.sources) {
    secrets_on_input += source.kind == SecretSource::Kind::file && source.text == "-" ? 1 : 0;
  }
  if (secrets_on_input > 1) {
    parsed.error = "option -f - can be given once: standard input is read to its end";
  } else if (secrets_on_input == 1 && reads_text_from_standard_input(options)) {
    parsed.error = "with -f -, standard input holds the secrets: give the text as FILE arguments (not -) or --exec";
  }
  return parsed;
}

std::string help_text() {
  return R"(Usage: hushmask [OPTIONS] [FILE...]
       hushmask [OPTIONS] --exec COMMAND [ARG...]
       hushmask --add-secret SOCKET < value

Masks known secrets in text.  The first form masks the FILEs one after the
other, as one stream (a secret split across two files is masked), or
standard input when there is none (FILE "-" is standard input too), and
writes the result to standard output.  A FILE that cannot be read is
reported and skipped.  The second form runs COMMAND with its standard
output and standard error masked each on its own way to ours.  The third
adds a secret to a hushmask running with --control SOCKET.  Output is
written as soon as it is final, so `tail -f build.log | hushmask ...` shows
lines as they come.  Each run of secret bytes becomes at most --max-stars
"*" characters.

Secrets (any mix; every option can be given more than once):
  -s, --secret VALUE       mask VALUE.  Command lines are visible to other
                           users of the machine (ps, /proc) until hushmask
                           has overwritten VALUE there: prefer -f or -e
  -f, --secrets-file FILE  mask each line of FILE; LF or CRLF line ends are
                           stripped, empty lines ignored and a UTF-8 byte-
                           order mark at the start dropped.  FILE - reads
                           the secrets from standard input; the text then
                           comes from FILE arguments or --exec
  -0, --null               secrets files hold NUL-separated records instead of
                           lines, so that a secret may span several lines
  -e, --env PATTERN        mask the value of every environment variable whose
                           name matches the shell glob PATTERN ('API_KEY',
                           '*_TOKEN'); quote it so the shell leaves it alone
      --env-defaults       the same for *_PASSWORD, *_SECRET, *_TOKEN,
                           *_PRIVATE_KEY, *_ACCESS_KEY, *_SECRET_KEY,
                           *_API_KEY and *_CONNECTION_STRING, the names CI
                           jobs give their secrets
      --encodings LIST     also mask these forms of each secret (below), a
                           comma-separated list; 'default' (the default) is
                           lines,base64,url,json,xml,shell and may be
                           combined with others; 'none' alone masks each
                           secret only as given
      --min-length N       leave out secrets, lines and forms shorter than N
                           bytes, each named on standard error by its source,
                           form and length, never its value (default 4)
      --allow-empty        with no secret source option at all, pass the
                           input through with a warning instead of failing
A source that yields no secret (an empty variable, an empty file) only gives
a warning, and the input passes through.  Every occurrence of every secret
and form is masked, also one inside another secret.

Secrets added while running (each is masked from then on in every stream,
bytes held back included):
      --directives         a line "::add-mask::VALUE" of the text registers
                           VALUE before the line itself is masked (a CR
                           before its LF is not part of VALUE); with --exec,
                           on both of the command's streams
      --control SOCKET     listen on a Unix socket at SOCKET (mode 0600,
                           removed at exit) and register every line written
                           to it
      --add-secret SOCKET  send standard input, less one trailing LF, to
                           that socket as one secret, and return once it is
                           in force; takes no other argument

Forms, with one example each:
  lines      each line of a multi-line secret, also with surrounding blanks
             trimmed, and the whole with LF or CRLF line ends: the secret
             "key-line-1<LF>key-line-2" also as key-line-1 on its own
  base64     p@ss w/rd as cEBzcyB3L3Jk, also inside a longer blob at any
             byte offset
  base64url  the same in the URL-safe alphabet: ok?~>~ as b2s_fj5-
  url        p@ss w/rd as p%40ss%20w%2Frd, p%40ss%20w/rd or p%40ss+w%2Frd,
             in either hex case
  json       say "hi" as say \"hi\", pässwörd as p\u00e4ssw\u00f6rd
  xml        a&b<c as a&amp;b&lt;c; quotes as &quot; &#34; &apos; &#39;
             or &#x27;, as XML and HTML writers escape text and attributes
  shell      it's-secret as it'\''s-secret, as a shell tracing commands
             prints it, and a value with control bytes in $'...' quoting

Output, checks and reports:
  -n, --max-stars N        replace each masked run by at most N "*"
                           (default 3; 0 removes secrets from the text)
      --check              exit with status 1 when at least one secret was
                           masked (the output is still written)
  -l, --files-with-matches print the name of each input in which something
                           was masked ("-" for standard input)
  -c, --count              print NAME:COUNT, the runs masked, for each input
      --locations          print NAME:LINE:COLUMN:LENGTH for each masked
                           run: 1-based line, byte column, and the run's
                           length in input bytes; never a byte of it.  A
                           run counts in the file where it begins
  -q, --quiet              write no masked output
      --report FILE        write the -l, -c and --locations lines into FILE
                           instead of standard error
The reports and -q imply --check.  With --exec the inputs are named stdout
and stderr.
  -i, --in-place           mask each FILE into a new file in its folder and
                           rename it over the FILE, owner and mode kept; on
                           any failure the FILE is left as it was
      --chunk-size BYTES   read at most BYTES at a time (default 65536)

Running a command:
      --exec COMMAND [ARG...]
                           run COMMAND; every argument after it is COMMAND's.
                           SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2
                           and SIGWINCH are passed on to it; it is killed if
                           hushmask dies; the held-back tail is written
                           before hushmask exits
      --merge              join COMMAND's standard error to its standard
                           output through one stream, in order, so that a
                           secret split across the two is masked
      --pty                run COMMAND with its output on a pseudo-terminal
                           (its size taken from ours when we have one), so
                           that colours and progress bars survive; output
                           is masked like --merge, and standard input stays
                           ours
      --unset-secrets      run COMMAND without the environment variables
                           whose values -e and --env-defaults took
  -h, --help               show this help and exit
      --version            show the version and exit

In CI jobs, one example of each:
  hushmask --env-defaults --unset-secrets --exec npm test
                           mask the job's secrets; the tests do not see them
  hushmask --env-defaults --directives --exec ./job.sh
                           job.sh registers what it mints:
                           echo "::add-mask::$TOKEN"
  hushmask --control /tmp/m.sock --exec ./job.sh
                           and, inside job.sh, for a password from a vault:
                           vault read -field=pw db |
                             hushmask --add-secret /tmp/m.sock
  hushmask -f secrets.txt -q --locations --report leaks.txt logs/*
                           where secrets leaked, before artifacts are kept
  hushmask -f secrets.txt -c logs/* >/dev/null
                           how many runs each log had masked
  hushmask -f secrets.txt -l logs/* >/dev/null
                           which logs had secrets in them
  hushmask -f secrets.txt -i logs/*
                           rewrite the logs masked before upload
  hushmask -e '*_TOKEN' --merge --exec make > build.log
                           one log, in order, split secrets masked
  hushmask -e '*_TOKEN' --pty --exec make
                           keep the build's colours and progress bars

Exit status: 0 when all went well; 1 with --check (or a report option, or
-q) when a secret was masked; 2 on a usage error (no secret source option at
all among them), a secrets file or FILE that cannot be read (the other FILEs
are still masked), exhausted memory or a failed write.  With --exec, the
command's status (128 + N when signal N ended it), 127 when it is not found
and 126 when it cannot be run; with --check, a command that succeeded gives
1 when a secret was masked.  A closed output pipe ends hushmask quietly, with
the status the input read so far gives.
)";
}

}  // namespace hushcli
