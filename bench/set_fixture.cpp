#include "set_fixture.h"

#include <memory>

#include "interval_masker.h"

namespace hush_bench {
namespace {

const std::string PREFIX4 = "tok_";
const std::string PREFIX8 = "glpat-k9";

struct FixtureDeleter {
  void operator()(SetFixture *fixture) const {
    hush_destroy(fixture->masker);
    hushset_destroy(fixture->set);
#if HUSHMASK_BENCH_VECTORSCAN
    if (fixture->block_ready) release_vectorscan(fixture->block);
    if (fixture->stream_ready) release_vectorscan(fixture->stream);
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

void make_references(SetFixture &fixture) {
  std::uint8_t *out = nullptr;
  std::uint64_t out_len = 0;
  const auto *text = reinterpret_cast<const std::uint8_t *>(fixture.text.data());
  if (hush_mask(fixture.masker, text, fixture.text.size(), MAX_STARS, 0, &out, &out_len) != 0) {
    fixture.error = "hush_mask failed on the whole text";
    return;
  }
  fixture.reference.assign(out, out + out_len);
  hush_free(out, out_len);
  fixture.set_reference.assign(fixture.text.size(), 0);
  if (hushset_mask(fixture.set, text, fixture.text.size(), fixture.set_reference.data(), fixture.text.size(),
                   &out_len) != HUSHSET_OK) {
    fixture.error = "hushset_mask failed on the whole text";
    return;
  }
  fixture.set_reference.resize(out_len);
  fixture.rules_agree = fixture.reference == fixture.set_reference;
}

}  // namespace

const char *corpus_name(Corpus corpus) {
  switch (corpus) {
    case Corpus::ci: return "ci";
    case Corpus::prefix4: return "prefix4";
    case Corpus::prefix8: return "prefix8";
    case Corpus::random: return "random";
    case Corpus::base64: return "base64";
  }
  return "?";
}

std::vector<std::string> secrets_for(Corpus corpus, std::size_t secret_count) {
  switch (corpus) {
    case Corpus::prefix4: return make_prefixed_secret_set(secret_count, PREFIX4);
    case Corpus::prefix8: return make_prefixed_secret_set(secret_count, PREFIX8);
    default: return make_secret_set(secret_count);
  }
}

hushset *build_set(const std::vector<std::string> &secrets, std::uint32_t forms) {
  hushset_options options;
  hushset_options_init(&options);
  options.forms = forms;
  options.max_stars = MAX_STARS;
  hushset *set = hushset_new(&options);
  if (set == nullptr) return nullptr;
  for (const std::string &secret : secrets) {
    if (hushset_add(set, reinterpret_cast<const std::uint8_t *>(secret.data()), secret.size()) != HUSHSET_OK) {
      hushset_destroy(set);
      return nullptr;
    }
  }
  if (hushset_build(set) != HUSHSET_OK) {
    hushset_destroy(set);
    return nullptr;
  }
  return set;
}

SetFixture &fixture_for(Corpus corpus, std::size_t secret_count) {
  if (current && current->corpus == corpus && current->secret_count == secret_count) return *current;
  current.reset();
  current.reset(new SetFixture{});
  SetFixture &fixture = *current;
  fixture.corpus = corpus;
  fixture.secret_count = secret_count;
  fixture.secrets = secrets_for(corpus, secret_count);
  switch (corpus) {
    case Corpus::ci: {
      CiLog log = make_ci_log(fixture.secrets, CORPUS_BYTES);
      fixture.text = std::move(log.text);
      fixture.embedded = log.embedded_secrets;
      break;
    }
    case Corpus::prefix4: fixture.text = make_prefix_dense_text(fixture.secrets, "tok_", SMALL_CORPUS_BYTES); break;
    case Corpus::prefix8: fixture.text = make_prefix_dense_text(fixture.secrets, "glpat-k9", SMALL_CORPUS_BYTES); break;
    case Corpus::random: fixture.text = make_random_text(fixture.secrets, SMALL_CORPUS_BYTES); break;
    case Corpus::base64: fixture.text = make_base64_log(fixture.secrets, SMALL_CORPUS_BYTES); break;
  }
  fixture.out.assign(fixture.text.size() + (1 << 20), 0);
  if (fixture.text.find('*') != std::string::npos) fixture.error = "the text contains '*'";
  fixture.masker = build_masker(fixture.secrets);
  fixture.set = build_set(fixture.secrets, 0);
  if (fixture.masker == nullptr || fixture.set == nullptr) {
    fixture.error = "building the automaton failed";
  } else {
    make_references(fixture);
  }
  if (fixture.embedded == 0) {
    bool in_run = false;
    fixture.embedded = count_star_runs(fixture.set_reference.data(), fixture.set_reference.size(), in_run);
  }
#if HUSHMASK_BENCH_VECTORSCAN
  std::string vectorscan_error;
  // Block mode is compiled by its benchmark, when it runs.
  fixture.stream_ready = compile_vectorscan(fixture.secrets, true, fixture.stream, vectorscan_error);
  if (!fixture.stream_ready) fixture.error = "vectorscan: " + vectorscan_error;
#endif
  return fixture;
}

}  // namespace hush_bench
