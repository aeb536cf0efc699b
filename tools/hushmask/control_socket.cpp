#include "control_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "diagnostics.h"
#include "fd_io.h"
#include "hygiene.h"

namespace hushcli {
namespace {

// More clients than this wait in the listen queue.
constexpr std::size_t MAX_CLIENTS = 16;

// Copied into fixed storage, so that a signal handler can remove the socket.
char signal_path[sizeof(sockaddr_un::sun_path)] = {};

bool make_address(const std::string &path, sockaddr_un &address, std::string &error) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path || path.find('\0') != path.npos) {
    error = "the control socket path is too long for a Unix socket (at most " +
            std::to_string(sizeof address.sun_path - 1) + " bytes)";
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

extern "C" void remove_and_die(int signal_number) {
  if (signal_path[0] != '\0') unlink(signal_path);
  std::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void send_reply(int fd, const char *reply) { (void)send(fd, reply, std::strlen(reply), MSG_NOSIGNAL); }

}  // namespace

bool ControlServer::open(const std::string &path, SecretSet &secrets) {
  secrets_ = &secrets;
  sockaddr_un address;
  std::string error;
  if (!make_address(path, address, error)) {
    print_error(secrets.set, error);
    return false;
  }
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    print_error(secrets.set, std::string("cannot create the control socket: ") + std::strerror(errno));
    return false;
  }
  // The mode is right from the moment the socket exists: no other user can
  // connect in between.
  const mode_t old_mask = umask(0177);
  const int bound = bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
  const int bind_error = errno;
  umask(old_mask);
  if (bound != 0 || listen(fd, 16) != 0) {
    const int listen_error = bound != 0 ? bind_error : errno;
    if (bound == 0) unlink(path.c_str());
    ::close(fd);
    // Named by its place: a value typed where the path goes may be a secret.
    print_error(secrets.set, std::string("cannot listen on the --control socket: ") + std::strerror(listen_error));
    return false;
  }
  listen_fd_ = fd;
  path_ = path;
  std::memcpy(signal_path, address.sun_path, sizeof signal_path);
  return true;
}

void ControlServer::add_poll_entries(std::vector<pollfd> &entries) const {
  if (listen_fd_ < 0) return;
  entries.push_back(pollfd{clients_.size() < MAX_CLIENTS ? listen_fd_ : -1, POLLIN, 0});
  for (const Client &client : clients_) entries.push_back(pollfd{client.fd, POLLIN, 0});
}

void ControlServer::serve(const std::vector<pollfd> &entries, std::size_t first) {
  if (listen_fd_ < 0) return;
  const bool incoming = (entries[first].revents & POLLIN) != 0;
  // Clients first, in the order of the entries, which is theirs.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < clients_.size(); ++i) {
    const short ready = entries[first + 1 + i].revents;
    const bool open = ready == 0 || serve_client(clients_[i]);
    if (!open) continue;
    if (kept != i) clients_[kept] = std::move(clients_[i]);
    ++kept;
  }
  clients_.resize(kept);
  if (incoming) accept_client();
}

void ControlServer::accept_client() {
  const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return;
  // The mode of the socket keeps other users out; root may connect anyway,
  // and an account that the socket was handed to some other way may not.
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || (peer.uid != geteuid() && peer.uid != 0)) {
    ::close(fd);
    return;
  }
  clients_.push_back(Client{fd, Client::Framing::unknown, {}, false});
}

