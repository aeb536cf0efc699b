// The performance benchmark: hushmask against memcpy, a find-per-secret
// masker and a Vectorscan scan + mask, on the same 64 MiB CI log per secret
// set.  Every masking benchmark reports the number of masked runs it
// produced and whether its output equals hushmask's non-streaming output;
// a disagreement is printed to stderr and flagged by bench/report.py.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "automaton_memory.h"
#include "interval_masker.h"
#include "naive_masker.h"
#include "set_fixture.h"

namespace hush_bench {
namespace {

constexpr std::size_t SECRET_SETS[] = {1, 10, 100, 1'000, 10'000};
constexpr std::size_t NAIVE_MAX_SECRETS = 100;  // beyond this the naive masker takes minutes
constexpr std::uint64_t CHUNK_4K = 4 << 10;
constexpr std::uint64_t CHUNK_64K = 64 << 10;

bool any_mismatch = false;

const std::uint8_t *bytes_of(const std::string &text) { return reinterpret_cast<const std::uint8_t *>(text.data()); }

// CPU time of this thread, user and system (page faults included).  The
// machine is shared, so wall-clock time would also count the time the core
// spent on other processes; every rate of this benchmark is per CPU second.
double thread_cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Every masking benchmark passes the whole log once per iteration.
void count_bytes(benchmark::State &state, std::size_t text_bytes) {
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text_bytes));
}

// False (and the benchmark skipped) when the set could not be prepared.
bool usable(benchmark::State &state, const SetFixture &fixture) {
  if (fixture.error.empty()) return true;
  state.SkipWithError(fixture.error.c_str());
  return false;
}

// Records the agreement counters every masking benchmark carries.
void report_runs(benchmark::State &state, const SetFixture &fixture, const char *engine, std::uint64_t runs,
                 bool same_output) {
  state.counters["runs"] = static_cast<double>(runs);
  state.counters["embedded"] = static_cast<double>(fixture.log.embedded_secrets);
  state.counters["same_output"] = same_output ? 1 : 0;
  count_bytes(state, fixture.log.text.size());
  if (runs != fixture.reference_runs || !same_output) {
    any_mismatch = true;
    std::fprintf(stderr, "MISMATCH in %s/%zu: %llu runs (hushmask non-streaming: %llu), output %s\n", engine,
                 fixture.secret_count, static_cast<unsigned long long>(runs),
                 static_cast<unsigned long long>(fixture.reference_runs), same_output ? "equal" : "DIFFERENT");
  }
}

bool equals_reference(const SetFixture &fixture, const std::uint8_t *out, std::uint64_t out_len) {
  return out_len == fixture.reference.size() && std::memcmp(out, fixture.reference.data(), out_len) == 0;
}

// --- floors ---------------------------------------------------------------

void bench_memcpy_warm(benchmark::State &state) {
  SetFixture &fixture = fixture_for(SECRET_SETS[0]);
  const std::string &text = fixture.log.text;
  for (auto _ : state) {
    std::memcpy(fixture.out.data(), text.data(), text.size());
    benchmark::ClobberMemory();
  }
  count_bytes(state, text.size());
}

// What any masker that hands out a fresh whole-text buffer pays: the kernel
// maps and zeroes every page on first touch.
void bench_memcpy_fresh(benchmark::State &state) {
  SetFixture &fixture = fixture_for(SECRET_SETS[0]);
  const std::string &text = fixture.log.text;
  for (auto _ : state) {
    void *out = std::malloc(text.size());
    if (out == nullptr) return state.SkipWithError("malloc failed");
    std::memcpy(out, text.data(), text.size());
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
    std::free(out);
  }
  count_bytes(state, text.size());
}

// --- hushmask -------------------------------------------------------------

