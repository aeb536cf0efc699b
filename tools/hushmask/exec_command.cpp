#include "exec_command.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics.h"
#include "hygiene.h"
#include "pump.h"

extern char **environ;

namespace hushcli {
namespace {

constexpr int FORWARDED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGWINCH};

// What the signal handler reads: the command once it runs, and with --pty
// the terminal it runs on and ours.
volatile std::sig_atomic_t forward_target = 0;
volatile std::sig_atomic_t pty_master = -1;
volatile std::sig_atomic_t our_terminal = -1;

void copy_window_size() {
  winsize size{};
  if (our_terminal >= 0 && ioctl(our_terminal, TIOCGWINSZ, &size) == 0) ioctl(pty_master, TIOCSWINSZ, &size);
}

extern "C" void forward_signal(int signal_number, siginfo_t *info, void *) {
  const int saved_errno = errno;
  const auto child = static_cast<pid_t>(forward_target);
  // Sent by the kernel (si_code > 0): a key of our terminal or its new size.
  const bool from_kernel = info != nullptr && info->si_code > 0;
  if (pty_master >= 0) {
    // The command has a terminal and a session of its own, which our
    // terminal's keys do not reach: everything is passed on, to its whole
    // process group as its terminal would.  A new size of ours becomes its
    // terminal's, which signals it.
    if (signal_number == SIGWINCH) copy_window_size();
    if (child > 0 && !(signal_number == SIGWINCH && from_kernel) && kill(-child, signal_number) != 0) {
      kill(child, signal_number);
    }
  } else if (child > 0 && !from_kernel) {
    // The terminal signals its whole foreground process group, which the
    // command is in: passing such a signal on would deliver it twice.
    kill(child, signal_number);
  }
  errno = saved_errno;
}

void install_forwarding() {
  for (int signal_number : FORWARDED_SIGNALS) {
    struct sigaction current {};
    // An ignored signal stays ignored, for the command too.
    if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction forward {};
    forward.sa_sigaction = forward_signal;
    forward.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&forward.sa_mask);
    sigaction(signal_number, &forward, nullptr);
  }
}

