#include "diagnostics.h"

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "fd_io.h"

namespace hushcli {
namespace {

void print_line(const hushset *set, std::string_view kind, std::string_view text) {
  std::string line = "hushmask: ";
  line += kind;
  line += text;
  // The line end is masked with the rest: a secret that ends in LF is whole
  // only with it.
  line += '\n';
  const auto *bytes = reinterpret_cast<const std::uint8_t *>(line.data());
  std::vector<std::uint8_t> out(line.size() + 1);
  std::uint64_t out_len = line.size();
  if (set == nullptr) {
    std::memcpy(out.data(), bytes, line.size());
  } else if (hushset_mask(set, bytes, line.size(), out.data(), line.size(), &out_len) != HUSHSET_OK) {
    // A message that cannot be masked (memory exhausted) is not written at
    // all: nothing would show that it holds no secret.
    return;
  }
  if (out_len == 0 || out[out_len - 1] != '\n') out[out_len++] = '\n';
  // Nothing useful can be done when standard error itself fails.
  (void)write_all(STDERR_FILENO, out.data(), static_cast<std::size_t>(out_len));
}

}  // namespace

void print_warning(const hushset *set, std::string_view text) { print_line(set, "warning: ", text); }

void print_error(const hushset *set, std::string_view text) { print_line(set, "error: ", text); }

std::string ordinal(std::size_t n) {
  static constexpr std::string_view WORDS[] = {"first", "second",  "third",  "fourth", "fifth",
                                               "sixth", "seventh", "eighth", "ninth",  "tenth"};
  if (n >= 1 && n <= std::size(WORDS)) return std::string(WORDS[n - 1]);
  const std::size_t tens = n % 100 / 10;
  const std::size_t units = n % 10;
  const char *suffix = tens == 1 || units == 0 || units > 3 ? "th" : units == 1 ? "st" : units == 2 ? "nd" : "rd";
  return std::to_string(n) + suffix;
}

}  // namespace hushcli
