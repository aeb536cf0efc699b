#include "support/reference_masker.h"

#include <algorithm>
#include <set>

namespace hush::core::testing {

ReferenceResult reference_mask(const std::vector<Bytes> &secrets, const Bytes &text, std::uint64_t max_stars) {
  std::set<Bytes> secret_set;
  std::set<Bytes> prefixes;
  std::size_t longest = 0;
  for (const Bytes &secret : secrets) {
    if (secret.empty()) continue;
    secret_set.insert(secret);
    longest = std::max(longest, secret.size());
    for (std::size_t n = 1; n <= secret.size(); ++n) prefixes.insert(secret.substr(0, n));
  }

  // Matches as [first, last] byte ranges, in order of their last byte.
  std::vector<std::pair<std::size_t, std::size_t>> matches;
  for (std::size_t end = 1; end <= text.size(); ++end) {
    for (std::size_t len = std::min(longest, end); len > 0; --len) {
      const Bytes suffix = text.substr(end - len, len);
      if (prefixes.count(suffix) == 0) continue;
      if (secret_set.count(suffix) != 0) matches.emplace_back(end - len, end - 1);
      break;  // only the longest suffix counts
    }
  }

  ReferenceResult result;
  std::size_t copied = 0;
  for (std::size_t m = 0; m < matches.size();) {
    const std::size_t first = matches[m].first;
    std::size_t last = matches[m].second;
    for (++m; m < matches.size() && matches[m].first <= last; ++m) last = std::max(last, matches[m].second);
    result.output.append(text, copied, first - copied);
    result.output.append(std::min<std::uint64_t>(last - first + 1, max_stars), '*');
    copied = last + 1;
    ++result.runs;
  }
  result.output.append(text, copied, Bytes::npos);
  return result;
}

}  // namespace hush::core::testing
