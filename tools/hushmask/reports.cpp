#include "reports.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "diagnostics.h"
#include "fd_io.h"

namespace hushcli {

Reports::~Reports() {
  if (fd_ > 2) close(fd_);
}

bool Reports::open(const Options &options, const hushset *set) {
  files_with_matches_ = options.files_with_matches;
  count_ = options.count;
  locations_ = options.locations;
  if (options.report_file.empty()) return true;
  fd_ = ::open(options.report_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ >= 0) return true;
  fd_ = 2;
  // Named by its place: a value typed where the name goes may be a secret.
  print_error(set, std::string("cannot write the --report file: ") + std::strerror(errno));
  return false;
}

std::size_t Reports::add_input(std::string name) {
  inputs_.push_back(Tally{std::move(name), 0});
  return inputs_.size() - 1;
}

void Reports::note_run(std::size_t input, std::uint64_t line, std::uint64_t column, std::uint64_t span) {
  Tally &tally = inputs_[input];
  ++tally.runs;
  if (!locations_) return;
  queued_ += tally.name;
  for (std::uint64_t number : {line, column, span}) {
    queued_ += ':';
    queued_ += std::to_string(number);
  }
  queued_ += '\n';
}

void Reports::flush(const hushset *set) {
  if (queued_.empty()) return;
  write_text(set, queued_);
  queued_.clear();
}

void Reports::write_summary(const hushset *set) {
  std::string text;
  if (count_) {
    for (const Tally &tally : inputs_) text += tally.name + ':' + std::to_string(tally.runs) + '\n';
  }
  if (files_with_matches_) {
    for (const Tally &tally : inputs_) {
      if (tally.runs != 0) text += tally.name + '\n';
    }
  }
  write_text(set, text);
}

void Reports::write_text(const hushset *set, const std::string &text) {
  if (text.empty()) return;
  // A name may be a registered secret: the lines are masked like any text.
  const auto *bytes = reinterpret_cast<const std::uint8_t *>(text.data());
  std::string out(text.size(), '\0');
  std::uint64_t out_len = 0;
  auto *out_bytes = reinterpret_cast<std::uint8_t *>(out.data());
  if (hushset_mask(set, bytes, text.size(), out_bytes, out.size(), &out_len) != HUSHSET_OK) {
    print_error(set, "out of memory while writing a report");
    return;
  }
  if (write_all(fd_, out_bytes, static_cast<std::size_t>(out_len)) == WriteStatus::failed) {
    print_error(set, std::string("cannot write a report: ") + std::strerror(errno));
  }
}

void StreamInputs::begin(std::size_t input) { pieces_.push_back(Piece{input, offset_, offset_, {}}); }

void StreamInputs::read(const std::uint8_t *data, std::size_t len) {
  Piece &piece = pieces_.back();
  if (reports_.locations()) {
    LineIndex &lines = piece.lines;
    const std::uint8_t *at = data;
    const std::uint8_t *end = data + len;
    while ((at = static_cast<const std::uint8_t *>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)))) !=
           nullptr) {
      ++at;
      const std::uint64_t start = piece.end + static_cast<std::uint64_t>(at - data) - piece.begin;
      std::uint64_t delta = start - lines.last_added;
      lines.last_added = start;
      while (delta >= 0x80) {
        lines.deltas.push_back(static_cast<std::uint8_t>(delta | 0x80));
        delta >>= 7;
      }
      lines.deltas.push_back(static_cast<std::uint8_t>(delta));
    }
  }
  piece.end += len;
  offset_ += len;
}

void StreamInputs::run(std::uint64_t start, std::uint64_t span) {
  // A run belongs to the input it begins in; inputs before it are done with.
  while (pieces_.size() > 1 && pieces_.front().end <= start) pieces_.pop_front();
  if (pieces_.empty()) return;
  Piece &piece = pieces_.front();
  LineIndex &lines = piece.lines;
  const std::uint64_t at = start - piece.begin;
  while (lines.head < lines.deltas.size()) {
    std::uint64_t delta = 0;
    std::size_t next = lines.head;
    for (unsigned shift = 0;; shift += 7) {
      const std::uint8_t byte = lines.deltas[next++];
      delta |= std::uint64_t{byte & 0x7Fu} << shift;
      if ((byte & 0x80) == 0) break;
    }
    if (lines.line_start + delta > at) break;
    lines.line_start += delta;
    ++lines.line;
    lines.head = next;
  }
  if (lines.head > 4096 && lines.head > lines.deltas.size() / 2) {
    lines.deltas.erase(lines.deltas.begin(), lines.deltas.begin() + static_cast<std::ptrdiff_t>(lines.head));
    lines.head = 0;
  }
  reports_.note_run(piece.input, lines.line, at - lines.line_start + 1, span);
}

void StreamInputs::restart() {
  pieces_.clear();
  offset_ = 0;
}

}  // namespace hushcli
