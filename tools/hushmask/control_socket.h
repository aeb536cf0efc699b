// The control socket: --control PATH listens on a Unix socket at PATH and
// adds every line written to it to the secret set while the text is being
// masked; hushmask --add-secret PATH is its client.
//
// What a connection sends: secrets one a line (LF ends a line, a CR right
// before it is dropped, as with directives), or, when its first byte is
// NUL, NUL-terminated records taken verbatim, so that a secret may span
// lines (--add-secret sends that way).  Every record is in force before
// the next byte of any stream is masked.  Once the client has shut down
// its side, the server answers "ok\n", or "error\n" when memory ran out,
// and closes: the client returns only after its secrets are in force.
#ifndef HUSHMASK_CLI_CONTROL_SOCKET_H
#define HUSHMASK_CLI_CONTROL_SOCKET_H

#include <poll.h>

#include <cstddef>
#include <string>
#include <vector>

#include "secret_set.h"

namespace hushcli {

class ControlServer {
 public:
  ControlServer() = default;
  ControlServer(const ControlServer &) = delete;
  ControlServer &operator=(const ControlServer &) = delete;
  ~ControlServer() { close(); }

  // Listens at `path`, readable and writable by our user alone.  Returns
  // false with the error written.
  bool open(const std::string &path, SecretSet &secrets);
  bool is_open() const { return listen_fd_ >= 0; }

  // Appends the descriptors to wait on to `entries`.
  void add_poll_entries(std::vector<pollfd> &entries) const;
  // Serves what `entries` (as add_poll_entries left them, from `first` on)
  // say is ready.
  void serve(const std::vector<pollfd> &entries, std::size_t first);

  // Closes every connection and removes the socket.
  void close();

 private:
  struct Client {
    int fd;
    enum class Framing { unknown, lines, records } framing;
    std::string pending;  // a record not ended yet; wiped when handed on
    bool failed;
  };
  void accept_client();
  // Returns false when the client is done with and closed.
  bool serve_client(Client &client);
  void take_record(Client &client, std::string_view record);

  int listen_fd_ = -1;
  std::string path_;
  SecretSet *secrets_ = nullptr;
  std::vector<Client> clients_;
};

// The path of an open control socket, for a handler of a signal that ends
// the process: it removes the socket before the process goes.
void remove_control_socket_on_signal();

// hushmask --add-secret PATH: sends standard input, less one trailing LF,
// as one secret.  Returns the exit status: 0 once the server has it in
// force (or when standard input holds nothing), 2 otherwise.
int run_add_secret(const std::string &path);

}  // namespace hushcli

#endif
