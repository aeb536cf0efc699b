// Moving bytes from input descriptors into masked streams, serving the
// control socket in between.
#ifndef HUSHMASK_CLI_PUMP_H
#define HUSHMASK_CLI_PUMP_H

#include <cstddef>
#include <span>
#include <string>

#include "control_socket.h"
#include "hygiene.h"
#include "mask_stream.h"

namespace hushcli {

struct Channel {
  int fd = -1;                     // the input, closed by pump() at its end (standard input is left open)
  MaskStream *stream = nullptr;    // where its bytes go
  StreamInputs *inputs = nullptr;  // told of every byte read, for reports; may be null
  bool finish_at_end = true;       // the stream ends with the input (else the next FILE goes on with it)
  bool eio_is_end = false;         // a pseudo-terminal reads EIO once the other side is closed
  std::string place;               // how messages name the input
  int read_error = 0;              // errno of a failed read; the input then counts as ended
  StreamStatus status = StreamStatus::ok;
};

// What reads go through: it starts small and doubles each time a read
// fills it, up to the chunk size, so that a large --chunk-size costs
// memory only when the input is as large.
struct ReadBuffer {
  Buffer buffer;
  std::size_t limit = 0;
};

// Prepares the buffer; false when not even its first block can be had.
bool open_read_buffer(ReadBuffer &reads, std::size_t chunk_size);

// Reads every channel until each is at its end or its stream failed, and
// serves `control` (may be null) meanwhile.  A channel whose stream stops
// (output closed, failed write, memory) is ended on our side; a failed
// write or exhausted memory ends every other one too, unfinished.
void pump(std::span<Channel *const> channels, ReadBuffer &reads, ControlServer *control);

inline bool failed(StreamStatus status) {
  return status == StreamStatus::write_failed || status == StreamStatus::out_of_memory;
}

}  // namespace hushcli

#endif
