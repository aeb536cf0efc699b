// Threads: several threads, each with its own handle, mask different
// streams at the same moment and get exactly what each gets alone.  The
// library keeps no global mutable state, so under ThreadSanitizer (the tsan
// preset, label "threads") this must also run without a single report.

#include <gtest/gtest.h>

#include <cstdint>
#include <latch>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hushmask.h"

namespace {

using Bytes = std::string;

struct Job {
  std::vector<Bytes> secrets;
  Bytes text;
  std::vector<std::size_t> chunk_lengths;  // used round-robin
  std::uint64_t max_stars;
};

struct Result {
  Bytes whole;     // one whole-text call
  Bytes streamed;  // the chunks' outputs, then the held-back bytes
  bool operator==(const Result &) const = default;
};

// Each job has its own secrets and text: lower-case words with a secret
// dropped in now and then, sometimes two overlapping.
Job make_job(std::uint64_t seed) {
  std::mt19937_64 random(seed);
  Job job;
  for (int s = 0; s < 40; ++s) {
    Bytes secret = "tok" + std::to_string(seed) + "-";
    const std::size_t len = 4 + random() % 20;
    for (std::size_t i = 0; i < len; ++i) secret.push_back(static_cast<char>('A' + random() % 26));
    job.secrets.push_back(secret);
  }
  while (job.text.size() < (256u << 10)) {
    const std::uint64_t pick = random() % 10;
    if (pick == 0) {
      job.text += job.secrets[random() % job.secrets.size()];
    } else if (pick == 1) {
      const Bytes &secret = job.secrets[random() % job.secrets.size()];
      job.text += secret.substr(0, secret.size() - 1) + secret;  // a broken one, then a whole one
    } else {
      for (std::size_t i = 0; i < 8; ++i) job.text.push_back(static_cast<char>('a' + random() % 26));
      job.text.push_back(' ');
    }
  }
  job.chunk_lengths = {1 + seed, 0, 4096 + 17 * seed, 3, 1 << 14};
  job.max_stars = seed % 5;
  return job;
}

// One masking call; its output, copied and released.
Bytes mask(hush_masker *masker, const std::uint8_t *text, std::size_t len, std::uint64_t max_stars,
           std::uint8_t streaming, bool &ok) {
  std::uint8_t *out = nullptr;
  std::uint64_t out_len = 0;
  if (hush_mask(masker, text, len, max_stars, streaming, &out, &out_len) != 0) {
    ok = false;
    return {};
  }
  Bytes bytes(reinterpret_cast<const char *>(out), out_len);
  hush_free(out, out_len);
  return bytes;
}

// The whole life of one handle.  Sets `ok` to false if any call fails;
// a gtest assertion here would not be thread-safe to report from.
Result run_job(const Job &job, bool &ok) {
  Result result;
  hush_masker *masker = hush_new();
  if (masker == nullptr) {
    ok = false;
    return result;
  }
  for (const Bytes &secret : job.secrets) {
    ok = ok && hush_insert(masker, reinterpret_cast<const std::uint8_t *>(secret.data()), secret.size()) == 0;
  }
  ok = ok && hush_build(masker) == 0;
  const auto *text = reinterpret_cast<const std::uint8_t *>(job.text.data());
  result.whole = mask(masker, text, job.text.size(), job.max_stars, 0, ok);
  // Back to the walk's start for the stream.
  ok = ok && mask(masker, nullptr, 0, job.max_stars, 0, ok).empty();
  std::size_t next = 0;
  for (std::size_t from = 0; from < job.text.size();) {
    const std::size_t length = std::min(job.chunk_lengths[next++ % job.chunk_lengths.size()], job.text.size() - from);
    result.streamed += mask(masker, text + from, length, job.max_stars, 1, ok);
    from += length;
  }
  std::uint64_t held_len = 0;
  const std::uint8_t *held = hush_get_reminder(masker, &held_len);
  result.streamed.append(reinterpret_cast<const char *>(held), held_len);
  hush_reset_reminder(masker);
  hush_destroy(masker);
  return result;
}

TEST(Threads, HandlesOnSeparateThreadsMaskAsTheyDoAlone) {
  constexpr std::size_t THREADS = 4;
  constexpr int ROUNDS = 3;
  std::vector<Job> jobs;
  std::vector<Result> alone;
  for (std::size_t t = 0; t < THREADS; ++t) {
    jobs.push_back(make_job(t + 1));
    bool ok = true;
    alone.push_back(run_job(jobs.back(), ok));
    ASSERT_TRUE(ok);
    // (Compared as booleans: the texts are too long to print.)
    ASSERT_TRUE(alone.back().streamed == alone.back().whole);
    ASSERT_TRUE(alone.back().whole != jobs.back().text) << "the job masks nothing";
  }

  std::vector<std::vector<Result>> together(THREADS, std::vector<Result>(ROUNDS));
  std::vector<char> ok(THREADS, 1);
  std::latch start(static_cast<std::ptrdiff_t>(THREADS));
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < THREADS; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();  // all threads begin at once
      for (int round = 0; round < ROUNDS; ++round) {
        bool round_ok = true;
        together[t][static_cast<std::size_t>(round)] = run_job(jobs[t], round_ok);
        if (!round_ok) ok[t] = 0;
      }
    });
  }
  for (std::thread &thread : threads) thread.join();

  for (std::size_t t = 0; t < THREADS; ++t) {
    EXPECT_TRUE(ok[t]) << "a call failed on thread " << t;
    for (const Result &result : together[t]) EXPECT_TRUE(result == alone[t]) << "thread " << t << " differs";
  }
}

}  // namespace
