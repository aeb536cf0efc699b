#!/usr/bin/env python3
"""Turns the JSON of bench/hushmask_bench into bench/RESULTS.md.

Usage: report.py BENCH_JSON CPU_LIST [LIBRARY_REVISION] > RESULTS.md

Throughput is input bytes per CPU second of the benchmark thread (user and
system time, page faults included): the machine is shared, and wall-clock time
would also count the time the core spent on other processes.  Each figure is
the best of the repetitions, since interference only ever makes a run slower;
build times are the best too.
Exits 1 when the engines disagree on the masked runs or on the output, after
writing the report with the disagreement at its top.
"""
import json
import sys
from collections import defaultdict

SETS = [1, 10, 100, 1000, 10000]
MODES = [("hushmask_whole", "whole text"), ("hushmask_stream_4k", "stream 4 KiB"),
         ("hushmask_stream_64k", "stream 64 KiB")]
MASKERS = [engine for engine, _ in MODES] + ["naive_whole", "vectorscan_whole"]
# (secret counts, ratio to memcpy, ratio to Vectorscan) for streaming in 64 KiB chunks.
TARGETS = [((1, 10), 0.6, 1.0), ((100, 1000), 0.15, 0.5), ((10000,), 0.05, 0.3)]
NAIVE_TARGET = (100, 10.0)


def cpu_model():
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown CPU"


