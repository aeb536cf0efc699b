// One masked stream: a stream of the secret set whose output goes straight
// to one file descriptor.
//
// Output goes through a buffer of the largest read plus the set's hold
// limit, which hushset_write and hushset_finish never need more than.
// Whether anything was masked (--check) comes from the stream's run
// reports: comparing output with input could not tell, since a run of at
// most max_stars bytes that are all "*" comes out unchanged.
#ifndef HUSHMASK_CLI_MASK_STREAM_H
#define HUSHMASK_CLI_MASK_STREAM_H

#include <hushset.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hushcli {

struct MaskStream {
  hushset_stream *stream = nullptr;
  int out_fd = -1;
  std::vector<std::uint8_t> out;  // largest read + hold limit
  std::uint64_t runs = 0;         // runs masked so far; the stream's report callback counts them here
  int write_error = 0;            // errno of the last failed write
};

enum class StreamStatus {
  ok,
  output_closed,  // the reader of out_fd went away
  write_failed,   // errno tells why
  out_of_memory,
};

// Creates the stream over the built `set` for reads of at most
// `largest_read` bytes.  Returns false when memory runs out; the stream is
// then closed.  The stream's reports point into `stream`, which must not
// move until it is closed.
bool open_stream(MaskStream &stream, const hushset *set, std::size_t largest_read, int out_fd);

// Masks one read and writes what is final.
StreamStatus feed(MaskStream &stream, const std::uint8_t *data, std::size_t len);

// Writes the held-back bytes: the end of the stream.
StreamStatus finish(MaskStream &stream);

inline bool masked_anything(const MaskStream &stream) { return stream.runs != 0; }

// Prints the error line for write_failed and out_of_memory, masked by
// `set`; nothing for ok and output_closed, since a closed pipe ends a
// filter quietly.
void report_stream_status(const hushset *set, const MaskStream &stream, StreamStatus status);

// Releases the stream.  Safe on a stream that was never opened.
void close_stream(MaskStream &stream);

}  // namespace hushcli

#endif