void bench_build(benchmark::State &state, std::size_t secret_count) {
  SetFixture &fixture = fixture_for(secret_count);
  if (!usable(state, fixture)) return;
  for (auto _ : state) {
    const double start = thread_cpu_seconds();
    hush_masker *masker = hush_new();
    for (const std::string &secret : fixture.secrets) {
      if (hush_insert(masker, bytes_of(secret), secret.size()) != 0) return state.SkipWithError("hush_insert failed");
    }
    if (hush_build(masker) != 0) return state.SkipWithError("hush_build failed");
    state.SetIterationTime(thread_cpu_seconds() - start);
    hush_destroy(masker);
  }

  // Memory, outside the measurement: counted through the allocator and by
  // walking the result; the two must agree.
  hush_masker *masker = hush_new();
  AllocationCount count{};
  install_counting_allocator(masker, count);
  for (const std::string &secret : fixture.secrets) {
    if (hush_insert(masker, bytes_of(secret), secret.size()) != 0) return state.SkipWithError("hush_insert failed");
  }
  if (hush_build(masker) != 0) return state.SkipWithError("hush_build failed");
  const AutomatonWalk walk = walk_automaton(masker);
  const std::uint64_t automaton_bytes = walk.node_array_bytes + walk.edge_set_bytes + walk.prefilter_bytes;
  std::uint64_t secret_bytes = 0;
  for (const std::string &secret : fixture.secrets) secret_bytes += secret.size();
  state.counters["nodes"] = static_cast<double>(walk.nodes);
  state.counters["node_array_bytes"] = static_cast<double>(walk.node_array_bytes);
  state.counters["edge_lists"] = static_cast<double>(walk.edge_lists);
  state.counters["edge_tables"] = static_cast<double>(walk.edge_tables);
  state.counters["edge_set_bytes"] = static_cast<double>(walk.edge_set_bytes);
  state.counters["prefilter_bytes"] = static_cast<double>(walk.prefilter_bytes);
  state.counters["automaton_bytes"] = static_cast<double>(automaton_bytes);
  state.counters["allocator_live_bytes"] = static_cast<double>(count.live_bytes);
  state.counters["build_peak_bytes"] = static_cast<double>(count.peak_bytes);
  state.counters["secret_bytes"] = static_cast<double>(secret_bytes);
  if (count.live_bytes != automaton_bytes) {
    any_mismatch = true;
    std::fprintf(stderr, "MISMATCH in hushmask_build/%zu: allocator counts %llu live bytes, the node walk %llu\n",
                 secret_count, static_cast<unsigned long long>(count.live_bytes),
                 static_cast<unsigned long long>(automaton_bytes));
  }
  hush_destroy(masker);
}

void bench_whole(benchmark::State &state, std::size_t secret_count) {
  SetFixture &fixture = fixture_for(secret_count);
  if (!usable(state, fixture)) return;
  const std::string &text = fixture.log.text;
  for (auto _ : state) {
    std::uint8_t *out = nullptr;
    std::uint64_t out_len = 0;
    if (hush_mask(fixture.masker, bytes_of(text), text.size(), MAX_STARS, 0, &out, &out_len) != 0) {
      return state.SkipWithError("hush_mask failed");
    }
    benchmark::DoNotOptimize(out);
    hush_free(out, out_len);
  }
  // The reference is this very call's output.
  report_runs(state, fixture, "hushmask_whole", fixture.reference_runs, true);
}

// Passes the log as one stream of `chunk`-byte pieces; `sink` sees every
// output piece and the final held-back bytes, in order.  Leaves the handle
// ready for a new stream.
template <typename Sink>
bool stream_log(const SetFixture &fixture, std::uint64_t chunk, Sink &&sink) {
  const std::string &text = fixture.log.text;
  for (std::uint64_t at = 0; at < text.size(); at += chunk) {
    std::uint8_t *out = nullptr;
    std::uint64_t out_len = 0;
    const std::uint64_t len = text.size() - at < chunk ? text.size() - at : chunk;
    if (hush_mask(fixture.masker, bytes_of(text) + at, len, MAX_STARS, 1, &out, &out_len) != 0) return false;
    sink(out, out_len);
    hush_free(out, out_len);
  }
  std::uint64_t held = 0;
  const std::uint8_t *reminder = hush_get_reminder(fixture.masker, &held);
  sink(reminder, held);
  hush_reset_reminder(fixture.masker);
  std::uint8_t *none = nullptr;
  std::uint64_t none_len = 0;
  return hush_mask(fixture.masker, nullptr, 0, MAX_STARS, 0, &none, &none_len) == 0;
}

void bench_stream(benchmark::State &state, std::size_t secret_count, std::uint64_t chunk) {
  SetFixture &fixture = fixture_for(secret_count);
  if (!usable(state, fixture)) return;
  for (auto _ : state) {
    if (!stream_log(fixture, chunk, [](const std::uint8_t *out, std::uint64_t) { benchmark::DoNotOptimize(out); })) {
      return state.SkipWithError("hush_mask failed");
    }
  }
  // Once more, unmeasured, keeping the output.
  std::vector<std::uint8_t> joined;
  joined.reserve(fixture.reference.size());
  if (!stream_log(fixture, chunk, [&](const std::uint8_t *out, std::uint64_t len) {
        if (len != 0) joined.insert(joined.end(), out, out + len);
      })) {
    return state.SkipWithError("hush_mask failed");
  }
  bool in_run = false;
  const std::uint64_t runs = count_star_runs(joined.data(), joined.size(), in_run);
  report_runs(state, fixture, chunk == CHUNK_4K ? "hushmask_stream_4k" : "hushmask_stream_64k", runs,
              equals_reference(fixture, joined.data(), joined.size()));
}

