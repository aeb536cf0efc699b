// Directives in the masked text: a line "::add-mask::VALUE" registers VALUE
// before the line itself is masked, as CI runners let a job step register a
// secret it has just made.
//
// The scanner only splits bytes: what to mask as it is, and which lines are
// directives.  It keeps back the start of a line for as long as it may
// still turn out to be a directive, and a directive line until its LF.
#ifndef HUSHMASK_CLI_DIRECTIVES_H
#define HUSHMASK_CLI_DIRECTIVES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hushcli {

inline constexpr std::string_view DIRECTIVE_PREFIX = "::add-mask::";

// Where the scanner hands its pieces.  Each returns false to stop the scan.
class DirectiveSink {
 public:
  // Bytes to mask as they are.
  virtual bool pass(const std::uint8_t *data, std::size_t len) = 0;
  // A whole directive line (LF included, when it has one) and its value:
  // the bytes after the prefix, without the LF and a CR right before it.
  virtual bool directive(std::string_view value, const std::uint8_t *line, std::size_t len) = 0;

 protected:
  ~DirectiveSink() = default;
};

struct DirectiveScan {
  std::string pending;        // the line kept back; wiped when it is handed on
  std::size_t matched = 0;    // bytes of the prefix it holds; the whole prefix: a directive
  bool at_line_start = true;  // the next byte starts a line
};

// Scans the next `len` bytes of the text.  Returns false when the sink
// stopped it.
bool scan_directives(DirectiveScan &scan, const std::uint8_t *data, std::size_t len, DirectiveSink &sink);

// Ends the text: a directive without a final LF still counts, a kept-back
// line start is passed on.  The scan is ready for a new text.
bool end_directives(DirectiveScan &scan, DirectiveSink &sink);

}  // namespace hushcli

#endif
