// One masked stream: a library handle in streaming mode whose output goes
// straight to one file descriptor.
//
// Protocol, as the library documents it: every chunk goes through hush_mask
// with the streaming bit set and its output is written at once; at the end
// the held-back bytes (hush_get_reminder) are written and dropped
// (hush_reset_reminder).  The bytes written are then exactly the masked
// text, however the input was cut into chunks.
//
// Telling whether anything was masked (--check) cannot be done by comparing
// output and input: a run of at most max_stars bytes that are all "*" comes
// out unchanged.  So a second handle with the same secrets masks the same
// chunks with max_stars 0, which removes every run; every registered secret
// is at least one byte long, so something was masked exactly when that
// handle gave back fewer bytes than it was given.  With max_stars 0 the main
// handle is counted itself.
#ifndef HUSHMASK_CLI_MASK_STREAM_H
#define HUSHMASK_CLI_MASK_STREAM_H

#include <hushmask.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "secret_set.h"

namespace hushcli {

struct MaskStream {
  hush_masker *masker = nullptr;
  hush_masker *counter = nullptr;  // the max_stars 0 handle, when one is needed
  std::uint64_t max_stars = 0;
  int out_fd = -1;
  bool counting = false;            // --check was given
  std::uint64_t counted_in = 0;     // bytes given to the counted handle
  std::uint64_t counted_out = 0;    // bytes it gave back, held-back ones included at the end
  int write_error = 0;              // errno of the last failed write
};

enum class StreamStatus {
  ok,
  output_closed,  // the reader of out_fd went away
  write_failed,   // errno tells why
  out_of_memory,
};

// Creates the handle(s) with every secret registered and built.  Returns
// false when the library runs out of memory; the stream is then closed.
bool open_stream(MaskStream &stream, const std::vector<RegisteredSecret> &secrets, std::uint64_t max_stars,
                 bool check, int out_fd);

// Masks one chunk and writes what the library hands out.
StreamStatus feed(MaskStream &stream, const std::uint8_t *data, std::size_t len);

// Writes the held-back bytes and drops them: the end of the stream.
StreamStatus finish(MaskStream &stream);

bool masked_anything(const MaskStream &stream);

// Prints the error line for write_failed and out_of_memory; nothing for ok
// and output_closed, since a closed pipe ends a filter quietly.
void report_stream_status(const MaskStream &stream, StreamStatus status);

// Releases the handles.  Safe on a stream that was never opened.
void close_stream(MaskStream &stream);

}  // namespace hushcli

#endif
