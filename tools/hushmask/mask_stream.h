// One masked stream: a stream of the secret set whose output goes straight
// to one file descriptor.
//
// Output goes through a buffer that grows to what hushset_write asks for
// (the write plus the set's hold limit, which a rebuild may raise), so it
// costs memory only as input arrives.  Whether anything was masked
// (--check) comes from the stream's run reports: comparing output with
// input could not tell, since a run of at most max_stars bytes that are all
// "*" comes out unchanged.
//
// With directives on, lines of the form ::add-mask::VALUE register VALUE in
// the set before they are masked themselves.
#ifndef HUSHMASK_CLI_MASK_STREAM_H
#define HUSHMASK_CLI_MASK_STREAM_H

#include <hushset.h>

#include <cstddef>
#include <cstdint>

#include "directives.h"
#include "hygiene.h"
#include "reports.h"
#include "secret_set.h"

namespace hushcli {

enum class StreamStatus {
  ok,
  output_closed,  // the reader of out_fd went away
  write_failed,   // errno tells why
  out_of_memory,
};

struct MaskStream {
  hushset_stream *stream = nullptr;
  SecretSet *secrets = nullptr;  // shared by every stream; directives add to it
  int out_fd = -1;               // -1: the output is dropped (-q)
  Buffer out;
  std::uint64_t runs = 0;          // runs masked so far, counted by the stream's reports
  int write_error = 0;             // errno of the last failed write
  StreamInputs *inputs = nullptr;  // the reports' view of this stream; null without reports
  bool report_failed = false;      // memory ran out while a run was noted
  bool directives = false;
  DirectiveScan scan;
};

// Creates the stream over the built set.  Returns false when memory runs
// out; the stream is then closed.  The stream's reports point into
// `stream`, which must not move until it is closed.
bool open_stream(MaskStream &stream, SecretSet &secrets, int out_fd, StreamInputs *inputs, bool directives);

// Masks the next bytes of the text and writes what is final.
StreamStatus feed(MaskStream &stream, const std::uint8_t *data, std::size_t len);

// Writes the held-back bytes: the end of the text.
StreamStatus finish(MaskStream &stream);

inline bool masked_anything(const MaskStream &stream) { return stream.runs != 0; }

// Prints the error line for write_failed and out_of_memory, masked by the
// set; nothing for ok and output_closed, since a closed pipe ends a filter
// quietly.
void report_stream_status(const MaskStream &stream, StreamStatus status);

// Releases the stream and its kept-back bytes.  Safe on a stream that was
// never opened.
void close_stream(MaskStream &stream);

}  // namespace hushcli

#endif
