// Threads over one set: the set is only read while text is masked, so
// several threads, each writing its own stream of the same set (and making
// whole-text calls and new streams meanwhile), must each get exactly what
// its text gives masked alone.  Under ThreadSanitizer (the tsan preset,
// label "threads") this must run without a single report.

#include <gtest/gtest.h>

#include <cstdint>
#include <latch>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hushset.h"
#include "set/set_support.h"

namespace {

using hush::set::testing::Bytes;
using hush::set::testing::data_of;
using hush::set::testing::mask_whole;

// The text streamed through a new stream of `set` in pieces of random
// length, into one reused buffer of the largest piece plus the hold limit.
Bytes stream_alone(const hushset *set, const Bytes &text, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  hushset_stream *stream = hushset_stream_new(set);
  EXPECT_NE(stream, nullptr);
  constexpr std::size_t MAX_PIECE = 4096;
  Bytes buffer(MAX_PIECE + hushset_hold_limit(set), '\0');
  Bytes result;
  std::uint64_t out_len = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t len = std::min<std::size_t>(random() % MAX_PIECE, text.size() - at);
    EXPECT_EQ(hushset_write(stream, data_of(text) + at, len, reinterpret_cast<std::uint8_t *>(buffer.data()),
                            buffer.size(), &out_len),
              HUSHSET_OK);
    result.append(buffer, 0, out_len);
    at += len;
  }
  EXPECT_EQ(hushset_finish(stream, reinterpret_cast<std::uint8_t *>(buffer.data()), buffer.size(), &out_len),
            HUSHSET_OK);
  result.append(buffer, 0, out_len);
  hushset_stream_destroy(stream);
  return result;
}

TEST(SetThreads, StreamsOfOneSetOnSeveralThreads) {
  std::mt19937_64 random(17);
  std::vector<Bytes> secrets;
  for (int s = 0; s < 200; ++s) {
    Bytes secret = "tok-";
    for (std::size_t i = 0, len = 4 + random() % 20; i < len; ++i) {
      secret.push_back(static_cast<char>('A' + random() % 26));
    }
    secrets.push_back(secret);
  }
  hushset *set = hushset_new(nullptr);
  for (const Bytes &secret : secrets) ASSERT_EQ(hushset_add(set, data_of(secret), secret.size()), HUSHSET_OK);
  ASSERT_EQ(hushset_build(set), HUSHSET_OK);

  constexpr unsigned THREADS = 4;
  std::vector<Bytes> texts(THREADS);
  for (Bytes &text : texts) {
    while (text.size() < (128u << 10)) {
      const Bytes &secret = secrets[random() % secrets.size()];
      text += random() % 4 == 0 ? secret.substr(0, 1 + random() % secret.size()) : secret;
      text += " word " + std::to_string(random() % 1000) + "\n";
    }
  }
  std::vector<Bytes> expected;
  for (const Bytes &text : texts) expected.push_back(mask_whole(set, text));

  std::vector<Bytes> streamed(THREADS), whole(THREADS);
  std::latch start(THREADS);
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < THREADS; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      streamed[t] = stream_alone(set, texts[t], t);
      whole[t] = mask_whole(set, texts[t]);
    });
  }
  for (std::thread &thread : threads) thread.join();
  for (unsigned t = 0; t < THREADS; ++t) {
    EXPECT_EQ(streamed[t], expected[t]) << "thread " << t;
    EXPECT_EQ(whole[t], expected[t]) << "thread " << t;
  }
  hushset_destroy(set);
}

}  // namespace
