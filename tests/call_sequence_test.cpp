// Random sequences of all eight calls, in and out of the expected order,
// with random allocation failures: statuses are only 0 and -1, outputs are
// read back whole, held-back bytes never outgrow the longest secret, and (in
// the sanitizer build) no access strays outside a block and nothing leaks.
// Streams that follow the protocol still equal the whole-text result.

#include <gtest/gtest.h>

#include <random>

#include "support/masker_access.h"
#include "support/recording_allocator.h"
#include "support/reference_masker.h"

namespace hush::core::testing {
namespace {

Bytes random_bytes(std::mt19937_64 &random, std::size_t max_len) {
  static const char letters[] = {'a', 'b', 'c', '\0', '\xFF'};
  Bytes result(random() % (max_len + 1), 'a');
  for (char &byte : result) byte = letters[random() % 3 + (random() % 8 == 0 ? 2 : 0)];
  return result;
}

TEST(CallSequence, RandomCallsStayWithinTheirContract) {
  std::mt19937_64 random(7);
  for (int round = 0; round < 300; ++round) {
    RecordingAllocator allocator;  // outlives the handle that uses it
    Handle handle = make_handle();
    allocator.install(handle.get());
    if (round % 2 == 1) allocator.fail_randomly(5, static_cast<std::uint64_t>(round));
    std::size_t longest = 0;
    for (int step = 0; step < 60; ++step) {
      switch (random() % 8) {
        case 0:
        case 1: {
          const Bytes secret = random_bytes(random, 6);
          const std::int32_t status = insert(handle, secret);
          ASSERT_TRUE(status == 0 || status == -1);
          if (status == 0) longest = std::max(longest, secret.size());
          break;
        }
        case 2: {
          const std::int32_t status = hush_build(handle.get());
          ASSERT_TRUE(status == 0 || status == -1);
          break;
        }
        case 3:
        case 4:
        case 5: {
          const Bytes text = random_bytes(random, 20);
          const MaskCall call = mask(handle, text, random() % 5, random() % 3 != 0);
          ASSERT_TRUE(call.status == 0 || call.status == -1);
          if (call.status == 0) {
            ASSERT_LE(call.output.size(), text.size() + longest);
          }
          break;
        }
        case 6:
          hush_reset_reminder(handle.get());
          break;
        default:
          break;
      }
      // Secrets registered after the last build may deepen the walk; the
      // held bytes never exceed the deepest node.
      ASSERT_LE(reminder_of(handle).size(), std::max<std::size_t>(longest, 1));
    }
    ASSERT_TRUE(allocator.errors.empty()) << allocator.errors.front();
  }
}

TEST(CallSequence, ProtocolStreamsInterleavedWithOtherCalls) {
  // A stream per round, interrupted by calls that must not disturb it:
  // reading the held bytes and masking on a second handle.
  std::mt19937_64 random(11);
  for (int round = 0; round < 300; ++round) {
    std::vector<Bytes> secrets;
    for (int s = 0; s < 4; ++s) secrets.push_back(random_bytes(random, 5));
    const Bytes text = random_bytes(random, 50);
    const std::uint64_t max_stars = random() % 6;
    const Bytes expected = reference_mask(secrets, text, max_stars).output;
    Handle handle = make_built(secrets);
    Handle other = make_built(secrets);
    ASSERT_EQ(mask(handle, random_bytes(random, 10), max_stars, true).status, 0);  // an earlier stream...
    ASSERT_EQ(mask(handle, "", max_stars, false).status, 0);                       // ...ended by a reset
    Bytes result;
    for (std::size_t from = 0; from < text.size();) {
      const std::size_t len = std::min<std::size_t>(random() % 7, text.size() - from);
      const MaskCall call = mask(handle, text.substr(from, len), max_stars, true);
      ASSERT_EQ(call.status, 0);
      result += call.output;
      (void)reminder_of(handle);
      (void)mask(other, random_bytes(random, 10), max_stars, random() % 2 == 0);
      from += len;
    }
    result += reminder_of(handle);
    hush_reset_reminder(handle.get());
    ASSERT_EQ(result, expected);
  }
}

}  // namespace
}  // namespace hush::core::testing
