// hushmask C++ interface: a thin, header-only C++17 layer over hushmask.h.
//
//   hush::Masker masker;                 // owns one handle
//   masker.insert("hunter2");
//   masker.build();
//   std::string line = masker.mask(text);  // at most 3 '*' per run
//
//   hush::Stream stream(masker);         // one stream at a time per masker
//   for (auto chunk : chunks) out << stream.mask(chunk);
//   out << stream.finish();              // the held-back tail; ready again
//
// and over hushset.h, for masking logs (every occurrence of every secret and
// of its encoded forms; one set, any number of streams):
//
//   hush::Set set({"hunter2", "s3cr3t"});  // adds and builds
//   std::string line = set.mask(text);
//
//   hush::SetStream stdout_stream(set), stderr_stream(set);
//   out << stdout_stream.write(chunk);     // the output that is final
//   out << stdout_stream.finish();         // the held-back tail; ready again
//
// Errors: a Masker's every failure is exhausted memory (or the 2^32 node
// limit of one masker) and is thrown as std::bad_alloc.  A Set throws
// std::bad_alloc for exhausted memory and std::invalid_argument for a bad
// argument (masking with a set that was never built, unknown form bits).
// The C interfaces leave their handles unchanged on failure, so after a
// throw the same call can simply be made again; nothing registered or
// handed out is lost.
//
// Threads: as in C, one Masker (and the Stream over it) is used by one
// thread at a time; different Maskers are independent.  A built Set may
// mask on several threads at once and serve a SetStream per thread; add()
// and build() need every other call on the set and its streams to wait.
#ifndef HUSHMASK_HPP
#define HUSHMASK_HPP

