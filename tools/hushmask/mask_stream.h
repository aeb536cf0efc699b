// One masked stream: a chain of library handles in streaming mode whose
// output goes straight to one file descriptor.
//
// The chain has one handle per layer of the secret set (secret_layers.h);
// most sets have one.  Each handle masks what the handle before it handed
// out, and every handle follows the library's stream protocol: each chunk
// goes through hush_mask with the streaming bit set, and at the end its
// held-back bytes (hush_get_reminder) are its final output and are dropped
// (hush_reset_reminder).  So at the end, handle 1's held-back bytes are one
// more chunk for handle 2, whose held-back bytes then go to handle 3, and so
// on; the last handle's output is written as soon as it is handed out.  The
// bytes written are then the text masked by handle 1, then by handle 2, ...,
// however the input was cut into chunks, and nothing waits beyond the
// held-back bytes of each handle.
//
// Telling whether anything was masked (--check) cannot be done by comparing
// output and input: a run of at most max_stars bytes that are all "*" comes
// out unchanged.  So a second chain with the same handles masks the same
// chunks with max_stars 0, which removes every run.  Up to the first handle
// that masks anything both chains pass the text on unchanged, so that handle
// sees the same text in both; every registered secret is at least one byte
// long, so something was masked exactly when the counting chain gave back
// fewer bytes than it was given.  With max_stars 0 the main chain is counted
// itself.
#ifndef HUSHMASK_CLI_MASK_STREAM_H
#define HUSHMASK_CLI_MASK_STREAM_H

#include <hushmask.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "secret_layers.h"
#include "secret_set.h"

namespace hushcli {

// Handles in pass order; each masks the output of the one before it.
struct MaskChain {
  std::vector<hush_masker *> passes;
  std::uint64_t max_stars = 0;
};

struct MaskStream {
  MaskChain masker;
  MaskChain counter;                // the max_stars 0 chain, when one is needed
  int out_fd = -1;
  bool counting = false;            // --check was given
  std::uint64_t counted_in = 0;     // bytes given to the counted chain
  std::uint64_t counted_out = 0;    // bytes it gave back, held-back ones included at the end
  int write_error = 0;              // errno of the last failed write
};

enum class StreamStatus {
  ok,
  output_closed,  // the reader of out_fd went away
  write_failed,   // errno tells why
  out_of_memory,
};

// Creates the chain(s), one handle per layer, with their strings registered
// and built.  Returns false when the library runs out of memory; the stream
// is then closed.
bool open_stream(MaskStream &stream, const std::vector<RegisteredSecret> &secrets, const SecretLayers &layers,
                 std::uint64_t max_stars, bool check, int out_fd);

// Masks one chunk through the chain and writes what the last handle hands
// out.
StreamStatus feed(MaskStream &stream, const std::uint8_t *data, std::size_t len);

// Passes each handle's held-back bytes through the handles after it, writes
// what comes out and drops them: the end of the stream.
StreamStatus finish(MaskStream &stream);

bool masked_anything(const MaskStream &stream);

// Prints the error line for write_failed and out_of_memory; nothing for ok
// and output_closed, since a closed pipe ends a filter quietly.
void report_stream_status(const MaskStream &stream, StreamStatus status);

// Releases the handles.  Safe on a stream that was never opened.
void close_stream(MaskStream &stream);

}  // namespace hushcli

#endif
