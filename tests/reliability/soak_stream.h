#pragma once
// A stream of any length whose masked form is known as it is made, so a
// soak can check a gigabyte of output without storing either and without
// the quadratic reference masker.
//
// How the expected output is known: every secret begins with a marker byte
// found nowhere else (not in fillers, not later in any secret), so no secret
// occurs inside another and a piece of text cannot form a match with the
// next piece.  Fillers are lower-case words that no secret contains; they
// send the walk back to its start.  The stream is a sequence of pieces
// (filler, a secret, a chain of overlapping copies of one secret, a secret
// cut short, two secrets that only touch), each with a masked form that
// follows from the masking rule alone.

#include <cstdint>
#include <string>
#include <vector>

namespace hush::core::soak {

using Bytes = std::string;

class SoakStream {
 public:
  SoakStream(std::uint64_t seed, std::uint64_t max_stars);

  [[nodiscard]] const std::vector<Bytes> &secrets() const noexcept { return secrets_; }
  [[nodiscard]] std::uint64_t max_stars() const noexcept { return max_stars_; }

  // Writes the next `len` bytes of the stream to `text`, and appends to
  // `expected` the masked form of every piece that those bytes begin.  The
  // expected output thus runs ahead of the text by at most one piece.
  void next(std::uint8_t *text, std::size_t len, Bytes &expected);

  // Bytes left of the piece begun last: feeding exactly these ends the
  // stream where its expected output ends.
  [[nodiscard]] std::size_t left_in_piece() const noexcept { return piece_.size() - piece_offset_; }

 private:
  void start_piece(Bytes &expected);
  [[nodiscard]] std::uint64_t random() noexcept;
  [[nodiscard]] Bytes stars(std::uint64_t run_len) const { return Bytes(run_len < max_stars_ ? run_len : max_stars_, '*'); }

  std::vector<Bytes> secrets_;  // secrets_[0] is the chain secret "XYXY"
  std::uint64_t max_stars_;
  std::uint64_t state_;
  Bytes piece_;
  std::size_t piece_offset_ = 0;
};

}  // namespace hush::core::soak
