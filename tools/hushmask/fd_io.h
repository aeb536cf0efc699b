// Reading and writing file descriptors without stdio: every byte the library
// hands out goes to the descriptor at once, which is what lets
// `tail -f log | hushmask ...` show each line as it arrives.
#ifndef HUSHMASK_CLI_FD_IO_H
#define HUSHMASK_CLI_FD_IO_H

#include <cstddef>
#include <cstdint>

namespace hushcli {

enum class WriteStatus {
  done,    // every byte was written
  closed,  // the reader went away (EPIPE); the caller ends quietly
  failed,  // any other error; errno tells which
};

// Writes all `len` bytes, across interruptions (EINTR), short writes and a
// descriptor left non-blocking by whoever gave it to us (EAGAIN: waits until
// it is writable).
WriteStatus write_all(int fd, const std::uint8_t *data, std::size_t len);

// Reads at most `capacity` bytes into `buffer`: returns the count, 0 at end
// of input, -1 on an error (errno set).  Retries EINTR and waits on EAGAIN,
// so a non-blocking input behaves like a blocking one.
long read_some(int fd, std::uint8_t *buffer, std::size_t capacity);

}  // namespace hushcli

#endif