#include <hushmask.h>
#include <hushset.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <new>
#include <stdexcept>
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
  std::string mask(std::string_view text, std::uint64_t max_stars = 3) {
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
  explicit Stream(Masker &masker, std::uint64_t max_stars = 3) noexcept
      : handle_(masker.native_handle()), max_stars_(max_stars) {
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

namespace detail {

// Maps a status of hushset.h to the C++ error model.  HUSHSET_SHORT_BUFFER
// never reaches here: the callers size their buffers from it.
inline void throw_if_set_failed(std::int32_t status, const char *what) {
  if (status == HUSHSET_NOMEM) {
    throw std::bad_alloc();
  }
  if (status != HUSHSET_OK) {
    throw std::invalid_argument(what);
  }
}

inline std::uint8_t *writable_bytes_of(std::string &out, std::size_t offset) noexcept {
  return reinterpret_cast<std::uint8_t *>(out.data() + offset);
}

// Appends the output of `call(out, out_cap, &out_len)` to `out`: asks with
// no room first (a call that produces nothing completes then and there),
// grows `out` by exactly the capacity the library asks for, and trims it to
// what was written.  On a throw `out` is as it was.
template <class Call>
void append_output(std::string &out, Call call, const char *what) {
  const std::size_t old_size = out.size();
  std::uint64_t needed = 0;
  std::int32_t status = call(nullptr, 0, &needed);
  while (status == HUSHSET_SHORT_BUFFER) {
    out.resize(old_size + static_cast<std::size_t>(needed));
    std::uint64_t len = 0;
    status = call(writable_bytes_of(out, old_size), needed, &len);
    if (status == HUSHSET_OK) {
      out.resize(old_size + static_cast<std::size_t>(len));
      return;
    }
    needed = len;  // what a still too short buffer was told it needs
  }
  out.resize(old_size);
  throw_if_set_failed(status, what);
}

}  // namespace detail

// The options of a Set, with the defaults of hushset_options_init.
struct SetOptions {
  // HUSHSET_FORM_* bits: the encoded forms masked besides each secret.
  std::uint32_t forms = HUSHSET_FORMS_DEFAULT;
  // The most '*' that replace one run of secret bytes; 0 removes runs.
  std::uint64_t max_stars = 3;
  // Secrets and forms shorter than this many bytes are left out.
  std::uint64_t min_length = 4;
  // Optional: told of every form left out (hushset_options.diagnostic).
  void (*diagnostic)(void *context, std::int32_t code, std::uint32_t form, std::uint64_t length) = nullptr;
  void *context = nullptr;
};

// Owns one hushset: secrets, their forms and the compiled automaton.  A Set
// built once masks whole texts and serves any number of SetStreams.
// Move-only; a moved-from Set holds no handle, and every call on it throws
// std::invalid_argument.
class Set {
 public:
  // An empty set: add() secrets, then build() before masking.  Throws
  // std::invalid_argument for form bits outside HUSHSET_FORMS_ALL and
  // std::bad_alloc when memory is exhausted.
  explicit Set(const SetOptions &options = {}) : handle_(create(options)) {}

  // A set with these secrets added and built: any range of string-like
  // secrets (a lone string is not a range of secrets).
  template <class Secrets,
            class = std::enable_if_t<
                !std::is_convertible_v<const Secrets &, std::string_view> &&
                std::is_convertible_v<decltype(*std::begin(std::declval<const Secrets &>())), std::string_view>>>
  explicit Set(const Secrets &secrets, const SetOptions &options = {}) : Set(options) {
    for (const auto &secret : secrets) {
      add(secret);
    }
    build();
  }

  explicit Set(std::initializer_list<std::string_view> secrets, const SetOptions &options = {}) : Set(options) {
    for (std::string_view secret : secrets) {
      add(secret);
    }
    build();
  }

  Set(const Set &) = delete;
  Set &operator=(const Set &) = delete;

  Set(Set &&other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

  // Every SetStream of the set being replaced must be gone already.
  Set &operator=(Set &&other) noexcept {
    if (this != &other) {
      hushset_destroy(handle_);
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }

  // Every SetStream of the set must be destroyed first.
  ~Set() { hushset_destroy(handle_); }

  // Adds one secret (any bytes) and its enabled forms; an empty or too
  // short one adds nothing.  Takes effect at the next build().
  void add(std::string_view secret) {
    detail::throw_if_set_failed(hushset_add(handle_, detail::bytes_of(secret), secret.size()),
                                "hush::Set::add: moved-from set");
  }

  // Compiles every secret added so far.  Needed before masking, and again
  // after later additions; streams go on with the rebuilt set at their next
  // write.  On std::bad_alloc the set masks exactly as before.
  void build() { detail::throw_if_set_failed(hushset_build(handle_), "hush::Set::build: moved-from set"); }

  // Masks one whole text: each run of secret bytes becomes at most
  // max_stars '*'.  Only reads the set: may run on several threads at once.
  std::string mask(std::string_view text) const {
    std::string out(text.size(), '\0');
    std::uint64_t out_len = 0;
    detail::throw_if_set_failed(hushset_mask(handle_, detail::bytes_of(text), text.size(),
                                             detail::writable_bytes_of(out, 0), out.size(), &out_len),
                                "hush::Set::mask: the set was never built");
    out.resize(static_cast<std::size_t>(out_len));
    return out;
  }

  // The most bytes a stream of the set holds back (its longest form).
  std::uint64_t hold_limit() const noexcept { return hushset_hold_limit(handle_); }

  // The C handle, for calls this class does not wrap.  Still owned here.
  hushset *native_handle() const noexcept { return handle_; }

  // False only for a moved-from Set.
  explicit operator bool() const noexcept { return handle_ != nullptr; }

 private:
  static hushset *create(const SetOptions &options) {
    if ((options.forms & ~static_cast<std::uint32_t>(HUSHSET_FORMS_ALL)) != 0) {
      throw std::invalid_argument("hush::Set: unknown HUSHSET_FORM_* bits");
    }
    hushset_options raw;
    hushset_options_init(&raw);
    raw.forms = options.forms;
    raw.max_stars = options.max_stars;
    raw.min_length = options.min_length;
    raw.diagnostic = options.diagnostic;
    raw.context = options.context;
    hushset *handle = hushset_new(&raw);
    if (handle == nullptr) {
      throw std::bad_alloc();
    }
    return handle;
  }

  hushset *handle_;
};

// One stream over a built Set: write() masks the next piece of a text and
// returns the output that is final; finish() returns the held-back tail and
// readies the stream for a new text.  Together the outputs are exactly
// set.mask(whole text), however the text was cut.
//
// Many SetStreams of one Set may be used at once, each by one thread at a
// time.  The Set must outlive its streams (moving the Set is fine: the handle
// does not move).  Move-only; a moved-from stream may only be assigned to or
// destroyed.  Every call allocates nothing but the output string.
class SetStream {
 public:
  // Throws std::invalid_argument when the set was never built (or is
  // moved-from) and std::bad_alloc when memory is exhausted.
  explicit SetStream(const Set &set) : handle_(create(set.native_handle())) {}

  SetStream(const SetStream &) = delete;
  SetStream &operator=(const SetStream &) = delete;

  SetStream(SetStream &&other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

  SetStream &operator=(SetStream &&other) noexcept {
    if (this != &other) {
      hushset_stream_destroy(handle_);
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }

  // An unfinished text's held-back bytes are dropped.
  ~SetStream() { hushset_stream_destroy(handle_); }

  // Masks the next piece of the text; returns the output that is final.
  // On a throw nothing was consumed and the same piece may be written again.
  std::string write(std::string_view chunk) {
    std::string out;
    write(chunk, out);
    return out;
  }

  // The same, appending to `out`, whose capacity a host can reuse from call
  // to call.  On a throw `out` is unchanged.
  void write(std::string_view chunk, std::string &out) {
    detail::append_output(
        out,
        [&](std::uint8_t *buffer, std::uint64_t capacity, std::uint64_t *len) noexcept {
          return hushset_write(handle_, detail::bytes_of(chunk), chunk.size(), buffer, capacity, len);
        },
        "hush::SetStream::write: moved-from stream");
  }

  // Ends the text: returns the held-back bytes.  The next write() begins a
  // new text.
  std::string finish() {
    std::string out;
    finish(out);
    return out;
  }

  // The same, appending to `out`.
  void finish(std::string &out) {
    detail::append_output(
        out,
        [&](std::uint8_t *buffer, std::uint64_t capacity, std::uint64_t *len) noexcept {
          return hushset_finish(handle_, buffer, capacity, len);
        },
        "hush::SetStream::finish: moved-from stream");
  }

  // The C handle, for calls this class does not wrap (hushset_stream_report).
  hushset_stream *native_handle() const noexcept { return handle_; }

 private:
  static hushset_stream *create(const hushset *set) {
    hushset_stream *handle = hushset_stream_new(set);
    if (handle != nullptr) {
      return handle;
    }
    // Null is either a set that cannot serve a stream or exhausted memory;
    // an empty whole-text call tells them apart without allocating.
    std::uint64_t len = 0;
    if (hushset_mask(set, nullptr, 0, nullptr, 0, &len) != HUSHSET_OK) {
      throw std::invalid_argument("hush::SetStream: the set was never built");
    }
    throw std::bad_alloc();
  }

  hushset_stream *handle_;
};

}  // namespace hush

#endif  // HUSHMASK_HPP
