#include "mask_stream.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "diagnostics.h"
#include "fd_io.h"

namespace hushcli {
namespace {

constexpr std::uint8_t STREAMING = 1;

hush_masker *build_masker(const std::vector<RegisteredSecret> &secrets) {
  hush_masker *masker = hush_new();
  if (masker == nullptr) return nullptr;
  for (const RegisteredSecret &secret : secrets) {
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(secret.bytes.data());
    if (hush_insert(masker, bytes, secret.bytes.size()) != 0) {
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

bool open_stream(MaskStream &stream, const std::vector<RegisteredSecret> &secrets, std::uint64_t max_stars,
                 bool check, int out_fd) {
  stream = MaskStream{};
  stream.max_stars = max_stars;
  stream.out_fd = out_fd;
  stream.counting = check;
  stream.masker = build_masker(secrets);
  if (stream.masker == nullptr) return false;
  if (check && max_stars != 0) {
    stream.counter = build_masker(secrets);
    if (stream.counter == nullptr) {
      close_stream(stream);
      return false;
    }
  }
  return true;
}

StreamStatus feed(MaskStream &stream, const std::uint8_t *data, std::size_t len) {
  if (len == 0) return StreamStatus::ok;
  std::uint8_t *out = nullptr;
  std::uint64_t out_len = 0;
  if (hush_mask(stream.masker, data, len, stream.max_stars, STREAMING, &out, &out_len) != 0) {
    return StreamStatus::out_of_memory;
  }
  const StreamStatus written = write_out(stream, out, out_len);
  hush_free(out, out_len);
  if (written != StreamStatus::ok || !stream.counting) return written;

  if (stream.counter == nullptr) {
    stream.counted_out += out_len;
  } else {
    std::uint8_t *counted = nullptr;
    std::uint64_t counted_len = 0;
    if (hush_mask(stream.counter, data, len, 0, STREAMING, &counted, &counted_len) != 0) {
      return StreamStatus::out_of_memory;
    }
    hush_free(counted, counted_len);
    stream.counted_out += counted_len;
  }
  stream.counted_in += len;
  return StreamStatus::ok;
}

StreamStatus finish(MaskStream &stream) {
  std::uint64_t held_len = 0;
  const std::uint8_t *held = hush_get_reminder(stream.masker, &held_len);
  const StreamStatus written = write_out(stream, held, held_len);
  hush_reset_reminder(stream.masker);
  if (stream.counting) {
    if (stream.counter == nullptr) {
      stream.counted_out += held_len;
    } else {
      std::uint64_t counted_held = 0;
      (void)hush_get_reminder(stream.counter, &counted_held);
      stream.counted_out += counted_held;
      hush_reset_reminder(stream.counter);
    }
  }
  return written;
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
  hush_destroy(stream.masker);
  hush_destroy(stream.counter);
  stream.masker = nullptr;
  stream.counter = nullptr;
}

}  // namespace hushcli
