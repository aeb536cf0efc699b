// The performance benchmark: hush_mask and the hushset set layer against
// memcpy, a find-per-secret masker and Vectorscan (stream mode with a
// hold-back masker, and block mode), over a CI log at every set size and
// over the texts that are hard for a prefilter (shared token prefixes,
// random bytes, base64 blobs).  Every masking benchmark reports the number
// of masked runs it produced and whether its output equals its rule's
// reference output (hush_mask's for hush_mask, hushset_mask's for every
// engine that masks every occurrence); a disagreement is printed to stderr
// and flagged by bench/report.py.
//
// Benchmark names are "engine/corpus/secret count".

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "api/masker.h"
#include "automaton_memory.h"
#include "interval_masker.h"
#include "naive_masker.h"
#include "prng.h"
#include "set/set.h"
#include "set_fixture.h"

namespace hush_bench {
namespace {

constexpr std::size_t CI_SETS[] = {1, 10, 100, 1'000, 10'000, 100'000, 1'000'000};
constexpr std::size_t NAIVE_MAX_SECRETS = 100;     // beyond this the naive masker takes minutes
constexpr std::size_t FORMS_MAX_SECRETS = 10'000;  // masking with every default form
constexpr std::size_t FORMS_BUILD_MAX = 100'000;   // building with every default form
constexpr std::size_t SMALL_CHUNKS_MAX = 10'000;   // 4 KiB writes and whole-text calls
constexpr std::uint64_t CHUNK_4K = 4 << 10;
constexpr std::uint64_t CHUNK_64K = 64 << 10;
constexpr std::uint64_t LINE_SHORTEST = 40;
constexpr std::uint64_t LINE_LONGEST = 200;
constexpr std::uint64_t BYTEWISE_BYTES = 1 << 20;

bool any_mismatch = false;

const std::uint8_t *bytes_of(const std::string &text) { return reinterpret_cast<const std::uint8_t *>(text.data()); }

// CPU time of this thread, user and system (page faults included).
double thread_cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void count_bytes(benchmark::State &state, std::size_t text_bytes) {
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text_bytes));
}

bool usable(benchmark::State &state, const SetFixture &fixture) {
  if (fixture.error.empty()) return true;
  state.SkipWithError(fixture.error.c_str());
  return false;
}

// The pieces a text is written in: fixed chunks, or "log lines" of 40 to 200
// bytes (the same cuts every time).
std::vector<std::uint64_t> cuts_of(std::uint64_t size, std::uint64_t chunk) {
  std::vector<std::uint64_t> cuts;
  Prng prng{0x11E5};
  for (std::uint64_t at = 0; at < size;) {
    const std::uint64_t len = chunk != 0 ? chunk : between(prng, LINE_SHORTEST, LINE_LONGEST);
    at = at + len < size ? at + len : size;
    cuts.push_back(at);
  }
  return cuts;
}

// Checks an engine's joined output against its rule's reference and records
// the agreement counters.
void report_output(benchmark::State &state, const SetFixture &fixture, const std::string &engine,
                   const std::vector<std::uint8_t> &output, bool every_occurrence, std::size_t writes) {
  bool in_run = false;
  const std::uint64_t runs = count_star_runs(output.data(), output.size(), in_run);
  const std::vector<std::uint8_t> &expected = every_occurrence ? fixture.set_reference : fixture.reference;
  const bool same = output == expected;
  state.counters["runs"] = static_cast<double>(runs);
  state.counters["embedded"] = static_cast<double>(fixture.embedded);
  state.counters["same_output"] = same ? 1 : 0;
  state.counters["rules_agree"] = fixture.rules_agree ? 1 : 0;
  state.counters["writes"] = static_cast<double>(writes);
  count_bytes(state, fixture.text.size());
  if (!same) {
    any_mismatch = true;
    std::fprintf(stderr, "MISMATCH in %s/%s/%zu: output differs from %s's\n", engine.c_str(),
                 corpus_name(fixture.corpus), fixture.secret_count, every_occurrence ? "hushset_mask" : "hush_mask");
  }
}

// --- floors ---------------------------------------------------------------

void bench_memcpy_warm(benchmark::State &state) {
  SetFixture &fixture = fixture_for(Corpus::ci, 1);
  for (auto _ : state) {
    std::memcpy(fixture.out.data(), fixture.text.data(), fixture.text.size());
    benchmark::ClobberMemory();
  }
  count_bytes(state, fixture.text.size());
}

// The copy every streaming masker pays: each 64 KiB chunk into one reused
// buffer.
void bench_copy_64k(benchmark::State &state) {
  SetFixture &fixture = fixture_for(Corpus::ci, 1);
  const std::vector<std::uint64_t> cuts = cuts_of(fixture.text.size(), CHUNK_64K);
  for (auto _ : state) {
    std::uint64_t from = 0;
    for (const std::uint64_t to : cuts) {
      std::memcpy(fixture.out.data(), fixture.text.data() + from, to - from);
      benchmark::ClobberMemory();
      from = to;
    }
  }
  count_bytes(state, fixture.text.size());
}

void bench_memcpy_fresh(benchmark::State &state) {
  SetFixture &fixture = fixture_for(Corpus::ci, 1);
  for (auto _ : state) {
    void *out = std::malloc(fixture.text.size());
    if (out == nullptr) return state.SkipWithError("malloc failed");
    std::memcpy(out, fixture.text.data(), fixture.text.size());
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
    std::free(out);
  }
  count_bytes(state, fixture.text.size());
}

// --- hush_mask ------------------------------------------------------------

void bench_hush_whole(benchmark::State &state, Corpus corpus, std::size_t count) {
  SetFixture &fixture = fixture_for(corpus, count);
  if (!usable(state, fixture)) return;
  for (auto _ : state) {
    std::uint8_t *out = nullptr;
    std::uint64_t out_len = 0;
    if (hush_mask(fixture.masker, bytes_of(fixture.text), fixture.text.size(), MAX_STARS, 0, &out, &out_len) != 0) {
      return state.SkipWithError("hush_mask failed");
    }
    benchmark::DoNotOptimize(out);
    hush_free(out, out_len);
  }
  report_output(state, fixture, "hush_whole", fixture.reference, false, 1);
}

// Passes the text as one stream cut at `cuts`; `sink` sees every output
// piece and the held-back bytes, in order.  Leaves the handle ready for a
// new stream.
template <typename Sink>
bool hush_stream(const SetFixture &fixture, const std::vector<std::uint64_t> &cuts, Sink &&sink) {
  std::uint64_t from = 0;
  for (const std::uint64_t to : cuts) {
    std::uint8_t *out = nullptr;
    std::uint64_t out_len = 0;
    if (hush_mask(fixture.masker, bytes_of(fixture.text) + from, to - from, MAX_STARS, 1, &out, &out_len) != 0) {
      return false;
    }
    sink(out, out_len);
    hush_free(out, out_len);
    from = to;
  }
  std::uint64_t held = 0;
  const std::uint8_t *reminder = hush_get_reminder(fixture.masker, &held);
  sink(reminder, held);
  hush_reset_reminder(fixture.masker);
  std::uint8_t *none = nullptr;
  std::uint64_t none_len = 0;
  return hush_mask(fixture.masker, nullptr, 0, MAX_STARS, 0, &none, &none_len) == 0;
}

void bench_hush_stream(benchmark::State &state, Corpus corpus, std::size_t count, std::uint64_t chunk,
                       std::string engine) {
  SetFixture &fixture = fixture_for(corpus, count);
  if (!usable(state, fixture)) return;
  const std::vector<std::uint64_t> cuts = cuts_of(fixture.text.size(), chunk);
  for (auto _ : state) {
    if (!hush_stream(fixture, cuts, [](const std::uint8_t *out, std::uint64_t) { benchmark::DoNotOptimize(out); })) {
      return state.SkipWithError("hush_mask failed");
    }
  }
  std::vector<std::uint8_t> joined;
  joined.reserve(fixture.reference.size());
  if (!hush_stream(fixture, cuts, [&](const std::uint8_t *out, std::uint64_t len) {
        if (len != 0) joined.insert(joined.end(), out, out + len);
      })) {
    return state.SkipWithError("hush_mask failed");
  }
  report_output(state, fixture, engine, joined, false, cuts.size());
}

// --- hushset --------------------------------------------------------------

// One stream over `set` cut at `cuts`, written into one reused buffer.
template <typename Sink>
bool set_stream(hushset *set, const std::string &text, const std::vector<std::uint64_t> &cuts,
                std::vector<std::uint8_t> &buffer, Sink &&sink) {
  hushset_stream *stream = hushset_stream_new(set);
  if (stream == nullptr) return false;
  std::uint64_t from = 0;
  std::uint64_t out_len = 0;
  for (const std::uint64_t to : cuts) {
    if (hushset_write(stream, bytes_of(text) + from, to - from, buffer.data(), buffer.size(), &out_len) != HUSHSET_OK) {
      hushset_stream_destroy(stream);
      return false;
    }
    sink(buffer.data(), out_len);
    from = to;
  }
  const bool finished = hushset_finish(stream, buffer.data(), buffer.size(), &out_len) == HUSHSET_OK;
  if (finished) sink(buffer.data(), out_len);
  hushset_stream_destroy(stream);
  return finished;
}

void bench_set_write(benchmark::State &state, Corpus corpus, std::size_t count, std::uint64_t chunk,
                     std::string engine) {
  SetFixture &fixture = fixture_for(corpus, count);
  if (!usable(state, fixture)) return;
  const std::vector<std::uint64_t> cuts = cuts_of(fixture.text.size(), chunk);
  std::vector<std::uint8_t> buffer((chunk != 0 ? chunk : LINE_LONGEST) + hushset_hold_limit(fixture.set));
  for (auto _ : state) {
    if (!set_stream(fixture.set, fixture.text, cuts, buffer,
                    [](const std::uint8_t *out, std::uint64_t) { benchmark::DoNotOptimize(out); })) {
      return state.SkipWithError("hushset_write failed");
    }
  }
  std::vector<std::uint8_t> joined;
  joined.reserve(fixture.set_reference.size());
  if (!set_stream(fixture.set, fixture.text, cuts, buffer,
                  [&](const std::uint8_t *out, std::uint64_t len) { joined.insert(joined.end(), out, out + len); })) {
    return state.SkipWithError("hushset_write failed");
  }
  report_output(state, fixture, engine, joined, true, cuts.size());
}

// The whole text into a warm caller buffer.
void bench_set_mask(benchmark::State &state, Corpus corpus, std::size_t count) {
  SetFixture &fixture = fixture_for(corpus, count);
  if (!usable(state, fixture)) return;
  std::uint64_t out_len = 0;
  for (auto _ : state) {
    if (hushset_mask(fixture.set, bytes_of(fixture.text), fixture.text.size(), fixture.out.data(), fixture.out.size(),
                     &out_len) != HUSHSET_OK) {
      return state.SkipWithError("hushset_mask failed");
    }
    benchmark::ClobberMemory();
  }
  report_output(state, fixture, "set_mask",
                std::vector<std::uint8_t>(fixture.out.begin(), fixture.out.begin() + static_cast<long>(out_len)), true,
                1);
}

// Every default form of every secret, streamed in 64 KiB writes; checked
// against the same set masking the whole text (its forms are its own).
void bench_set_forms(benchmark::State &state, std::size_t count) {
  SetFixture &fixture = fixture_for(Corpus::ci, count);
  if (!usable(state, fixture)) return;
  hushset *set = build_set(fixture.secrets, HUSHSET_FORMS_DEFAULT);
  if (set == nullptr) return state.SkipWithError("hushset_build failed");
  const std::vector<std::uint64_t> cuts = cuts_of(fixture.text.size(), CHUNK_64K);
  std::vector<std::uint8_t> buffer(CHUNK_64K + hushset_hold_limit(set));
  for (auto _ : state) {
    if (!set_stream(set, fixture.text, cuts, buffer,
                    [](const std::uint8_t *out, std::uint64_t) { benchmark::DoNotOptimize(out); })) {
      return state.SkipWithError("hushset_write failed");
    }
  }
  std::vector<std::uint8_t> joined;
  set_stream(set, fixture.text, cuts, buffer,
             [&](const std::uint8_t *out, std::uint64_t len) { joined.insert(joined.end(), out, out + len); });
  std::vector<std::uint8_t> whole(fixture.text.size());
  std::uint64_t whole_len = 0;
  const bool masked =
      hushset_mask(set, bytes_of(fixture.text), fixture.text.size(), whole.data(), whole.size(), &whole_len) == 0;
  whole.resize(whole_len);
  hushset_destroy(set);
  bool in_run = false;
  state.counters["runs"] = static_cast<double>(count_star_runs(joined.data(), joined.size(), in_run));
  state.counters["same_output"] = masked && joined == whole ? 1 : 0;
  state.counters["writes"] = static_cast<double>(cuts.size());
  count_bytes(state, fixture.text.size());
  if (!masked || joined != whole) {
    any_mismatch = true;
    std::fprintf(stderr, "MISMATCH in set_forms_write_64k/ci/%zu: the stream differs from the whole text\n", count);
  }
}

// One byte per write: a 1 MiB secret against 1 MiB of the CI log.  The
// counter `writes` is the bytes written.
void bench_set_bytewise(benchmark::State &state, bool secret) {
  SetFixture &fixture = fixture_for(Corpus::ci, 10);
  if (!usable(state, fixture)) return;
  std::string text;
  std::vector<std::string> secrets = fixture.secrets;
  if (secret) {
    Prng prng{0xB16};
    text.resize(BYTEWISE_BYTES);
    for (char &byte : text) byte = static_cast<char>('A' + below(prng, 26));
    secrets = {text};
  } else {
    text = fixture.text.substr(0, BYTEWISE_BYTES);
  }
  hushset *set = build_set(secrets, 0);
  if (set == nullptr) return state.SkipWithError("hushset_build failed");
  const std::vector<std::uint64_t> cuts = cuts_of(text.size(), 1);
  std::vector<std::uint8_t> buffer(1 + hushset_hold_limit(set));
  std::uint64_t produced = 0;
  for (auto _ : state) {
    produced = 0;
    if (!set_stream(set, text, cuts, buffer, [&](const std::uint8_t *, std::uint64_t len) { produced += len; })) {
      return state.SkipWithError("hushset_write failed");
    }
  }
  hushset_destroy(set);
  state.counters["writes"] = static_cast<double>(cuts.size());
  state.counters["produced"] = static_cast<double>(produced);
  count_bytes(state, text.size());
}

// --- building -------------------------------------------------------------

void bench_hush_build(benchmark::State &state, Corpus corpus, std::size_t count) {
  const std::vector<std::string> secrets = secrets_for(corpus, count);
  for (auto _ : state) {
    const double start = thread_cpu_seconds();
    hush_masker *masker = hush_new();
    for (const std::string &secret : secrets) {
      if (hush_insert(masker, bytes_of(secret), secret.size()) != 0) return state.SkipWithError("hush_insert failed");
    }
    if (hush_build(masker) != 0) return state.SkipWithError("hush_build failed");
    state.SetIterationTime(thread_cpu_seconds() - start);
    hush_destroy(masker);
  }
  // Memory, outside the measurement: counted through the allocator and by
  // walking the result; the two must agree.
  hush_masker *masker = hush_new();
  AllocationCount allocated{};
  install_counting_allocator(masker, allocated);
  for (const std::string &secret : secrets) {
    if (hush_insert(masker, bytes_of(secret), secret.size()) != 0) return state.SkipWithError("hush_insert failed");
  }
  if (hush_build(masker) != 0) return state.SkipWithError("hush_build failed");
  const AutomatonWalk walk = walk_automaton(masker);
  const std::uint64_t automaton_bytes = walk.node_array_bytes + walk.edge_set_bytes + walk.prefilter_bytes;
  std::uint64_t secret_bytes = 0;
  for (const std::string &secret : secrets) secret_bytes += secret.size();
  state.counters["nodes"] = static_cast<double>(walk.nodes);
  state.counters["prefilter_bytes"] = static_cast<double>(walk.prefilter_bytes);
  state.counters["automaton_bytes"] = static_cast<double>(automaton_bytes);
  state.counters["build_peak_bytes"] = static_cast<double>(allocated.peak_bytes);
  state.counters["secret_bytes"] = static_cast<double>(secret_bytes);
  const hush::core::Prefilter *filter = hush::core::to_masker(masker)->prefilter;
  state.counters["filter_kind"] = filter == nullptr ? -1 : static_cast<double>(filter->kind);
  if (allocated.live_bytes != automaton_bytes) {
    any_mismatch = true;
    std::fprintf(stderr, "MISMATCH in hush_build/%zu: allocator counts %llu live bytes, the node walk %llu\n", count,
                 static_cast<unsigned long long>(allocated.live_bytes),
                 static_cast<unsigned long long>(automaton_bytes));
  }
  hush_destroy(masker);
}

void bench_set_build(benchmark::State &state, Corpus corpus, std::size_t count, std::uint32_t forms) {
  const std::vector<std::string> secrets = secrets_for(corpus, count);
  for (auto _ : state) {
    const double start = thread_cpu_seconds();
    hushset *set = build_set(secrets, forms);
    if (set == nullptr) return state.SkipWithError("hushset_build failed");
    state.SetIterationTime(thread_cpu_seconds() - start);
    hushset_destroy(set);
  }
  // Memory: every block the set holds once built, and the peak, through a
  // counting allocator under the set's own.
  AllocationCount allocated{};
  hushset_options options;
  hushset_options_init(&options);
  options.forms = forms;
  hush::set::Set *set = hush::set::create_set(options, counting_allocator(allocated));
  for (const std::string &secret : secrets) {
    if (failed(hush::set::add_secret(*set, bytes_of(secret), secret.size()))) {
      return state.SkipWithError("hushset_add failed");
    }
  }
  if (failed(hush::set::build_set(*set))) return state.SkipWithError("hushset_build failed");
  const AutomatonWalk walk = walk_automaton(reinterpret_cast<const hush_masker *>(set->automaton));
  state.counters["nodes"] = static_cast<double>(walk.nodes);
  state.counters["set_bytes"] = static_cast<double>(allocated.live_bytes);
  state.counters["build_peak_bytes"] = static_cast<double>(allocated.peak_bytes);
  hush::set::destroy_set(set);
}

// --- baselines ------------------------------------------------------------

void bench_naive(benchmark::State &state, std::size_t count) {
  SetFixture &fixture = fixture_for(Corpus::ci, count);
  if (!usable(state, fixture)) return;
  std::vector<Interval> matches;
  MaskResult result{};
  for (auto _ : state) {
    result = naive_mask(fixture.text, fixture.secrets, MAX_STARS, matches, fixture.out.data());
    benchmark::ClobberMemory();
  }
  report_output(state, fixture, "naive",
                std::vector<std::uint8_t>(fixture.out.begin(), fixture.out.begin() + static_cast<long>(result.out_len)),
                true, 1);
}

#if HUSHMASK_BENCH_VECTORSCAN
void bench_vs_block(benchmark::State &state, Corpus corpus, std::size_t count) {
  SetFixture &fixture = fixture_for(corpus, count);
  if (!usable(state, fixture)) return;
  if (!fixture.block_ready) {
    std::string error;
    fixture.block_ready = compile_vectorscan(fixture.secrets, false, fixture.block, error);
    if (!fixture.block_ready) return state.SkipWithError(error.c_str());
  }
  MaskResult result{};
  for (auto _ : state) {
    result = vectorscan_mask(fixture.block, fixture.text, MAX_STARS, fixture.out.data());
    if (result.runs == UINT64_MAX) return state.SkipWithError("hs_scan failed");
    benchmark::ClobberMemory();
  }
  report_output(state, fixture, "vs_block",
                std::vector<std::uint8_t>(fixture.out.begin(), fixture.out.begin() + static_cast<long>(result.out_len)),
                true, 1);
}

template <typename Sink>
bool vs_stream(SetFixture &fixture, const std::vector<std::uint64_t> &cuts, std::vector<std::uint8_t> &buffer,
               Sink &&sink) {
  VectorscanStream stream;
  if (!open_vectorscan_stream(fixture.stream, stream)) return false;
  std::uint64_t from = 0;
  for (const std::uint64_t to : cuts) {
    const std::uint64_t len =
        vectorscan_write(stream, bytes_of(fixture.text) + from, to - from, MAX_STARS, buffer.data());
    if (len == UINT64_MAX) return false;
    sink(buffer.data(), len);
    from = to;
  }
  sink(buffer.data(), vectorscan_finish(stream, MAX_STARS, buffer.data()));
  return true;
}

void bench_vs_stream(benchmark::State &state, Corpus corpus, std::size_t count, std::uint64_t chunk,
                     std::string engine) {
  SetFixture &fixture = fixture_for(corpus, count);
  if (!usable(state, fixture)) return;
  const std::vector<std::uint64_t> cuts = cuts_of(fixture.text.size(), chunk);
  std::uint64_t longest = 0;
  for (const std::string &secret : fixture.secrets) longest = std::max<std::uint64_t>(longest, secret.size());
  std::vector<std::uint8_t> buffer((chunk != 0 ? chunk : LINE_LONGEST) + 2 * longest + 64);
  for (auto _ : state) {
    if (!vs_stream(fixture, cuts, buffer,
                   [](const std::uint8_t *out, std::uint64_t) { benchmark::DoNotOptimize(out); })) {
      return state.SkipWithError("hs_scan_stream failed");
    }
  }
  std::vector<std::uint8_t> joined;
  joined.reserve(fixture.set_reference.size());
  vs_stream(fixture, cuts, buffer,
            [&](const std::uint8_t *out, std::uint64_t len) { joined.insert(joined.end(), out, out + len); });
  report_output(state, fixture, engine, joined, true, cuts.size());
}

void bench_vs_compile(benchmark::State &state, Corpus corpus, std::size_t count) {
  const std::vector<std::string> secrets = secrets_for(corpus, count);
  for (auto _ : state) {
    VectorscanMasker masker{};
    std::string error;
    const double start = thread_cpu_seconds();
    const bool compiled = compile_vectorscan(secrets, true, masker, error);
    const double seconds = thread_cpu_seconds() - start;
    if (!compiled) return state.SkipWithError(error.c_str());
    state.SetIterationTime(seconds);
    state.counters["database_bytes"] = static_cast<double>(vectorscan_database_bytes(masker));
    release_vectorscan(masker);
  }
}
#endif

std::string name_of(const char *engine, Corpus corpus, std::size_t count) {
  return std::string(engine) + '/' + corpus_name(corpus) + '/' + std::to_string(count);
}

template <typename... Args>
benchmark::internal::Benchmark *add(const char *engine, Corpus corpus, std::size_t count, Args &&...args) {
  return benchmark::RegisterBenchmark(name_of(engine, corpus, count).c_str(), std::forward<Args>(args)...);
}

// The masking benchmarks of one workload; `small_chunks` adds the 4 KiB
// and whole-text rows, `lines` the per-line ones.
void add_masking(Corpus corpus, std::size_t count, bool small_chunks, bool lines) {
  if (small_chunks) {
    add("hush_whole", corpus, count, bench_hush_whole, corpus, count);
    add("hush_stream_4k", corpus, count, bench_hush_stream, corpus, count, CHUNK_4K, "hush_stream_4k");
  }
  add("hush_stream_64k", corpus, count, bench_hush_stream, corpus, count, CHUNK_64K, "hush_stream_64k");
  if (small_chunks) add("set_write_4k", corpus, count, bench_set_write, corpus, count, CHUNK_4K, "set_write_4k");
  add("set_write_64k", corpus, count, bench_set_write, corpus, count, CHUNK_64K, "set_write_64k");
  add("set_mask", corpus, count, bench_set_mask, corpus, count);
  if (lines) {
    add("hush_line", corpus, count, bench_hush_stream, corpus, count, 0, "hush_line");
    add("set_line", corpus, count, bench_set_write, corpus, count, 0, "set_line");
  }
  if (corpus == Corpus::ci && count <= NAIVE_MAX_SECRETS) add("naive", corpus, count, bench_naive, count);
#if HUSHMASK_BENCH_VECTORSCAN
  if (count < 1'000'000) add("vs_block", corpus, count, bench_vs_block, corpus, count);
  if (small_chunks) add("vs_stream_4k", corpus, count, bench_vs_stream, corpus, count, CHUNK_4K, "vs_stream_4k");
  add("vs_stream_64k", corpus, count, bench_vs_stream, corpus, count, CHUNK_64K, "vs_stream_64k");
  if (lines) add("vs_line", corpus, count, bench_vs_stream, corpus, count, 0, "vs_line");
#endif
}

// Builds of the largest sets take seconds to a minute each: three
// repetitions of those.
constexpr std::size_t LARGE_BUILD = 100'000;

void add_building(Corpus corpus, std::size_t count) {
  const int repetitions = count >= LARGE_BUILD ? 3 : 5;
  add("hush_build", corpus, count, bench_hush_build, corpus, count)
      ->UseManualTime()
      ->Iterations(1)
      ->Repetitions(repetitions);
  add("set_build", corpus, count, bench_set_build, corpus, count, 0u)
      ->UseManualTime()
      ->Iterations(1)
      ->Repetitions(repetitions);
#if HUSHMASK_BENCH_VECTORSCAN
  add("vs_compile", corpus, count, bench_vs_compile, corpus, count)
      ->UseManualTime()
      ->Iterations(1)
      ->Repetitions(repetitions);
#endif
}

void register_benchmarks() {
  benchmark::RegisterBenchmark("memcpy_warm/ci/1", bench_memcpy_warm);
  benchmark::RegisterBenchmark("copy_64k/ci/1", bench_copy_64k);
  benchmark::RegisterBenchmark("memcpy_fresh/ci/1", bench_memcpy_fresh);
  for (const std::size_t count : CI_SETS) {
    add_building(Corpus::ci, count);
    if (count <= FORMS_BUILD_MAX) {
      add("set_forms_build", Corpus::ci, count, bench_set_build, Corpus::ci, count, HUSHSET_FORMS_DEFAULT)
          ->UseManualTime()
          ->Iterations(1)
          ->Repetitions(count >= LARGE_BUILD ? 3 : 5);
    }
    add_masking(Corpus::ci, count, count <= SMALL_CHUNKS_MAX, count == 10 || count == 1'000);
    if (count <= FORMS_MAX_SECRETS) add("set_forms_write_64k", Corpus::ci, count, bench_set_forms, count);
    if (count == 10) {
      add("set_bytewise_secret", Corpus::ci, 1, bench_set_bytewise, true);
      add("set_bytewise_log", Corpus::ci, 10, bench_set_bytewise, false);
    }
  }
  const std::pair<Corpus, std::size_t> hard[] = {{Corpus::prefix4, 10},
                                                 {Corpus::prefix4, 1'000},
                                                 {Corpus::prefix8, 1'000},
                                                 {Corpus::random, 1'000},
                                                 {Corpus::base64, 1'000}};
  for (const auto &[corpus, count] : hard) {
    add_building(corpus, count);
    add_masking(corpus, count, false, false);
  }
}

}  // namespace
}  // namespace hush_bench

int main(int argc, char **argv) {
  benchmark::AddCustomContext("compiler", HUSHMASK_BENCH_COMPILER);
  benchmark::AddCustomContext("build_type", HUSHMASK_BENCH_BUILD_TYPE);
  benchmark::AddCustomContext("vectorscan", HUSHMASK_BENCH_VECTORSCAN ? "yes" : "no");
  benchmark::AddCustomContext("corpus_bytes", std::to_string(hush_bench::CORPUS_BYTES));
  benchmark::AddCustomContext("small_corpus_bytes", std::to_string(hush_bench::SMALL_CORPUS_BYTES));
  benchmark::AddCustomContext("max_stars", std::to_string(hush_bench::MAX_STARS));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  hush_bench::register_benchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (hush_bench::any_mismatch) {
    std::fprintf(stderr, "MISMATCH: the engines disagree; see above\n");
    return 2;
  }
  return 0;
}
