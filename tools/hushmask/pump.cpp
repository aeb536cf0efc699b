#include "pump.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "fd_io.h"

namespace hushcli {
namespace {

constexpr std::size_t FIRST_READ_SIZE = 65536;

// Closing our side at once matters for a stream that stopped early: the
// command's next write fails with SIGPIPE or EPIPE, as at the end of any
// pipeline, instead of blocking on a pipe nobody reads.
void end_channel(Channel &channel) {
  if (channel.fd > STDIN_FILENO) close(channel.fd);
  channel.fd = -1;
}

// One read of a ready channel.
void read_channel(Channel &channel, ReadBuffer &reads) {
  Buffer &buffer = reads.buffer;
  const long count = read_some(channel.fd, buffer.data(), buffer.capacity());
  if (count < 0 && !(channel.eio_is_end && errno == EIO)) channel.read_error = errno;
  if (count > 0) {
    const auto len = static_cast<std::size_t>(count);
    if (channel.inputs != nullptr) channel.inputs->read(buffer.data(), len);
    channel.status = feed(*channel.stream, buffer.data(), len);
    // A full read asks for a larger one next; without the memory for it,
    // reads simply stay at this size.
    if (len == buffer.capacity() && len < reads.limit) {
      (void)buffer.reserve(std::min(reads.limit, len * 2));
    }
    if (channel.status != StreamStatus::ok) end_channel(channel);
    return;
  }
  if (channel.finish_at_end) channel.status = finish(*channel.stream);
  end_channel(channel);
}

}  // namespace

bool open_read_buffer(ReadBuffer &reads, std::size_t chunk_size) {
  reads.limit = chunk_size;
  return reads.buffer.reserve(std::min(chunk_size, FIRST_READ_SIZE));
}

void pump(std::span<Channel *const> channels, ReadBuffer &reads, ControlServer *control) {
  std::vector<pollfd> entries;
  for (;;) {
    entries.clear();
    bool open = false;
    for (Channel *channel : channels) {
      entries.push_back(pollfd{channel->fd, POLLIN, 0});
      open = open || channel->fd >= 0;
    }
    if (!open) return;
    const std::size_t control_first = entries.size();
    if (control != nullptr) control->add_poll_entries(entries);
    if (poll(entries.data(), entries.size(), -1) < 0) {
      if (errno == EINTR) continue;
      for (Channel *channel : channels) {
        if (channel->fd >= 0) channel->read_error = errno;
        end_channel(*channel);
      }
      return;
    }
    // Secrets sent to the control socket are in force before the next
    // byte of text is masked.
    if (control != nullptr) control->serve(entries, control_first);
    for (std::size_t i = 0; i < channels.size(); ++i) {
      Channel &channel = *channels[i];
      if (channel.fd < 0 || (entries[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      read_channel(channel, reads);
      if (failed(channel.status)) {
        // A stream that cannot go on (above all, a secret that could not be
        // registered) stops every stream, unfinished: what they hold back
        // is lost, never written unmasked.
        for (Channel *other : channels) end_channel(*other);
        return;
      }
    }
  }
}

}  // namespace hushcli
