#pragma once
// The text every engine of the benchmark masks: a deterministic imitation of
// a CI job log (timestamps, paths, shell commands, compiler warnings, JSON
// lines, hex digests, URLs) with secrets of one secret set embedded in
// credential-looking lines about once every 30 KB.
//
// The log never contains the mask byte '*', so the number of masked runs of
// any engine's output is the number of '*' runs in it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hush_bench {

inline constexpr std::size_t CORPUS_BYTES = std::size_t{64} << 20;

// `count` distinct secrets of 8 to 64 bytes from [A-Za-z0-9_-]; the same
// count always gives the same set.
std::vector<std::string> make_secret_set(std::size_t count);

struct CiLog {
  std::string text;              // exactly the size asked for
  std::size_t embedded_secrets;  // secret occurrences placed in the text
};

// A log of exactly `size` bytes.  The log lines are the same for every set;
// only the embedded secrets (picked at random from `secrets`) differ.
CiLog make_ci_log(const std::vector<std::string> &secrets, std::size_t size);

}  // namespace hush_bench

namespace hush_bench {

// Secrets that share a prefix, as token formats do: `prefix` and then 12 to
// 40 bytes from the secret alphabet.
std::vector<std::string> make_prefixed_secret_set(std::size_t count, const std::string &prefix);

// The other texts a masker meets, each of exactly `size` bytes with a secret
// of `secrets` embedded every 20 to 40 KB and no '*':
// - records of 16 bytes that begin with `prefix` (the secrets' shared
//   prefix, then bytes from the secret alphabet): the prefix every 16 bytes;
std::string make_prefix_dense_text(const std::vector<std::string> &secrets, const std::string &prefix,
                                   std::size_t size);
// - uniformly random bytes ('*' replaced by '+');
std::string make_random_text(const std::vector<std::string> &secrets, std::size_t size);
// - a log whose lines carry base64 blobs of 48 to 3,000 bytes.
std::string make_base64_log(const std::vector<std::string> &secrets, std::size_t size);

}  // namespace hush_bench
