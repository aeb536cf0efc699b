#include "support/occurrence_reference.h"

#include <algorithm>

namespace hush::core::testing {

OccurrenceResult every_occurrence_mask(const std::vector<std::string> &forms, const std::string &text,
                                       std::uint64_t max_stars,
                                       const std::function<bool(std::size_t form, std::size_t start)> &counts) {
  // covered[i]: some occurrence covers byte i; joined[i]: one occurrence
  // covers both byte i - 1 and byte i.
  std::vector<bool> covered(text.size()), joined(text.size());
  for (std::size_t f = 0; f < forms.size(); ++f) {
    const std::string &form = forms[f];
    if (form.empty()) continue;
    for (std::size_t at = text.find(form); at != std::string::npos; at = text.find(form, at + 1)) {
      if (counts && !counts(f, at)) continue;
      for (std::size_t i = at; i < at + form.size(); ++i) {
        covered[i] = true;
        if (i > at) joined[i] = true;
      }
    }
  }
  OccurrenceResult result;
  for (std::size_t i = 0; i < text.size();) {
    if (!covered[i]) {
      result.output.push_back(text[i++]);
      continue;
    }
    std::size_t end = i + 1;
    while (end < text.size() && joined[end]) ++end;
    result.runs.push_back({i, end - i});
    result.output.append(std::min<std::uint64_t>(end - i, max_stars), '*');
    i = end;
  }
  return result;
}

}  // namespace hush::core::testing