bool ControlServer::serve_client(Client &client) {
  std::uint8_t buffer[4096];
  const ssize_t count = recv(client.fd, buffer, sizeof buffer, 0);
  if (count < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  if (count > 0) {
    std::size_t i = 0;
    const auto len = static_cast<std::size_t>(count);
    if (client.framing == Client::Framing::unknown) {
      client.framing = buffer[0] == '\0' ? Client::Framing::records : Client::Framing::lines;
      if (client.framing == Client::Framing::records) i = 1;
    }
    const char end = client.framing == Client::Framing::records ? '\0' : '\n';
    while (i < len) {
      const auto *at = static_cast<const std::uint8_t *>(std::memchr(buffer + i, end, len - i));
      const std::size_t stop = at == nullptr ? len : static_cast<std::size_t>(at - buffer);
      append_wiped(client.pending, buffer + i, stop - i);
      i = stop;
      if (at == nullptr) break;
      ++i;
      take_record(client, client.pending);
      wipe(client.pending);
    }
    wipe(buffer, len);
    return true;
  }
  // The client is done (or gone): a last record without its end counts.
  if (count == 0) {
    take_record(client, client.pending);
    send_reply(client.fd, client.failed ? "error\n" : "ok\n");
  }
  wipe(client.pending);
  ::close(client.fd);
  return false;
}

void ControlServer::take_record(Client &client, std::string_view record) {
  if (client.framing == Client::Framing::lines && record.ends_with('\r')) record.remove_suffix(1);
  if (record.empty()) return;
  if (!add_secret_now(*secrets_, record, "a secret from the control socket")) {
    print_error(secrets_->set, "out of memory while adding a secret from the control socket");
    client.failed = true;
  }
}

void ControlServer::close() {
  for (Client &client : clients_) {
    wipe(client.pending);
    ::close(client.fd);
  }
  clients_.clear();
  if (listen_fd_ < 0) return;
  ::close(listen_fd_);
  listen_fd_ = -1;
  unlink(path_.c_str());
  signal_path[0] = '\0';
}

void remove_control_socket_on_signal() {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2}) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
    std::signal(signal_number, remove_and_die);
  }
}

int run_add_secret(const std::string &path) {
  std::string value;
  std::uint8_t buffer[65536];
  long count = 0;
  while ((count = read_some(STDIN_FILENO, buffer, sizeof buffer)) > 0) {
    append_wiped(value, buffer, static_cast<std::size_t>(count));
  }
  wipe(buffer, sizeof buffer);
  if (count < 0) {
    print_error(nullptr, std::string("cannot read the secret from standard input: ") + std::strerror(errno));
    wipe(value);
    return 2;
  }
  if (value.ends_with('\n')) value.pop_back();
  if (value.empty()) {
    print_warning(nullptr, "standard input holds no secret: nothing was added");
    return 0;
  }
  if (value.find('\0') != value.npos) {
    print_error(nullptr, "the secret holds a NUL byte, which the control socket cannot carry");
    wipe(value);
    return 2;
  }
  sockaddr_un address;
  std::string error;
  int fd = -1;
  if (make_address(path, address, error)) {
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
      error = std::string("cannot connect to the control socket: ") + std::strerror(errno);
    }
  }
  if (error.empty()) {
    std::string message(1, '\0');
    append_wiped(message, value.data(), value.size());
    append_wiped(message, "", 1);
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(message.data());
    if (write_all(fd, bytes, message.size()) != WriteStatus::done || shutdown(fd, SHUT_WR) != 0) {
      error = std::string("cannot send the secret: ") + std::strerror(errno);
    }
    wipe(message);
  }
  wipe(value);
  if (error.empty()) {
    char reply[16] = {};
    std::size_t got = 0;
    long n = 0;
    while (got < sizeof reply - 1 &&
           (n = read_some(fd, reinterpret_cast<std::uint8_t *>(reply) + got, sizeof reply - 1 - got)) > 0) {
      got += static_cast<std::size_t>(n);
    }
    if (std::string_view(reply, got) != "ok\n") {
      error = got == 0 ? "hushmask behind the control socket ended before it confirmed the secret"
                       : "hushmask behind the control socket could not add the secret";
    }
  }
  if (fd >= 0) ::close(fd);
  if (error.empty()) return 0;
  print_error(nullptr, error);
  return 2;
}

}  // namespace hushcli
