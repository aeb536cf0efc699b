#include "set_fixture.h"

#include <memory>

#include "interval_masker.h"

namespace hush_bench {
namespace {

struct FixtureDeleter {
  void operator()(SetFixture *fixture) const {
    hush_destroy(fixture->masker);
#if HUSHMASK_BENCH_VECTORSCAN
    if (fixture->vectorscan_ready) release_vectorscan(fixture->vectorscan);
#endif
    delete fixture;
  }
};

std::unique_ptr<SetFixture, FixtureDeleter> current;

hush_masker *build_masker(const std::vector<std::string> &secrets) {
  hush_masker *masker = hush_new();
  if (masker == nullptr) return nullptr;
  for (const std::string &secret : secrets) {
    if (hush_insert(masker, reinterpret_cast<const std::uint8_t *>(secret.data()), secret.size()) != 0) {
      hush_destroy(masker);
      return nullptr;
    }
  }
  if (hush_build(masker) != 0) {
    hush_destroy(masker);
    return nullptr;
  }
  return masker;
}

void make_reference(SetFixture &fixture) {
  std::uint8_t *out = nullptr;
  std::uint64_t out_len = 0;
  const std::string &text = fixture.log.text;
  if (hush_mask(fixture.masker, reinterpret_cast<const std::uint8_t *>(text.data()), text.size(), MAX_STARS, 0, &out,
                &out_len) != 0) {
    fixture.error = "hush_mask failed on the whole log";
    return;
  }
  fixture.reference.assign(out, out + out_len);
  hush_free(out, out_len);
  bool in_run = false;
  fixture.reference_runs = count_star_runs(fixture.reference.data(), fixture.reference.size(), in_run);
}

}  // namespace

SetFixture &fixture_for(std::size_t secret_count) {
  if (current && current->secret_count == secret_count) return *current;
  current.reset();
  current.reset(new SetFixture{});
  SetFixture &fixture = *current;
  fixture.secret_count = secret_count;
  fixture.secrets = make_secret_set(secret_count);
  fixture.log = make_ci_log(fixture.secrets, CORPUS_BYTES);
  fixture.out.assign(fixture.log.text.size(), 0);
  if (fixture.log.text.find('*') != std::string::npos) fixture.error = "the log contains '*'";
  fixture.masker = build_masker(fixture.secrets);
  if (fixture.masker == nullptr) {
    fixture.error = "building the automaton failed";
  } else {
    make_reference(fixture);
  }
#if HUSHMASK_BENCH_VECTORSCAN
  std::string vectorscan_error;
  fixture.vectorscan_ready = compile_vectorscan(fixture.secrets, fixture.vectorscan, vectorscan_error);
  if (!fixture.vectorscan_ready) fixture.error = "vectorscan: " + vectorscan_error;
#endif
  return fixture;
}

}  // namespace hush_bench
