#include "secret_sources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "diagnostics.h"
#include "env_match.h"
#include "fd_io.h"
#include "hygiene.h"
#include "secret_records.h"

extern char **environ;

namespace hushcli {
namespace {

constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

// Reads `fd` to its end; returns false with errno set on failure.
bool read_all(int fd, std::string &content) {
  // Every block the content passes through is wiped before it is freed.
  std::uint8_t buffer[65536];
  long count = 0;
  for (;;) {
    count = read_some(fd, buffer, sizeof buffer);
    if (count <= 0) break;
    append_wiped(content, buffer, static_cast<std::size_t>(count));
  }
  wipe(buffer, sizeof buffer);
  return count == 0;
}

bool same_file(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Reads the secrets file `path` ("-": standard input), which messages call
// `file`, into `content`; returns an error line, or nothing.
std::string read_secrets_file(const Options &options, const std::string &path, const std::string &file,
                              std::string &content) {
  const std::string cannot_read = "cannot read " + file + ": ";
  if (path == "-") return read_all(STDIN_FILENO, content) ? std::string() : cannot_read + std::strerror(errno);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return cannot_read + std::strerror(errno);
  std::string error;
  struct stat info {};
  struct stat input {};
  if (fstat(fd, &info) != 0) {
    error = cannot_read + std::strerror(errno);
  } else if (S_ISDIR(info.st_mode)) {
    error = cannot_read + std::strerror(EISDIR);
  } else if (reads_text_from_standard_input(options) && fstat(STDIN_FILENO, &input) == 0 && same_file(info, input)) {
    // /dev/stdin, /proc/self/fd/0 or the file redirected to us: reading it
    // as secrets would take the text.
    error = file + " is the standard input that the text is read from: give the text as FILE arguments or --exec";
  } else if (!read_all(fd, content)) {
    error = cannot_read + std::strerror(errno);
  }
  close(fd);
  return error;
}

bool has_glob_characters(std::string_view pattern) { return pattern.find_first_of("*?[\\") != pattern.npos; }

}  // namespace

std::vector<std::string_view> process_environment() {
  std::vector<std::string_view> entries;
  for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) entries.emplace_back(*entry);
  return entries;
}

GatherResult gather_secrets(const Options &options, std::span<const std::string_view> environment, SecretSet &set) {
  // Paths and patterns are never quoted in a message, only their place: a
  // secret typed where a name goes (-e "$TOKEN" for -e TOKEN) is no
  // registered secret, so masking would not hide it.
  GatherResult result;
  std::size_t values = 0, files = 0, patterns = 0;
  auto add = [&](std::string_view value, std::string source) {
    if (!add_secret(set, value, std::move(source))) result.out_of_memory = true;
  };
  for (const SecretSource &source : options.sources) {
    if (result.out_of_memory) break;
    switch (source.kind) {
      case SecretSource::Kind::value: add(source.text, "-s #" + std::to_string(++values)); break;
      case SecretSource::Kind::file: {
        ++files;
        const std::string file =
            source.text == "-" ? std::string("the secrets on standard input") : "the " + ordinal(files) + " -f file";
        std::string content;
        std::string error = read_secrets_file(options, source.text, file, content);
        if (!error.empty()) {
          wipe(content);
          result.errors.push_back(std::move(error));
          break;
        }
        std::string_view records = content;
        if (records.starts_with(UTF8_BOM)) {
          // Editors on Windows start UTF-8 files with it; it is never meant
          // as part of the first secret.
          records.remove_prefix(UTF8_BOM.size());
          set.warnings.push_back(file + " starts with a UTF-8 byte-order mark: dropped");
        }
        const auto separator = options.null_separated ? RecordSeparator::nul : RecordSeparator::line;
        const std::string unit = options.null_separated ? "record " : "line ";
        const std::vector<SecretRecord> found = split_secret_records(records, separator);
        if (found.empty()) set.warnings.push_back(file + " holds no secret");
        for (const SecretRecord &record : found)
          add(record.value, unit + std::to_string(record.number) + " of " + file);
        wipe(content);
        break;
      }
      case SecretSource::Kind::env: {
        // The --env-defaults patterns are ours, not the caller's: one that
        // matches nothing is the usual case and says nothing.
        const std::string pattern = source.builtin ? "--env-defaults" : "the " + ordinal(++patterns) + " -e pattern";
        const std::vector<EnvSecret> matches = match_environment(environment, source.text);
        if (matches.empty() && !source.builtin) set.warnings.push_back(pattern + " matches no variable");
        // A pattern without glob characters is a name, and the variable is
        // named by the pattern's place; the names a glob picks out come from
        // the environment, not from the command line.
        const bool glob = has_glob_characters(source.text);
        for (const EnvSecret &match : matches) {
          result.variable_names.emplace_back(match.name);
          add(match.value, glob ? "variable " + std::string(match.name) + " of " + pattern
                                : "the " + ordinal(patterns) + " -e variable");
        }
        break;
      }
    }
  }
  return result;
}

}  // namespace hushcli
