#include "mask_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "diagnostics.h"
#include "fd_io.h"

namespace hushcli {
namespace {

// Runs inside hushset_write and hushset_finish, which cannot pass an
// exception on: a failure to note the run is kept as a flag.
extern "C" void note_run(void *context, std::uint64_t start, std::uint64_t span) noexcept {
  auto &stream = *static_cast<MaskStream *>(context);
  ++stream.runs;
  if (stream.inputs == nullptr) return;
  try {
    stream.inputs->run(start, span);
  } catch (...) {
    stream.report_failed = true;
  }
}

StreamStatus write_out(MaskStream &stream, std::uint64_t len) {
  if (stream.inputs != nullptr) stream.inputs->reports().flush(stream.secrets->set);
  if (stream.report_failed) return StreamStatus::out_of_memory;
  if (len == 0 || stream.out_fd < 0) return StreamStatus::ok;
  switch (write_all(stream.out_fd, stream.out.data(), static_cast<std::size_t>(len))) {
    case WriteStatus::done: return StreamStatus::ok;
    case WriteStatus::closed: return StreamStatus::output_closed;
    case WriteStatus::failed: break;
  }
  stream.write_error = errno;
  return StreamStatus::write_failed;
}

// The buffer grows to what the call asks for, with room to spare so that
// slowly growing reads do not regrow it each time.
bool make_room(MaskStream &stream, std::uint64_t needed) {
  const std::uint64_t roomier = std::max<std::uint64_t>(needed, stream.out.capacity() + stream.out.capacity() / 2);
  return stream.out.reserve(static_cast<std::size_t>(roomier)) || stream.out.reserve(static_cast<std::size_t>(needed));
}

StreamStatus mask_and_write(MaskStream &stream, const std::uint8_t *data, std::size_t len) {
  for (;;) {
    std::uint64_t out_len = 0;
    const std::int32_t status =
        hushset_write(stream.stream, data, len, stream.out.data(), stream.out.capacity(), &out_len);
    if (status == HUSHSET_OK) return write_out(stream, out_len);
    if (status != HUSHSET_SHORT_BUFFER || !make_room(stream, out_len)) return StreamStatus::out_of_memory;
  }
}

// Hands the scanner's pieces to the stream; a directive's value goes into
// the set first.
class StreamSink final : public DirectiveSink {
 public:
  explicit StreamSink(MaskStream &stream) : stream_(stream) {}
  StreamStatus status = StreamStatus::ok;

  bool pass(const std::uint8_t *data, std::size_t len) override {
    status = mask_and_write(stream_, data, len);
    return status == StreamStatus::ok;
  }
  bool directive(std::string_view value, const std::uint8_t *line, std::size_t len) override {
    // A value that cannot be registered must not be written: the line that
    // holds it is dropped with everything after it.
    if (!add_secret_now(*stream_.secrets, value, "an ::add-mask:: directive")) {
      status = StreamStatus::out_of_memory;
      return false;
    }
    return pass(line, len);
  }

 private:
  MaskStream &stream_;
};

}  // namespace

bool open_stream(MaskStream &stream, SecretSet &secrets, int out_fd, StreamInputs *inputs, bool directives) {
  stream.secrets = &secrets;
  stream.out_fd = out_fd;
  stream.inputs = inputs;
  stream.directives = directives;
  stream.stream = hushset_stream_new(secrets.set);
  if (stream.stream == nullptr) return false;
  hushset_stream_report(stream.stream, note_run, &stream);
  return true;
}

StreamStatus feed(MaskStream &stream, const std::uint8_t *data, std::size_t len) {
  if (!stream.directives) return mask_and_write(stream, data, len);
  StreamSink sink(stream);
  scan_directives(stream.scan, data, len, sink);
  return sink.status;
}

StreamStatus finish(MaskStream &stream) {
  if (stream.directives) {
    StreamSink sink(stream);
    end_directives(stream.scan, sink);
    if (sink.status != StreamStatus::ok) return sink.status;
  }
  for (;;) {
    std::uint64_t out_len = 0;
    const std::int32_t status = hushset_finish(stream.stream, stream.out.data(), stream.out.capacity(), &out_len);
    if (status == HUSHSET_OK) {
      if (stream.inputs != nullptr) stream.inputs->restart();
      return write_out(stream, out_len);
    }
    if (status != HUSHSET_SHORT_BUFFER || !make_room(stream, out_len)) return StreamStatus::out_of_memory;
  }
}

void report_stream_status(const MaskStream &stream, StreamStatus status) {
  const hushset *set = stream.secrets->set;
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
  wipe(stream.scan.pending);
  stream.out.release();
}

}  // namespace hushcli
