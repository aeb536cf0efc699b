#include "mask_stream.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "diagnostics.h"
#include "fd_io.h"

namespace hushcli {
namespace {

constexpr std::uint8_t STREAMING = 1;

hush_masker *build_masker(const std::vector<std::string_view> &strings) {
  hush_masker *masker = hush_new();
  if (masker == nullptr) return nullptr;
  for (std::string_view bytes : strings) {
    if (hush_insert(masker, reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size()) != 0) {
      hush_destroy(masker);
      return nullptr;
    }
  }
  if (hush_build(masker) != 0) {
    hush_destroy(masker);
    return nullptr;
  }
  return masker;
}

void destroy_chain(MaskChain &chain) {
  for (hush_masker *masker : chain.passes) hush_destroy(masker);
  chain.passes.clear();
}

bool build_chain(MaskChain &chain, const std::vector<RegisteredSecret> &secrets, const SecretLayers &layers,
                 std::uint64_t max_stars) {
  chain.max_stars = max_stars;
  for (std::size_t handle = 0; handle < layers.count; ++handle) {
    hush_masker *masker = build_masker(strings_of_handle(secrets, layers, handle));
    if (masker == nullptr) {
      destroy_chain(chain);
      return false;
    }
    chain.passes.push_back(masker);
  }
  return true;
}

// Masks `len` bytes through the handles of `chain` from `first` on and hands
// the last one's output to emit(data, len), which returns a StreamStatus.
// With `first` past the last handle the bytes go to emit as they are.  A
// chunk that shrinks to nothing on the way stops there: an empty streaming
// chunk would change nothing further down.
template <typename Emit>
StreamStatus mask_through(const MaskChain &chain, std::size_t first, const std::uint8_t *data, std::uint64_t len,
                          Emit &&emit) {
  std::uint8_t *owned = nullptr;  // the previous handle's output, ours to free
  std::uint64_t owned_len = 0;
  for (std::size_t pass = first; pass < chain.passes.size() && len != 0; ++pass) {
    std::uint8_t *out = nullptr;
    std::uint64_t out_len = 0;
    const int32_t status = hush_mask(chain.passes[pass], data, len, chain.max_stars, STREAMING, &out, &out_len);
    hush_free(owned, owned_len);
    if (status != 0) return StreamStatus::out_of_memory;
    owned = out;
    owned_len = out_len;
    data = out;
    len = out_len;
  }
  const StreamStatus emitted = len == 0 ? StreamStatus::ok : emit(data, len);
  hush_free(owned, owned_len);
  return emitted;
}

// The end of the stream for one chain: each handle's held-back bytes are one
// more chunk for the handles after it.  The lent pointer of
// hush_get_reminder stays valid meanwhile, since only later handles are
// called before hush_reset_reminder.
template <typename Emit>
StreamStatus flush_chain(const MaskChain &chain, Emit &&emit) {
  for (std::size_t pass = 0; pass < chain.passes.size(); ++pass) {
    std::uint64_t held_len = 0;
    const std::uint8_t *held = hush_get_reminder(chain.passes[pass], &held_len);
    const StreamStatus status = mask_through(chain, pass + 1, held, held_len, emit);
    hush_reset_reminder(chain.passes[pass]);
    if (status != StreamStatus::ok) return status;
  }
  return StreamStatus::ok;
}

StreamStatus write_out(MaskStream &stream, const std::uint8_t *data, std::uint64_t len) {
  switch (write_all(stream.out_fd, data, static_cast<std::size_t>(len))) {
    case WriteStatus::done: return StreamStatus::ok;
    case WriteStatus::closed: return StreamStatus::output_closed;
    case WriteStatus::failed: break;
  }
  stream.write_error = errno;
  return StreamStatus::write_failed;
}

}  // namespace

bool open_stream(MaskStream &stream, const std::vector<RegisteredSecret> &secrets, const SecretLayers &layers,
                 std::uint64_t max_stars, bool check, int out_fd) {
  stream = MaskStream{};
  stream.out_fd = out_fd;
  stream.counting = check;
  if (!build_chain(stream.masker, secrets, layers, max_stars)) return false;
  if (check && max_stars != 0 && !build_chain(stream.counter, secrets, layers, 0)) {
    close_stream(stream);
    return false;
  }
  return true;
}

StreamStatus feed(MaskStream &stream, const std::uint8_t *data, std::size_t len) {
  std::uint64_t produced = 0;
  const StreamStatus written =
      mask_through(stream.masker, 0, data, len, [&](const std::uint8_t *out, std::uint64_t out_len) {
        produced += out_len;
        return write_out(stream, out, out_len);
      });
  // A chunk whose output was not written is counted neither in nor out.
  if (written != StreamStatus::ok || !stream.counting) return written;
  if (stream.counter.passes.empty()) {
    stream.counted_out += produced;
  } else {
    const StreamStatus counted = mask_through(stream.counter, 0, data, len, [&](const std::uint8_t *, std::uint64_t n) {
      stream.counted_out += n;
      return StreamStatus::ok;
    });
    if (counted != StreamStatus::ok) return counted;
  }
  stream.counted_in += len;
  return StreamStatus::ok;
}

StreamStatus finish(MaskStream &stream) {
  // Every handle is flushed even after the output went away, so that the
  // count of --check covers all that was read.
  StreamStatus written = StreamStatus::ok;
  std::uint64_t produced = 0;
  const StreamStatus flushed = flush_chain(stream.masker, [&](const std::uint8_t *out, std::uint64_t out_len) {
    produced += out_len;
    if (written == StreamStatus::ok) written = write_out(stream, out, out_len);
    return StreamStatus::ok;
  });
  StreamStatus counted = StreamStatus::ok;
  if (stream.counting && stream.counter.passes.empty()) {
    stream.counted_out += produced;
  } else if (stream.counting) {
    counted = flush_chain(stream.counter, [&](const std::uint8_t *, std::uint64_t n) {
      stream.counted_out += n;
      return StreamStatus::ok;
    });
  }
  if (flushed != StreamStatus::ok) return flushed;
  return written != StreamStatus::ok ? written : counted;
}

bool masked_anything(const MaskStream &stream) { return stream.counted_out < stream.counted_in; }

void report_stream_status(const MaskStream &stream, StreamStatus status) {
  switch (status) {
    case StreamStatus::ok:
    case StreamStatus::output_closed: break;
    case StreamStatus::write_failed:
      print_error(std::string("cannot write output: ") + std::strerror(stream.write_error));
      break;
    case StreamStatus::out_of_memory: print_error("out of memory while masking"); break;
  }
}

void close_stream(MaskStream &stream) {
  destroy_chain(stream.masker);
  destroy_chain(stream.counter);
}

}  // namespace hushcli