void close_fd(int &fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// The descriptors the command's output goes through.
struct Plumbing {
  int out[2] = {-1, -1};  // stdout, and stderr with --merge
  int err[2] = {-1, -1};
  int master = -1;  // --pty
  int slave = -1;
  ~Plumbing() {
    for (int *fd : {&out[0], &out[1], &err[0], &err[1], &master, &slave}) close_fd(*fd);
  }
};

// Opens the pseudo-terminal: no LF-to-CRLF rewriting, since our own output
// goes to a terminal that does its own, or to a log; the size of our
// terminal when we have one.
std::string open_pty(Plumbing &plumbing) {
  plumbing.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (plumbing.master < 0 || grantpt(plumbing.master) != 0 || unlockpt(plumbing.master) != 0) {
    return std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
  }
  char name[128];
  if (ptsname_r(plumbing.master, name, sizeof name) != 0 ||
      (plumbing.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0) {
    return std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
  }
  termios modes{};
  if (tcgetattr(plumbing.slave, &modes) == 0) {
    modes.c_oflag &= ~static_cast<tcflag_t>(ONLCR);
    tcsetattr(plumbing.slave, TCSANOW, &modes);
  }
  for (int fd : {STDOUT_FILENO, STDERR_FILENO, STDIN_FILENO}) {
    if (isatty(fd)) {
      our_terminal = fd;
      break;
    }
  }
  pty_master = plumbing.master;
  copy_window_size();
  return {};
}

struct Command {
  std::vector<char *> argv;
  std::vector<char *> envp;
};

Command make_command(const std::vector<std::string> &command, const std::vector<std::string> &unset) {
  Command made;
  for (const std::string &arg : command) made.argv.push_back(const_cast<char *>(arg.c_str()));
  made.argv.push_back(nullptr);
  for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    if (std::find(unset.begin(), unset.end(), name) == unset.end()) made.envp.push_back(*entry);
  }
  made.envp.push_back(nullptr);
  return made;
}

// In the child, between fork and exec: only system calls, no allocation.
[[noreturn]] void start_child(const Options &options, const Plumbing &plumbing, const Command &command,
                              const StartState &start, const sigset_t &original_mask, pid_t parent, int report_fd) {
  // Killed when hushmask dies: nothing could mask its output any more.
  prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
  if (getppid() != parent) raise(SIGKILL);
  if (options.pty) {
    setsid();
    ioctl(plumbing.slave, TIOCSCTTY, 0);
    dup2(plumbing.slave, STDOUT_FILENO);
    dup2(plumbing.slave, STDERR_FILENO);
  } else {
    dup2(plumbing.out[1], STDOUT_FILENO);
    dup2(options.merge ? plumbing.out[1] : plumbing.err[1], STDERR_FILENO);
  }
  // What hushmask set for itself goes back to what it was given.
  if (!start.sigpipe_ignored) std::signal(SIGPIPE, SIG_DFL);
  if (!start.sigxfsz_ignored) std::signal(SIGXFSZ, SIG_DFL);
  restore_core_limit(start.core_limit);
  sigprocmask(SIG_SETMASK, &original_mask, nullptr);
  execvpe(command.argv[0], command.argv.data(), command.envp.data());
  const int error = errno;
  (void)!write(report_fd, &error, sizeof error);
  _exit(127);
}

int wait_for_exit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Starts the command.  Returns 0, the errno value of an exec that failed,
// or minus the errno value of our own failure (no pipe, no fork).
// Forwarded signals are blocked until the pid is known.
int spawn(const Options &options, Plumbing &plumbing, const Command &command, const StartState &start, pid_t &pid) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return -errno;
  sigset_t forwarded, original;
  sigemptyset(&forwarded);
  for (int signal_number : FORWARDED_SIGNALS) sigaddset(&forwarded, signal_number);
  sigprocmask(SIG_BLOCK, &forwarded, &original);
  const pid_t parent = getpid();
  pid = fork();
  if (pid == 0) start_child(options, plumbing, command, start, original, parent, report[1]);
  const int fork_error = errno;
  close(report[1]);
  if (pid > 0) {
    forward_target = static_cast<std::sig_atomic_t>(pid);
    install_forwarding();
  }
  // A signal that came in meanwhile is delivered now, to the handler.
  sigprocmask(SIG_SETMASK, &original, nullptr);
  if (pid < 0) {
    close(report[0]);
    return -fork_error;
  }
  // The report pipe closes at exec, or carries the errno of a failed one.
  int exec_error = 0;
  ssize_t got = 0;
  while ((got = read(report[0], &exec_error, sizeof exec_error)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (got != static_cast<ssize_t>(sizeof exec_error)) return 0;
  wait_for_exit(pid);
  forward_target = 0;
  return exec_error;
}

}  // namespace

int run_command(const Options &options, SecretSet &secrets, const std::vector<std::string> &unset,
                const StartState &start, Reports *reports, ControlServer *control) {
  const hushset *set = secrets.set;
  const bool one_stream = options.merge || options.pty;
  Plumbing plumbing;
  std::string error;
  if (options.pty) {
    error = open_pty(plumbing);
  } else if (pipe2(plumbing.out, O_CLOEXEC) != 0 || (!one_stream && pipe2(plumbing.err, O_CLOEXEC) != 0)) {
    error = std::string("cannot create pipes: ") + std::strerror(errno);
  }
  if (!error.empty()) {
    print_error(set, error);
    return 2;
  }
  ReadBuffer reads;
  if (!open_read_buffer(reads, options.chunk_size)) {
    print_error(set, "out of memory while starting to mask");
    return 2;
  }
  const Command command = make_command(options.command, unset);

  std::unique_ptr<StreamInputs> inputs[2];
  MaskStream streams[2];
  const int out_fds[2] = {STDOUT_FILENO, STDERR_FILENO};
  const char *names[2] = {"stdout", "stderr"};
  const std::size_t count = one_stream ? 1 : 2;
  for (std::size_t i = 0; i < count; ++i) {
    if (reports != nullptr) {
      inputs[i] = std::make_unique<StreamInputs>(*reports);
      inputs[i]->begin(reports->add_input(names[i]));
    }
    if (!open_stream(streams[i], secrets, options.quiet ? -1 : out_fds[i], inputs[i].get(), options.directives)) {
      print_error(set, "out of memory while starting to mask");
      for (MaskStream &stream : streams) close_stream(stream);
      return 2;
    }
  }

  pid_t pid = 0;
  const int spawn_error = spawn(options, plumbing, command, start, pid);
  for (int *fd : {&plumbing.out[1], &plumbing.err[1], &plumbing.slave}) close_fd(*fd);
  if (spawn_error != 0) {
    // Named by its place: a secret typed where the command goes would be no
    // registered secret.  As env, timeout and xargs do: 127 for a command
    // not found, 126 for one found that cannot be run.
    const bool ours = spawn_error < 0;
    print_error(set, std::string(ours ? "cannot start the --exec command: " : "cannot run the --exec command: ") +
                         std::strerror(ours ? -spawn_error : spawn_error));
    for (MaskStream &stream : streams) close_stream(stream);
    return ours ? 2 : spawn_error == ENOENT ? 127 : 126;
  }

  Channel channels[2];
  Channel *active[2] = {&channels[0], &channels[1]};
  for (std::size_t i = 0; i < count; ++i) {
    channels[i].stream = &streams[i];
    channels[i].inputs = inputs[i].get();
    channels[i].place = names[i];
  }
  // The signal handler sizes the terminal through plumbing.master until
  // pty_master is reset; pump() closes a copy.
  channels[0].fd = options.pty ? fcntl(plumbing.master, F_DUPFD_CLOEXEC, 3) : plumbing.out[0];
  channels[0].eio_is_end = options.pty;
  if (!one_stream) channels[1].fd = plumbing.err[0];
  plumbing.out[0] = plumbing.err[0] = -1;  // pump() closes them
  pump(std::span<Channel *const>(active, count), reads, control);
  const int exit_status = wait_for_exit(pid);
  const int wait_error = errno;
  forward_target = 0;
  pty_master = -1;
  close_fd(plumbing.master);

  bool output_ok = true;
  bool masked = false;
  for (std::size_t i = 0; i < count; ++i) {
    if (channels[i].read_error != 0) {
      print_error(set, "cannot read the command's " + channels[i].place + ": " + std::strerror(channels[i].read_error));
      output_ok = false;
    }
    report_stream_status(streams[i], channels[i].status);
    if (failed(channels[i].status)) output_ok = false;
    masked = masked || masked_anything(streams[i]);
    close_stream(streams[i]);
  }
  if (reports != nullptr) reports->write_summary(set);
  if (exit_status < 0) {
    print_error(set, std::string("cannot get the command's exit status: ") + std::strerror(wait_error));
    return 2;
  }
  if (!output_ok) return 2;
  if (exit_status == 0 && options.check && masked) return 1;
  return exit_status;
}

}  // namespace hushcli
