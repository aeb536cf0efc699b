#include "mask_stream.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "diagnostics.h"
#include "fd_io.h"

namespace hushcli {
namespace {

extern "C" void count_run(void *context, std::uint64_t, std::uint64_t) { ++*static_cast<std::uint64_t *>(context); }

StreamStatus write_out(MaskStream &stream, std::uint64_t len) {
  if (len == 0) return StreamStatus::ok;
  switch (write_all(stream.out_fd, stream.out.data(), static_cast<std::size_t>(len))) {
    case WriteStatus::done: return StreamStatus::ok;
    case WriteStatus::closed: return StreamStatus::output_closed;
    case WriteStatus::failed: break;
  }
  stream.write_error = errno;
  return StreamStatus::write_failed;
}

// The buffer is sized so that no call is short of room; a status other than
// HUSHSET_OK is memory running out.
StreamStatus masked(int32_t status) { return status == HUSHSET_OK ? StreamStatus::ok : StreamStatus::out_of_memory; }

}  // namespace

bool open_stream(MaskStream &stream, const hushset *set, std::size_t largest_read, int out_fd) {
  stream = MaskStream{};
  stream.out_fd = out_fd;
  stream.stream = hushset_stream_new(set);
  if (stream.stream == nullptr) return false;
  stream.out.resize(largest_read + static_cast<std::size_t>(hushset_hold_limit(set)));
  hushset_stream_report(stream.stream, count_run, &stream.runs);
  return true;
}

StreamStatus feed(MaskStream &stream, const std::uint8_t *data, std::size_t len) {
  std::uint64_t out_len = 0;
  const StreamStatus status =
      masked(hushset_write(stream.stream, data, len, stream.out.data(), stream.out.size(), &out_len));
  return status == StreamStatus::ok ? write_out(stream, out_len) : status;
}

StreamStatus finish(MaskStream &stream) {
  std::uint64_t out_len = 0;
  const StreamStatus status = masked(hushset_finish(stream.stream, stream.out.data(), stream.out.size(), &out_len));
  return status == StreamStatus::ok ? write_out(stream, out_len) : status;
}

void report_stream_status(const hushset *set, const MaskStream &stream, StreamStatus status) {
  switch (status) {
    case StreamStatus::ok:
    case StreamStatus::output_closed: break;
    case StreamStatus::write_failed:
      print_error(set, std::string("cannot write output: ") + std::strerror(stream.write_error));
      break;
    case StreamStatus::out_of_memory: print_error(set, "out of memory while masking"); break;
  }
}

void close_stream(MaskStream &stream) {
  hushset_stream_destroy(stream.stream);
  stream.stream = nullptr;
}

}  // namespace hushcli
