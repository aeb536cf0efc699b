#pragma once
// Reads a fuzzer's input as a sequence of small decisions.  Every read
// succeeds: past the end it yields zeros and empty strings, so a target
// never has to check how much input is left before asking.

#include <cstddef>
#include <cstdint>
#include <string>

namespace hush::core::fuzzing {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t *data, std::size_t size) noexcept : data_(data), size_(size) {}

  [[nodiscard]] bool empty() const noexcept { return offset_ >= size_; }
  [[nodiscard]] std::size_t remaining() const noexcept { return empty() ? 0 : size_ - offset_; }

  [[nodiscard]] std::uint8_t byte() noexcept { return empty() ? 0 : data_[offset_++]; }

  // A number in [0, bound), from one byte for small bounds, two otherwise.
  [[nodiscard]] std::size_t below(std::size_t bound) noexcept {
    if (bound <= 1) return 0;
    std::size_t value = byte();
    if (bound > 256) value = value << 8 | byte();
    return value % bound;
  }

  // Up to `len` bytes (fewer when the input ends first).
  [[nodiscard]] std::string bytes(std::size_t len) {
    const std::size_t take = len < remaining() ? len : remaining();
    std::string result(reinterpret_cast<const char *>(data_ + offset_), take);
    offset_ += take;
    return result;
  }

  // A string of a length drawn from the input (at most max_len), then its
  // bytes.
  [[nodiscard]] std::string sized_bytes(std::size_t max_len) { return bytes(below(max_len + 1)); }

  // Everything not read yet.
  [[nodiscard]] std::string rest() { return bytes(remaining()); }

 private:
  const std::uint8_t *data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

// Narrows raw bytes to three letters, so that short fuzzer inputs produce
// secrets and texts that overlap and chain as often as they can.
inline void narrow_to_abc(std::string &text) {
  for (char &c : text) c = static_cast<char>('a' + static_cast<unsigned char>(c) % 3);
}

}  // namespace hush::core::fuzzing
