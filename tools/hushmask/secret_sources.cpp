#include "secret_sources.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "env_match.h"
#include "fd_io.h"
#include "secret_records.h"

extern char **environ;

namespace hushcli {
namespace {

// Reads a whole file; returns false with errno set on failure.
bool read_file(const std::string &path, std::string &content) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::uint8_t buffer[65536];
  for (;;) {
    const long count = read_some(fd, buffer, sizeof buffer);
    if (count < 0) {
      const int saved = errno;
      close(fd);
      errno = saved;
      return false;
    }
    if (count == 0) break;
    content.append(reinterpret_cast<const char *>(buffer), static_cast<std::size_t>(count));
  }
  close(fd);
  return true;
}

}  // namespace

std::vector<std::string_view> process_environment() {
  std::vector<std::string_view> entries;
  for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) entries.emplace_back(*entry);
  return entries;
}

std::string gather_secrets(const Options &options, std::span<const std::string_view> environment, SecretSet &set) {
  std::size_t value_count = 0;
  for (const SecretSource &source : options.sources) {
    switch (source.kind) {
      case SecretSource::Kind::value:
        add_secret(set, source.text, "--secret #" + std::to_string(++value_count));
        break;
      case SecretSource::Kind::file: {
        std::string content;
        if (!read_file(source.text, content)) {
          return "cannot read secrets file '" + source.text + "': " + std::strerror(errno);
        }
        const auto separator = options.null_separated ? RecordSeparator::nul : RecordSeparator::line;
        const std::string where = "secrets file '" + source.text + "' " +
                                  (options.null_separated ? "record " : "line ");
        for (const SecretRecord &record : split_secret_records(content, separator)) {
          add_secret(set, record.value, where + std::to_string(record.number));
        }
        break;
      }
      case SecretSource::Kind::env: {
        const std::vector<EnvSecret> matches = match_environment(environment, source.text);
        if (matches.empty()) {
          set.warnings.push_back("no environment variable matches '" + source.text + "'");
        }
        for (const EnvSecret &match : matches) {
          add_secret(set, match.value, "environment variable " + std::string(match.name));
        }
        break;
      }
    }
  }
  return {};
}

}  // namespace hushcli
