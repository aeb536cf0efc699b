#include "exec_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "fd_io.h"
#include "mask_stream.h"

extern char **environ;

namespace hushcli {
namespace {

constexpr int FORWARDED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// The command's pid once it runs; read by the signal handler.
volatile std::sig_atomic_t forward_target = 0;

extern "C" void forward_signal(int signal_number, siginfo_t *info, void *) {
  // The terminal's interrupt and quit keys signal the whole foreground
  // process group, so the command has that signal already (si_code > 0: sent
  // by the kernel); passing it on would deliver it twice.  Signals sent with
  // kill() (si_code <= 0) reach only us.
  if (info != nullptr && info->si_code > 0) return;
  const int saved_errno = errno;
  const auto child = static_cast<pid_t>(forward_target);
  if (child > 0) kill(child, signal_number);
  errno = saved_errno;
}

// Installs forward_signal for every forwarded signal that is not ignored (an
// ignored one stays ignored, for the command too).
void install_forwarding() {
  for (int signal_number : FORWARDED_SIGNALS) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction forward {};
    forward.sa_sigaction = forward_signal;
    forward.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&forward.sa_mask);
    sigaction(signal_number, &forward, nullptr);
  }
}

struct Channel {
  int fd;              // read end of the command's pipe; -1 once finished
  MaskStream *stream;  // masks it to our descriptor of the same number
};

struct Pipes {
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
};

void close_fd(int &fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

void close_pipes(Pipes &pipes) {
  for (int *fd : {&pipes.out[0], &pipes.out[1], &pipes.err[0], &pipes.err[1]}) close_fd(*fd);
}

// Spawns the command with its stdout and stderr on the write ends.  Returns
// 0 or an errno value.  Forwarded signals are blocked around the spawn so a
// signal cannot arrive between the start of the command and the moment its
// pid is known; the command gets the caller's original mask back.
int spawn_command(const std::vector<std::string> &command, const Pipes &pipes, bool sigpipe_ignored, pid_t &pid) {
  sigset_t forwarded, original;
  sigemptyset(&forwarded);
  for (int signal_number : FORWARDED_SIGNALS) sigaddset(&forwarded, signal_number);
  sigprocmask(SIG_BLOCK, &forwarded, &original);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_adddup2(&actions, pipes.out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipes.err[1], STDERR_FILENO);
  // hushmask ignores SIGPIPE to see a closed output as EPIPE; the command
  // gets back what it would have had without us.
  sigset_t defaults;
  sigemptyset(&defaults);
  if (!sigpipe_ignored) sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &original);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<char *> argv;
  for (const std::string &arg : command) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  const int error = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);

  if (error == 0) {
    forward_target = static_cast<std::sig_atomic_t>(pid);
    install_forwarding();
  }
  // A signal that came in meanwhile is delivered now, to the handler.
  sigprocmask(SIG_SETMASK, &original, nullptr);
  return error;
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

// Masks both channels until each is at its end.  Returns false when our
// output failed for a reason other than a closed pipe.
bool pump(const hushset *set, Channel (&channels)[2], std::vector<std::uint8_t> &buffer) {
  bool ok = true;
  pollfd entries[2];
  for (;;) {
    for (std::size_t i = 0; i < 2; ++i) entries[i] = pollfd{channels[i].fd, POLLIN, 0};
    if (channels[0].fd < 0 && channels[1].fd < 0) return ok;
    if (poll(entries, 2, -1) < 0) {
      if (errno == EINTR) continue;
      print_error(set, std::string("cannot wait for the command's output: ") + std::strerror(errno));
      return false;
    }
    for (std::size_t i = 0; i < 2; ++i) {
      Channel &channel = channels[i];
      if (channel.fd < 0 || (entries[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const long count = read_some(channel.fd, buffer.data(), buffer.size());
      StreamStatus status =
          count > 0 ? feed(*channel.stream, buffer.data(), static_cast<std::size_t>(count)) : finish(*channel.stream);
      if (count > 0 && status == StreamStatus::ok) continue;
      // End of this channel: the command closed it, or our side of it is
      // gone.  Closing the read end early makes the command's next write
      // fail with SIGPIPE or EPIPE, as at the end of any pipeline.
      report_stream_status(set, *channel.stream, status);
      if (status == StreamStatus::write_failed || status == StreamStatus::out_of_memory) ok = false;
      close_fd(channel.fd);
    }
  }
}

}  // namespace

int run_command(const Options &options, const hushset *set, bool sigpipe_ignored) {
  MaskStream out_stream, err_stream;
  if (!open_stream(out_stream, set, options.chunk_size, STDOUT_FILENO) ||
      !open_stream(err_stream, set, options.chunk_size, STDERR_FILENO)) {
    print_error(set, "out of memory while starting to mask");
    close_stream(out_stream);
    close_stream(err_stream);
    return 2;
  }
  Pipes pipes;
  if (pipe2(pipes.out, O_CLOEXEC) != 0 || pipe2(pipes.err, O_CLOEXEC) != 0) {
    print_error(set, std::string("cannot create pipes: ") + std::strerror(errno));
    close_pipes(pipes);
    close_stream(out_stream);
    close_stream(err_stream);
    return 2;
  }
  pid_t pid = 0;
  const int spawn_error = spawn_command(options.command, pipes, sigpipe_ignored, pid);
  close_fd(pipes.out[1]);
  close_fd(pipes.err[1]);
  if (spawn_error != 0) {
    // Named by its place: a secret typed where the command goes would be no
    // registered secret.
    print_error(set, std::string("cannot run the --exec command: ") + std::strerror(spawn_error));
    close_pipes(pipes);
    close_stream(out_stream);
    close_stream(err_stream);
    return 2;
  }

  std::vector<std::uint8_t> buffer(options.chunk_size);
  Channel channels[2] = {{pipes.out[0], &out_stream}, {pipes.err[0], &err_stream}};
  pipes.out[0] = pipes.err[0] = -1;  // the channels own them now
  const bool output_ok = pump(set, channels, buffer);
  const int exit_status = wait_for_exit(pid);
  forward_target = 0;
  const bool masked = masked_anything(out_stream) || masked_anything(err_stream);
  close_stream(out_stream);
  close_stream(err_stream);

  if (exit_status < 0) {
    print_error(set, std::string("cannot get the command's exit status: ") + std::strerror(errno));
    return 2;
  }
  if (!output_ok) return 2;
  if (exit_status == 0 && options.check && masked) return 1;
  return exit_status;
}

}  // namespace hushcli
