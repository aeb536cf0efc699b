#include "directives.h"

#include <cstring>

#include "hygiene.h"

namespace hushcli {
namespace {

const std::uint8_t *bytes_of(const std::string &text) { return reinterpret_cast<const std::uint8_t *>(text.data()); }

bool flush_pending(DirectiveScan &scan, DirectiveSink &sink) {
  const bool ok = scan.pending.empty() || sink.pass(bytes_of(scan.pending), scan.pending.size());
  wipe(scan.pending);
  scan.matched = 0;
  return ok;
}

bool hand_on_directive(DirectiveScan &scan, DirectiveSink &sink) {
  std::string_view value(scan.pending);
  value.remove_prefix(DIRECTIVE_PREFIX.size());
  if (value.ends_with('\n')) {
    value.remove_suffix(1);
    if (value.ends_with('\r')) value.remove_suffix(1);
  }
  const bool ok = sink.directive(value, bytes_of(scan.pending), scan.pending.size());
  wipe(scan.pending);
  scan.matched = 0;
  scan.at_line_start = true;
  return ok;
}

}  // namespace

bool scan_directives(DirectiveScan &scan, const std::uint8_t *data, std::size_t len, DirectiveSink &sink) {
  std::size_t i = 0;
  while (i < len) {
    if (scan.matched == DIRECTIVE_PREFIX.size()) {
      // Inside a directive: keep everything up to its LF.
      const auto *lf = static_cast<const std::uint8_t *>(std::memchr(data + i, '\n', len - i));
      const std::size_t end = lf == nullptr ? len : static_cast<std::size_t>(lf - data) + 1;
      append_wiped(scan.pending, data + i, end - i);
      i = end;
      if (lf != nullptr && !hand_on_directive(scan, sink)) return false;
      continue;
    }
    if (scan.at_line_start) {
      while (i < len && scan.matched < DIRECTIVE_PREFIX.size() &&
             data[i] == static_cast<std::uint8_t>(DIRECTIVE_PREFIX[scan.matched])) {
        append_wiped(scan.pending, data + i, 1);
        ++scan.matched;
        ++i;
      }
      if (scan.matched == DIRECTIVE_PREFIX.size() || i == len) continue;
      // Not a directive: what was kept back is ordinary text, and so is the
      // rest of the line, data[i] included.
      scan.at_line_start = false;
      if (!flush_pending(scan, sink)) return false;
    }
    const auto *lf = static_cast<const std::uint8_t *>(std::memchr(data + i, '\n', len - i));
    const std::size_t end = lf == nullptr ? len : static_cast<std::size_t>(lf - data) + 1;
    if (!sink.pass(data + i, end - i)) return false;
    i = end;
    scan.at_line_start = lf != nullptr;
  }
  return true;
}

bool end_directives(DirectiveScan &scan, DirectiveSink &sink) {
  const bool ok = scan.matched == DIRECTIVE_PREFIX.size() ? hand_on_directive(scan, sink) : flush_pending(scan, sink);
  scan.at_line_start = true;
  return ok;
}

}  // namespace hushcli
