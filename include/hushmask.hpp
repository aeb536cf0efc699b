// hushmask C++ interface: a thin, header-only C++17 layer over hushmask.h.
//
//   hush::Masker masker;                 // owns one handle
//   masker.insert("hunter2");
//   masker.build();
//   std::string line = masker.mask(text, 3);
//
//   hush::Stream stream(masker, 3);      // one stream at a time per masker
//   for (auto chunk : chunks) out << stream.mask(chunk);
//   out << stream.finish();              // the held-back tail; ready again
//
// Errors: every failure of the C interface is exhausted memory (or the 2^32
// node limit of one masker) and is thrown as std::bad_alloc.  The C
// interface leaves the handle unchanged on failure, so after a throw the
// same call can simply be made again; nothing registered or handed out is
// lost.
//
// Threads: as in C, one Masker (and the Stream over it) is used by one
// thread at a time; different Maskers are independent.
#ifndef HUSHMASK_HPP
#define HUSHMASK_HPP

#include <hushmask.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace hush {

namespace detail {

// Maps a status of the C interface to the C++ error model: 0 is success,
// every other value (only -1 is ever returned) is a resource failure.
inline void throw_if_failed(std::int32_t status) {
  if (status != 0) {
    throw std::bad_alloc();
  }
}

inline const std::uint8_t *bytes_of(std::string_view text) noexcept {
  return reinterpret_cast<const std::uint8_t *>(text.data());
}

// Copies one output block of hush_mask into a std::string and gives the block
// back to the library, also when the copy itself throws.
inline std::string take_output(std::uint8_t *out, std::uint64_t out_len) {
  struct Release {
    std::uint8_t *block;
    std::uint64_t len;
    ~Release() { hush_free(block, len); }
  } release{out, out_len};
  return std::string(reinterpret_cast<const char *>(out), static_cast<std::size_t>(out_len));
}

// Drops held-back bytes and puts the walk back at its start: a non-streaming
// call over an empty text does both, and does them even when it fails.
inline void reset_walk(hush_masker *handle) noexcept {
  std::uint8_t *out = nullptr;
  std::uint64_t out_len = 0;
  if (hush_mask(handle, nullptr, 0, 0, 0, &out, &out_len) == 0) {
    hush_free(out, out_len);
  }
}

}  // namespace detail

// Owns one masker handle.  Move-only; a moved-from Masker holds no handle and
// may only be assigned to or destroyed.
class Masker {
 public:
  // A masker with no secrets.  Throws std::bad_alloc when memory is exhausted.
  Masker() : handle_(hush_new()) {
    if (handle_ == nullptr) {
      throw std::bad_alloc();
    }
  }

  // A masker with these secrets registered and the automaton built: any
  // range of string-like secrets (a lone string is not a range of secrets).
  template <class Secrets,
            class = std::enable_if_t<
                !std::is_convertible_v<const Secrets &, std::string_view> &&
                std::is_convertible_v<decltype(*std::begin(std::declval<const Secrets &>())), std::string_view>>>
  explicit Masker(const Secrets &secrets) : Masker() {
    for (const auto &secret : secrets) {
      insert(secret);
    }
    build();
  }

  explicit Masker(std::initializer_list<std::string_view> secrets) : Masker() {
    for (std::string_view secret : secrets) {
      insert(secret);
    }
    build();
  }

  Masker(const Masker &) = delete;
  Masker &operator=(const Masker &) = delete;

  Masker(Masker &&other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

  Masker &operator=(Masker &&other) noexcept {
    if (this != &other) {
      hush_destroy(handle_);
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }

  ~Masker() { hush_destroy(handle_); }

  // Registers one secret (any bytes; empty does nothing).  Call build()
  // after the last insertion and before masking.
  void insert(std::string_view secret) {
    detail::throw_if_failed(hush_insert(handle_, detail::bytes_of(secret), secret.size()));
  }

  // Completes the automaton over every secret inserted so far.
  void build() { detail::throw_if_failed(hush_build(handle_)); }

  // Masks one whole text: each run of secret bytes becomes at most
  // `max_stars` '*' (0 removes secrets).  Abandons any stream in progress on
  // this masker.
  std::string mask(std::string_view text, std::uint64_t max_stars) {
    std::uint8_t *out = nullptr;
    std::uint64_t out_len = 0;
    detail::throw_if_failed(hush_mask(handle_, detail::bytes_of(text), text.size(), max_stars, 0, &out, &out_len));
    return detail::take_output(out, out_len);
  }

  // The C handle, for calls this class does not wrap.  Still owned here.
  hush_masker *native_handle() const noexcept { return handle_; }

  // False only for a moved-from Masker.
  explicit operator bool() const noexcept { return handle_ != nullptr; }

 private:
  hush_masker *handle_;
};

// Masks one text that arrives in chunks.  Concatenating every mask() result
// and then finish() gives exactly masker.mask(whole text, max_stars), however
// the text was cut.
//
// A Stream borrows its Masker's handle: the Masker must outlive it (moving
// the Masker is fine, the handle does not move), and while a Stream is in
// progress the Masker must not be used for anything else.  Move-only.
class Stream {
 public:
  // Starts a fresh stream, whatever the masker was doing before.
  Stream(Masker &masker, std::uint64_t max_stars) noexcept : handle_(masker.native_handle()), max_stars_(max_stars) {
    detail::reset_walk(handle_);
  }

  Stream(const Stream &) = delete;
  Stream &operator=(const Stream &) = delete;

  Stream(Stream &&other) noexcept : handle_(std::exchange(other.handle_, nullptr)), max_stars_(other.max_stars_) {}

  Stream &operator=(Stream &&other) noexcept {
    if (this != &other) {
      abandon();
      handle_ = std::exchange(other.handle_, nullptr);
      max_stars_ = other.max_stars_;
    }
    return *this;
  }

  // An unfinished stream drops its held-back bytes, so the masker starts
  // afresh for whoever uses it next.
  ~Stream() { abandon(); }

  // Masks the next chunk and returns the output that is final so far; the
  // tail that may still become a secret is held back for the next call.
  // On std::bad_alloc nothing has changed and the chunk may be passed again.
  std::string mask(std::string_view chunk) {
    std::uint8_t *out = nullptr;
    std::uint64_t out_len = 0;
    detail::throw_if_failed(hush_mask(handle_, detail::bytes_of(chunk), chunk.size(), max_stars_, 1, &out, &out_len));
    return detail::take_output(out, out_len);
  }

  // Ends the text: returns the held-back bytes and resets, so the next
  // mask() call starts a new text.  On std::bad_alloc nothing has changed.
  std::string finish() {
    std::uint64_t len = 0;
    const std::uint8_t *held = hush_get_reminder(handle_, &len);
    std::string tail(reinterpret_cast<const char *>(held), static_cast<std::size_t>(len));
    detail::reset_walk(handle_);
    return tail;
  }

  std::uint64_t max_stars() const noexcept { return max_stars_; }

 private:
  void abandon() noexcept {
    if (handle_ != nullptr) {
      detail::reset_walk(handle_);
    }
  }

  hush_masker *handle_;
  std::uint64_t max_stars_;
};

}  // namespace hush

#endif  // HUSHMASK_HPP
