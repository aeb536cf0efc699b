#include "soak_stream.h"

#include <algorithm>
#include <cstring>

namespace hush::core::soak {
namespace {

// Bytes that may follow a secret's marker: never a marker, never a filler
// byte.  0x00 and 0xFF are in, since no byte value is special.
const Bytes SECRET_BODY = Bytes("ABCDEFGHIJKLMNOP0123456789-_=+/") + Bytes("\x00\xFF\x80", 3);
const char *const FILLER = "abcdefghijklmnopqrstuvwxyz \n";
constexpr std::size_t FILLER_LEN = 28;

}  // namespace

SoakStream::SoakStream(std::uint64_t seed, std::uint64_t max_stars) : max_stars_(max_stars), state_(seed | 1) {
  // The chain secret: "XY" repeated m >= 2 times is one run of 2m bytes.
  secrets_.push_back("XYXY");
  // Markers Q..W start the other secrets.  Pairs under one marker share a
  // prefix, so the trie branches; none is a prefix of another.
  const Bytes markers = "QRSTUVW";
  for (char marker : markers) {
    Bytes stem(1, marker);
    for (int i = 0; i < 6; ++i) stem.push_back(SECRET_BODY[random() % SECRET_BODY.size()]);
    secrets_.push_back(stem + "A1");
    secrets_.push_back(stem + "B22");
  }
  // One long secret, so the held-back bytes can reach far back.
  Bytes long_secret = "Z";
  for (int i = 0; i < 1500; ++i) long_secret.push_back(SECRET_BODY[random() % SECRET_BODY.size()]);
  secrets_.push_back(long_secret);
}

std::uint64_t SoakStream::random() noexcept {
  state_ ^= state_ << 13;
  state_ ^= state_ >> 7;
  state_ ^= state_ << 17;
  return state_;
}

void SoakStream::start_piece(Bytes &expected) {
  piece_.clear();
  piece_offset_ = 0;
  const std::uint64_t kind = random() % 16;
  const Bytes &secret = secrets_[1 + random() % (secrets_.size() - 1)];
  if (kind < 10) {
    // Filler, the bulk of the stream: up to 16 KiB of words.
    const std::size_t len = 1 + random() % (16u << 10);
    piece_.resize(len);
    for (std::size_t i = 0; i < len;) {
      std::uint64_t bits = random();
      for (int b = 0; b < 8 && i < len; ++b, ++i, bits >>= 8) piece_[i] = FILLER[(bits & 0xFF) % FILLER_LEN];
    }
    expected += piece_;
    return;
  }
  switch (kind) {
    case 10:
    case 11:
      piece_ = secret;
      expected += stars(secret.size());
      break;
    case 12: {
      const std::uint64_t repeats = 2 + random() % 40;
      for (std::uint64_t r = 0; r < repeats; ++r) piece_ += "XY";
      expected += stars(2 * repeats);
      break;
    }
    case 13:
      // Cut short: the walk goes deep, then back; nothing is masked.
      piece_ = secret.substr(0, 1 + random() % (secret.size() - 1));
      expected += piece_;
      break;
    case 14: {
      // Matches that only touch are separate runs.
      const Bytes &other = secrets_[1 + random() % (secrets_.size() - 1)];
      piece_ = secret + other;
      expected += stars(secret.size()) + stars(other.size());
      break;
    }
    default: {
      // A secret cut short, then the whole secret.
      const Bytes partial = secret.substr(0, 1 + random() % (secret.size() - 1));
      piece_ = partial + secret;
      expected += partial + stars(secret.size());
      break;
    }
  }
  // A filler byte closes every piece, so pieces never run into each other.
  piece_.push_back(FILLER[random() % FILLER_LEN]);
  expected.push_back(piece_.back());
}

void SoakStream::next(std::uint8_t *text, std::size_t len, Bytes &expected) {
  while (len != 0) {
    if (piece_offset_ == piece_.size()) start_piece(expected);
    const std::size_t take = std::min(len, piece_.size() - piece_offset_);
    std::memcpy(text, piece_.data() + piece_offset_, take);
    piece_offset_ += take;
    text += take;
    len -= take;
  }
}

}  // namespace hush::core::soak
