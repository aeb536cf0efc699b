// hushmask: masks known secrets in files, standard input or the output of a
// command, through the public interface of libhushset: one set of secrets,
// one stream of it per output.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics.h"
#include "exec_command.h"
#include "fd_io.h"
#include "filter_files.h"
#include "options.h"
#include "secret_set.h"
#include "secret_sources.h"
#include "version.h"

namespace {

// A descriptor 0, 1 or 2 that was closed when we started would be handed out
// again by the next open() or pipe(), and text meant for a file or a pipe
// would land on "standard output".  Park /dev/null on each closed one.
void ensure_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0) continue;
    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0 && null_fd != fd) {
      dup2(null_fd, fd);
      close(null_fd);
    }
  }
}

int print_text(std::string_view text) {
  const auto *bytes = reinterpret_cast<const std::uint8_t *>(text.data());
  return hushcli::write_all(STDOUT_FILENO, bytes, text.size()) == hushcli::WriteStatus::failed ? 2 : 0;
}

}  // namespace

int main(int argc, char **argv) {
  using namespace hushcli;
  ensure_standard_descriptors();
  // A closed output pipe must show up as EPIPE from write(), which ends the
  // run quietly, rather than kill us before the held-back bytes, the exit
  // status of an --exec command or the other output stream are dealt with.
  const bool sigpipe_ignored = std::signal(SIGPIPE, SIG_IGN) == SIG_IGN;

  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const ParsedCommandLine parsed = parse_command_line(args);
  if (!parsed.error.empty()) {
    print_error(nullptr, parsed.error + " (see hushmask --help)");
    return 2;
  }
  const Options &options = parsed.options;
  if (options.show_help) return print_text(help_text());
  if (options.show_version) return print_text("hushmask " HUSHMASK_CLI_VERSION "\n");

  // The set is built from every source before any message about a source
  // is written, so that each message is masked by all the secrets there are.
  SecretSet secrets;
  if (!open_secret_set(secrets, options)) {
    print_error(nullptr, "out of memory while collecting secrets");
    return 2;
  }
  const std::vector<std::string_view> environment = process_environment();
  const GatherResult gathered = gather_secrets(options, environment, secrets);
  const bool built = !gathered.out_of_memory && build_secret_set(secrets);
  if (!built) {
    // The warnings gathered cannot be masked by a set that is not built, so
    // none of them is written.
    print_error(nullptr, "out of memory while collecting secrets");
    close_secret_set(secrets);
    return 2;
  }
  const hushset *set = secrets.set;
  for (const std::string &warning : secrets.warnings) print_warning(set, warning);
  for (const std::string &error : gathered.errors) print_error(set, error);
  int status = 0;
  if (!gathered.errors.empty()) {
    status = 2;
  } else if (options.sources.empty() && !options.allow_empty) {
    print_error(set, "no secret to mask: give one with -s, -f or -e (or --allow-empty to pass the input through)");
    status = 2;
  } else {
    // A source may well yield nothing: an empty or unset variable in a CI
    // job, a secrets file with nothing in it yet.  The text passes through.
    if (hushset_hold_limit(set) == 0) print_warning(set, "no secret to mask: the input passes through unchanged");
    status = options.command.empty() ? run_filter(options, set) : run_command(options, set, sigpipe_ignored);
  }
  close_secret_set(secrets);
  return status;
}
