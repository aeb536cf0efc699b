// The reports of --check: which inputs had something masked (-l), how many
// runs each (-c) and where each run stands (--locations), written to
// standard error or the --report file.  A report line holds names and
// numbers, never a byte of a run, and is masked by the set all the same.
#ifndef HUSHMASK_CLI_REPORTS_H
#define HUSHMASK_CLI_REPORTS_H

#include <hushset.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "options.h"

namespace hushcli {

class Reports {
 public:
  Reports() = default;
  Reports(const Reports &) = delete;
  Reports &operator=(const Reports &) = delete;
  ~Reports();

  // Takes the flags from `options` and opens the --report file.  Returns
  // false, with the error written, when the file cannot be opened.
  bool open(const Options &options, const hushset *set);

  bool locations() const { return locations_; }

  // A new input, named `name` in reports ("-" for standard input); returns
  // its number.
  std::size_t add_input(std::string name);

  // One run of input `input`, at 1-based `line` and byte `column`, `span`
  // input bytes long.  The --locations line is kept until flush.
  void note_run(std::size_t input, std::uint64_t line, std::uint64_t column, std::uint64_t span);

  // Writes the --locations lines noted so far.
  void flush(const hushset *set);

  // Writes the -c and -l lines, after every input is done.
  void write_summary(const hushset *set);

 private:
  struct Tally {
    std::string name;
    std::uint64_t runs = 0;
  };
  void write_text(const hushset *set, const std::string &text);

  bool files_with_matches_ = false;
  bool count_ = false;
  bool locations_ = false;
  int fd_ = 2;
  std::vector<Tally> inputs_;
  std::string queued_;
};

// The first byte number, in the stream, of each input of one stream, and
// the line ends within them: what turns the offset of a run, as the stream
// reports it, into an input, a line and a column.
class StreamInputs {
 public:
  explicit StreamInputs(Reports &reports) : reports_(reports) {}

  // The bytes read from now on are input `input`'s.
  void begin(std::size_t input);
  // Bytes read, in the order they go into the stream.
  void read(const std::uint8_t *data, std::size_t len);
  // One run, as the stream reports it: offsets only grow.
  void run(std::uint64_t start, std::uint64_t span);
  // The stream was finished: the next one counts from 0 again.
  void restart();

  Reports &reports() { return reports_; }

 private:
  // Line starts after the first, as deltas in 7-bit groups: one or two bytes
  // a line, read once, front to back, as runs come in order.
  struct LineIndex {
    std::vector<std::uint8_t> deltas;
    std::size_t head = 0;          // the next delta to read
    std::uint64_t last_added = 0;  // the last line start added
    std::uint64_t line = 1;        // the line that starts at line_start
    std::uint64_t line_start = 0;
  };
  struct Piece {
    std::size_t input;
    std::uint64_t begin;  // in the stream
    std::uint64_t end;    // in the stream; grows while it is read
    LineIndex lines;
  };

  Reports &reports_;
  std::deque<Piece> pieces_;
  std::uint64_t offset_ = 0;
};

}  // namespace hushcli

#endif