// --- baselines ------------------------------------------------------------

void bench_naive(benchmark::State &state, std::size_t secret_count) {
  SetFixture &fixture = fixture_for(secret_count);
  if (!usable(state, fixture)) return;
  std::vector<Interval> matches;
  MaskResult result{};
  for (auto _ : state) {
    result = naive_mask(fixture.log.text, fixture.secrets, MAX_STARS, matches, fixture.out.data());
    benchmark::ClobberMemory();
  }
  report_runs(state, fixture, "naive_whole", result.runs,
              equals_reference(fixture, fixture.out.data(), result.out_len));
}

#if HUSHMASK_BENCH_VECTORSCAN
void bench_vectorscan(benchmark::State &state, std::size_t secret_count) {
  SetFixture &fixture = fixture_for(secret_count);
  if (!usable(state, fixture)) return;
  MaskResult result{};
  for (auto _ : state) {
    result = vectorscan_mask(fixture.vectorscan, fixture.log.text, MAX_STARS, fixture.out.data());
    if (result.runs == UINT64_MAX) return state.SkipWithError("hs_scan failed");
    benchmark::ClobberMemory();
  }
  report_runs(state, fixture, "vectorscan_whole", result.runs,
              equals_reference(fixture, fixture.out.data(), result.out_len));
}

void bench_vectorscan_compile(benchmark::State &state, std::size_t secret_count) {
  SetFixture &fixture = fixture_for(secret_count);
  if (!usable(state, fixture)) return;
  for (auto _ : state) {
    VectorscanMasker masker{};
    std::string error;
    const double start = thread_cpu_seconds();
    const bool compiled = compile_vectorscan(fixture.secrets, masker, error);
    const double seconds = thread_cpu_seconds() - start;
    if (!compiled) return state.SkipWithError(error.c_str());
    state.SetIterationTime(seconds);
    state.counters["database_bytes"] = static_cast<double>(vectorscan_database_bytes(masker));
    release_vectorscan(masker);
  }
}
#endif

// "engine/secret count", the form bench/report.py reads back.
std::string bench_name(const char *engine, std::size_t secret_count) {
  std::string name(engine);
  name += '/';
  name += std::to_string(secret_count);
  return name;
}

void register_benchmarks() {
  benchmark::RegisterBenchmark("memcpy_warm/1", bench_memcpy_warm);
  benchmark::RegisterBenchmark("memcpy_fresh/1", bench_memcpy_fresh);
  for (const std::size_t count : SECRET_SETS) {
    benchmark::RegisterBenchmark(bench_name("hushmask_build", count).c_str(), bench_build, count)->UseManualTime();
    benchmark::RegisterBenchmark(bench_name("hushmask_whole", count).c_str(), bench_whole, count);
    benchmark::RegisterBenchmark(bench_name("hushmask_stream_4k", count).c_str(), bench_stream, count, CHUNK_4K);
    benchmark::RegisterBenchmark(bench_name("hushmask_stream_64k", count).c_str(), bench_stream, count, CHUNK_64K);
    if (count <= NAIVE_MAX_SECRETS) {
      benchmark::RegisterBenchmark(bench_name("naive_whole", count).c_str(), bench_naive, count);
    }
#if HUSHMASK_BENCH_VECTORSCAN
    benchmark::RegisterBenchmark(bench_name("vectorscan_compile", count).c_str(), bench_vectorscan_compile, count)
        ->UseManualTime();
    benchmark::RegisterBenchmark(bench_name("vectorscan_whole", count).c_str(), bench_vectorscan, count);
#endif
  }
}

}  // namespace
}  // namespace hush_bench

int main(int argc, char **argv) {
  benchmark::AddCustomContext("compiler", HUSHMASK_BENCH_COMPILER);
  benchmark::AddCustomContext("build_type", HUSHMASK_BENCH_BUILD_TYPE);
  benchmark::AddCustomContext("vectorscan", HUSHMASK_BENCH_VECTORSCAN ? "yes" : "no");
  benchmark::AddCustomContext("corpus_bytes", std::to_string(hush_bench::CORPUS_BYTES));
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