def load(path):
    with open(path) as handle:
        data = json.load(handle)
    best_rate = {}   # (engine, n) -> bytes per second
    best_time = {}   # (engine, n) -> seconds per iteration
    counters = {}    # (engine, n) -> the counters of its last run
    errors = {}
    repetitions = 1
    wall_per_cpu = []
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    for run in data["benchmarks"]:
        if run.get("run_type") != "iteration":
            continue
        engine, count = run["run_name"].split("/")[:2]
        key = (engine, int(count))
        repetitions = max(repetitions, run.get("repetitions", 1))
        if run.get("error_occurred"):
            errors[key] = run.get("error_message", "error")
            continue
        if "bytes_per_second" in run:
            if run["cpu_time"] > 0:
                wall_per_cpu.append(run["real_time"] / run["cpu_time"])
            best_rate[key] = max(best_rate.get(key, 0.0), run["bytes_per_second"])
        seconds = run["real_time"] * scale[run["time_unit"]]
        best_time[key] = min(best_time.get(key, seconds), seconds)
        counters[key] = run
    wall_per_cpu.sort()
    contention = wall_per_cpu[len(wall_per_cpu) // 2] if wall_per_cpu else None
    return data["context"], best_rate, best_time, counters, errors, repetitions, contention


def gbps(rate):
    return "—" if rate is None else f"{rate / 1e9:.2f}"


def ratio(a, b):
    return "—" if a is None or not b else f"{a / b:.2f}"


def mib(n):
    return "—" if n is None else f"{n / 2**20:.2f} MiB" if n >= 2**20 else f"{n / 1024:.1f} KiB"


def agreement(counters, errors):
    """Rows of the agreement table and the list of disagreements."""
    rows, problems = [], []
    for n in SETS:
        runs = {}
        for engine in MASKERS:
            run = counters.get((engine, n))
            if run is not None:
                runs[engine] = (int(run["runs"]), run["same_output"] == 1)
            elif (engine, n) in errors:
                problems.append(f"{engine}/{n} failed: {errors[(engine, n)]}")
        if not runs:
            continue
        embedded = int(counters[(MASKERS[0], n)]["embedded"]) if (MASKERS[0], n) in counters else None
        counts = {count for count, _ in runs.values()}
        if len(counts) > 1:
            problems.append(f"{n} secrets: masked-run counts differ: " +
                            ", ".join(f"{e}={c}" for e, (c, _) in runs.items()))
        for engine, (_, same) in runs.items():
            if not same:
                problems.append(f"{n} secrets: {engine} output differs from hushmask's non-streaming output")
        cells = [f"{runs[e][0]}{'' if runs[e][1] else ' (output differs)'}" if e in runs else "—"
                 for e in MASKERS]
        rows.append(f"| {n:,} | {embedded if embedded is not None else '—'} | " + " | ".join(cells) + " |")
    for n in SETS:
        run = counters.get(("hushmask_build", n))
        if run and int(run["allocator_live_bytes"]) != int(run["automaton_bytes"]):
            problems.append(f"{n} secrets: allocator counts {int(run['allocator_live_bytes'])} live bytes, "
                            f"the node walk {int(run['automaton_bytes'])}")
    return rows, problems


def main():
    context, rate, seconds, counters, errors, repetitions, contention = load(sys.argv[1])
    cpus = sys.argv[2] if len(sys.argv) > 2 else "?"
    revision = sys.argv[3] if len(sys.argv) > 3 else "unknown"
    memcpy = rate.get(("memcpy_warm", 1))
    memcpy_fresh = rate.get(("memcpy_fresh", 1))
    agree_rows, problems = agreement(counters, errors)
    out = []
    w = out.append

    w("# hushmask benchmark results")
    w("")
    w("Written by `bench/run` from one run of `build/bench/bench/hushmask_bench`; do not edit by hand.")
    w("")
    if problems:
        w("> **MISMATCH: the engines disagree.** Every number below is suspect until this is explained.")
        for problem in problems:
            w(f"> - {problem}")
        w("")
    w(f"**Machine:** {cpu_model()}, {context.get('num_cpus', '?')} CPUs at {context.get('mhz_per_cpu', '?')} MHz, "
      f"pinned to CPU {cpus}; load average at start {', '.join(f'{x:.2f}' for x in context.get('load_avg', []))}; "
      f"{context.get('date', '?')}; compiler {context.get('compiler', '?')} ({context.get('build_type', '?')}); "
      f"Vectorscan baseline: {context.get('vectorscan', '?')}; library at {revision}.")
    w("")
    w(f"Corpus: a generated {int(context.get('corpus_bytes', 0)) / 2**20:.0f} MiB CI log with a secret embedded "
      f"every ~30 KB; `max_stars` {context.get('max_stars', '?')}. Throughput is input bytes per second "
      f"(GB = 10^9 bytes) per CPU second of the benchmark thread (user + system time, so page faults count), "
      f"best of {repetitions} repetitions. The machine is shared: the median wall-clock time of a masking run was "
      f"{'?' if contention is None else f'{contention:.2f}'} × its CPU time, which CPU time leaves out.")
    w("")
    w(f"Floors: `memcpy` into a warm buffer **{gbps(memcpy)} GB/s**; `malloc` + `memcpy` + `free` of a fresh "
      f"whole-text buffer (page faults included) **{gbps(memcpy_fresh)} GB/s**.")
    w("")

    w("## Throughput (GB/s)")
    w("")
    w("| secrets | hushmask whole | hushmask stream 4 KiB | hushmask stream 64 KiB | naive find per secret | "
      "Vectorscan scan + mask |")
    w("|---:|---:|---:|---:|---:|---:|")
    for n in SETS:
        cells = [gbps(rate.get((engine, n))) for engine in MASKERS]
        if all(cell == "—" for cell in cells):
            continue
        w(f"| {n:,} | " + " | ".join(cells) + " |")
    w("")

    w("## Streaming in 64 KiB chunks against the targets")
    w("")
    w("| secrets | GB/s | ÷ memcpy | target | ÷ Vectorscan | target | ÷ naive | met |")
    w("|---:|---:|---:|---:|---:|---:|---:|:--|")
    for counts, to_memcpy, to_vectorscan in TARGETS:
        for n in counts:
            mine = rate.get(("hushmask_stream_64k", n))
            if mine is None:
                continue
            peer = rate.get(("vectorscan_whole", n))
            naive = rate.get(("naive_whole", n))
            checks = []
            if mine is not None and memcpy:
                checks.append(mine / memcpy >= to_memcpy)
            if mine is not None and peer:
                checks.append(mine / peer >= to_vectorscan)
            if n == NAIVE_TARGET[0] and mine is not None and naive:
                checks.append(mine / naive >= NAIVE_TARGET[1])
            met = "—" if not checks else ("yes" if all(checks) else "**no**")
            naive_cell = ratio(mine, naive) + (f" (≥ {NAIVE_TARGET[1]:.0f})" if n == NAIVE_TARGET[0] else "")
            w(f"| {n:,} | {gbps(mine)} | {ratio(mine, memcpy)} | ≥ {to_memcpy} | {ratio(mine, peer)} | "
              f"≥ {to_vectorscan} | {naive_cell} | {met} |")
    w("")

    w("## Ratios of every mode")
    w("")
    w("| secrets | mode | GB/s | ÷ memcpy (warm) | ÷ Vectorscan | ÷ naive |")
    w("|---:|:--|---:|---:|---:|---:|")
    for n in SETS:
        for engine, label in MODES:
            mine = rate.get((engine, n))
            if mine is None:
                continue
            w(f"| {n:,} | {label} | {gbps(mine)} | {ratio(mine, memcpy)} | "
              f"{ratio(mine, rate.get(('vectorscan_whole', n)))} | {ratio(mine, rate.get(('naive_whole', n)))} |")
    w("")
    w(f"The whole-text call hands out a fresh {int(context.get('corpus_bytes', 0)) / 2**20:.0f} MiB buffer each "
      f"time, so its ceiling is the fresh-buffer floor ({gbps(memcpy_fresh)} GB/s), not warm `memcpy`.")
    w("")

    w("## Building")
    w("")
    w("`hush_new` + `hush_insert` of every secret + `hush_build`, best time. Automaton memory is the node array "
      "(capacity × 32 bytes) plus every edge list and table and the prefilter block (DESIGN.md), counted by "
      "walking the nodes and, independently, "
      "through a counting allocator in the handle; the peak includes completion's breadth-first queue.")
    w("")
    w("| secrets | secret bytes | insert + build | nodes | node array | edge sets (lists / tables) | automaton | "
      "peak while building | Vectorscan compile | Vectorscan database + scratch |")
    w("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for n in SETS:
        run = counters.get(("hushmask_build", n))
        if run is None:
            continue
        build_ms = seconds.get(("hushmask_build", n))
        compile_ms = seconds.get(("vectorscan_compile", n))
        peer = counters.get(("vectorscan_compile", n))
        w(f"| {n:,} | {int(run['secret_bytes']):,} | {build_ms * 1e3:.3f} ms | {int(run['nodes']):,} | "
          f"{mib(run['node_array_bytes'])} | {mib(run['edge_set_bytes'])} ({int(run['edge_lists'])} / "
          f"{int(run['edge_tables'])}) | {mib(run['automaton_bytes'])} | {mib(run['build_peak_bytes'])} | "
          f"{'—' if compile_ms is None else f'{compile_ms * 1e3:.3f} ms'} | "
          f"{mib(peer['database_bytes']) if peer else '—'} |")
    w("")

    w("## Agreement")
    w("")
    w("Masked runs reported by each engine (hushmask: `*` runs in its output; the log itself holds no `*`). "
      "Every output is also compared byte for byte with hushmask's non-streaming output.")
    w("")
    w("| secrets | embedded | " + " | ".join(MASKERS) + " |")
    w("|---:|---:|" + "---:|" * len(MASKERS))
    out.extend(agree_rows)
    w("")
    w("All engines agree." if not problems else "**The engines disagree; see the top of this file.**")
    w("")

    w("## How it is measured")
    w("")
    w("- Every engine masks the same bytes: for each secret set the log is generated anew (the log lines are "
      "identical for every set; only the embedded secrets differ).")
    w("- Streaming passes the log as consecutive chunks with the streaming bit set, then reads and resets the "
      "held-back bytes and starts a new stream with an empty non-streaming call; every output is freed at once.")
    w("- `memcpy`, the naive masker and Vectorscan write into a pre-faulted buffer of the log's size. The naive "
      "masker runs `std::string_view::find` once per secret and occurrence; it is left out beyond 100 secrets.")
    w("- Vectorscan: one block-mode `hs_scan` of the whole log over a literal database (`hs_compile_lit_multi`); "
      "a match's start is its end minus its literal's length; intervals are then sorted, merged and masked. "
      "It is not streamed, so the streaming rows are compared with its best case.")
    w("- hushmask is linked from `hushmask_internal` (the same objects as the shared library).")
    w("")
    sys.stdout.write("\n".join(out))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
