#include "fd_io.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace hushcli {
namespace {

// Blocks until `fd` is ready for `events`.  poll's own errors are ignored:
// the next read or write reports whatever is wrong with the descriptor.
void wait_for(int fd, short events) {
  pollfd entry{fd, events, 0};
  while (poll(&entry, 1, -1) < 0 && errno == EINTR) {
  }
}

}  // namespace

WriteStatus write_all(int fd, const std::uint8_t *data, std::size_t len) {
  while (len > 0) {
    const ssize_t written = write(fd, data, len);
    if (written >= 0) {
      data += written;
      len -= static_cast<std::size_t>(written);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      wait_for(fd, POLLOUT);
      continue;
    }
    return errno == EPIPE ? WriteStatus::closed : WriteStatus::failed;
  }
  return WriteStatus::done;
}

long read_some(int fd, std::uint8_t *buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t count = read(fd, buffer, capacity);
    if (count >= 0) return static_cast<long>(count);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      wait_for(fd, POLLIN);
      continue;
    }
    return -1;
  }
}

}  // namespace hushcli
