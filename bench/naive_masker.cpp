#include "naive_masker.h"

namespace hush_bench {

MaskResult naive_mask(std::string_view text, const std::vector<std::string> &secrets, std::uint64_t max_stars,
                      std::vector<Interval> &matches, std::uint8_t *out) {
  matches.clear();
  for (const std::string &secret : secrets) {
    // Restarting one byte after each hit finds overlapping occurrences too.
    for (std::size_t at = text.find(secret); at != std::string_view::npos; at = text.find(secret, at + 1)) {
      matches.push_back({at, at + secret.size()});
    }
  }
  return mask_intervals(text, matches, max_stars, out);
}

}  // namespace hush_bench
