// hushmask: masks known secrets in files, standard input or the output of a
// command, through the public interface of libhushset: one set of secrets,
// one stream of it per output.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "control_socket.h"
#include "diagnostics.h"
#include "exec_command.h"
#include "fd_io.h"
#include "filter_files.h"
#include "hygiene.h"
#include "options.h"
#include "reports.h"
#include "secret_set.h"
#include "secret_sources.h"
#include "version.h"

namespace {

using namespace hushcli;

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
  return write_all(STDOUT_FILENO, bytes, text.size()) == WriteStatus::failed ? 2 : 0;
}

// Ignores a signal, and tells whether it was ignored already.
bool ignore(int signal_number) { return std::signal(signal_number, SIG_IGN) == SIG_IGN; }

// The set and the copies of secrets in the options, released and wiped on
// every way out, an exception included.
struct Secrets {
  SecretSet set;
  Options *options = nullptr;
  ~Secrets() {
    close_secret_set(set);
    if (options == nullptr) return;
    for (SecretSource &source : options->sources) {
      if (source.kind == SecretSource::Kind::value) wipe(source.text);
    }
  }
};

int run(int argc, char **argv, rlim_t core_limit) {
  ensure_standard_descriptors();
  StartState start;
  start.core_limit = core_limit;
  // A closed output pipe must show up as EPIPE from write(), which ends the
  // run quietly, rather than kill us before the held-back bytes, the exit
  // status of an --exec command or the other output stream are dealt with;
  // a file grown past RLIMIT_FSIZE must show up as EFBIG, so that an
  // --in-place copy is removed and its original kept.
  start.sigpipe_ignored = ignore(SIGPIPE);
  start.sigxfsz_ignored = ignore(SIGXFSZ);

  const std::vector<std::string_view> args(argv + 1, argv + argc);
  ParsedCommandLine parsed = parse_command_line(args);
  // The values of -s are ours now: overwrite them where `ps` and
  // /proc/PID/cmdline read them.
  for (std::string_view value : parsed.secret_values) {
    std::fill(const_cast<char *>(value.data()), const_cast<char *>(value.data() + value.size()), '*');
  }
  Secrets secrets;
  secrets.options = &parsed.options;
  if (!parsed.error.empty()) {
    print_error(nullptr, parsed.error + " (see hushmask --help)");
    return 2;
  }
  const Options &options = parsed.options;
  if (options.show_help) return print_text(help_text());
  if (options.show_version) return print_text("hushmask " HUSHMASK_CLI_VERSION "\n");
  if (!options.add_secret_path.empty()) return run_add_secret(options.add_secret_path);

  // The set is built from every source before any message about a source
  // is written, so that each message is masked by all the secrets there are.
  if (!open_secret_set(secrets.set, options)) {
    print_error(nullptr, "out of memory while collecting secrets");
    return 2;
  }
  const std::vector<std::string_view> environment = process_environment();
  const GatherResult gathered = gather_secrets(options, environment, secrets.set);
  if (gathered.out_of_memory || secrets.set.diagnostics_lost || !build_secret_set(secrets.set)) {
    // The warnings gathered cannot be masked by a set that is not built, so
    // none of them is written.
    print_error(nullptr, "out of memory while collecting secrets");
    return 2;
  }
  for (SecretSource &source : parsed.options.sources) {
    if (source.kind == SecretSource::Kind::value) wipe(source.text);
  }
  const hushset *set = secrets.set.set;
  for (const std::string &warning : secrets.set.warnings) print_warning(set, warning);
  secrets.set.warnings.clear();
  for (const std::string &error : gathered.errors) print_error(set, error);
  if (!gathered.errors.empty()) return 2;
  if (options.sources.empty() && !options.allow_empty) {
    print_error(set,
                "no secret to mask: give one with -s, -f, -e or --env-defaults (or --allow-empty to pass the "
                "input through)");
    return 2;
  }
  // A source may well yield nothing: an empty or unset variable in a CI
  // job, a secrets file with nothing in it yet.  The text passes through
  // (until a directive or the control socket adds a secret).
  if (hushset_hold_limit(set) == 0) print_warning(set, "no secret to mask: the input passes through unchanged");

  Reports reports;
  const bool reporting = wants_reports(options);
  if (reporting && !reports.open(options, set)) return 2;
  ControlServer control;
  if (!options.control_path.empty()) {
    if (!control.open(options.control_path, secrets.set)) return 2;
    // Signals that end a filter remove the socket first; with --exec they
    // are passed on to the command instead.
    if (options.command.empty()) remove_control_socket_on_signal();
  }
  ControlServer *serving = control.is_open() ? &control : nullptr;
  Reports *reporting_to = reporting ? &reports : nullptr;
  const std::vector<std::string> unset = options.unset_secrets ? gathered.variable_names : std::vector<std::string>{};
  return options.command.empty() ? run_filter(options, secrets.set, reporting_to, serving)
                                 : run_command(options, secrets.set, unset, start, reporting_to, serving);
}

}  // namespace

int main(int argc, char **argv) {
  // Before anything holds a secret: a crash must not write them to disk.
  const rlim_t core_limit = disable_core_dumps();
  try {
    return run(argc, argv, core_limit);
  } catch (const std::bad_alloc &) {
    // Everything that held a secret has been released and wiped on the
    // way here.  The line is fixed text: nothing is left to build one with.
    static constexpr char MESSAGE[] = "hushmask: error: out of memory\n";
    (void)!write(STDERR_FILENO, MESSAGE, sizeof MESSAGE - 1);
    return 2;
  }
}
