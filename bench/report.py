#!/usr/bin/env python3
"""Turns the JSON of bench/hushmask_bench (and of bench/startup.py) into
bench/RESULTS.md.

Usage: report.py BENCH_JSON STARTUP_JSON CPU_LIST REVISION LOAD_AT_END > RESULTS.md

Every figure is the median of the repetitions of one run (CPU time of the
benchmark thread, user and system, so page faults count); the spread
(lowest to highest repetition) is given where a figure moved.  Ratios are
of medians.  Exits 1 when an engine's output differs from its rule's
reference, after writing the report with the disagreement at its top.
"""
import json
import statistics
import sys

CI_SETS = [1, 10, 100, 1000, 10000, 100000, 1000000]
HARD = [("prefix4", 10, "10 secrets sharing `tok_`, the prefix every 16 bytes"),
        ("prefix4", 1000, "1,000 secrets sharing `tok_`, the prefix every 16 bytes"),
        ("prefix8", 1000, "1,000 secrets sharing `glpat-k9`, the prefix every 16 bytes"),
        ("random", 1000, "random bytes, 1,000 secrets"),
        ("base64", 1000, "a log of base64 blobs, 1,000 secrets")]
SCALE = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def cpu_model():
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown CPU"


class Runs:
    def __init__(self, path):
        with open(path) as handle:
            data = json.load(handle)
        self.context = data["context"]
        self.seconds = {}   # (engine, corpus, n) -> [cpu seconds per iteration]
        self.counters = {}
        self.errors = {}
        self.repetitions = 1
        for run in data["benchmarks"]:
            if run.get("run_type") != "iteration":
                continue
            parts = run["run_name"].split("/")
            key = (parts[0], parts[1], int(parts[2]))
            self.repetitions = max(self.repetitions, run.get("repetitions", 1))
            if run.get("error_occurred"):
                self.errors[key] = run.get("error_message", "error")
                continue
            manual = "manual_time" in run["run_name"]
            value = run["real_time"] if manual else run["cpu_time"]
            self.seconds.setdefault(key, []).append(value * SCALE[run["time_unit"]])
            self.counters[key] = run

    def median(self, engine, corpus, n):
        values = self.seconds.get((engine, corpus, n))
        return statistics.median(values) if values else None

    def spread(self, engine, corpus, n):
        values = self.seconds.get((engine, corpus, n))
        if not values or len(values) < 2:
            return 0.0
        return (max(values) - min(values)) / statistics.median(values)

    def counter(self, engine, corpus, n, name):
        run = self.counters.get((engine, corpus, n))
        return None if run is None or name not in run else run[name]


def bytes_of(corpus, context):
    return int(context["corpus_bytes"]) if corpus == "ci" else int(context["small_corpus_bytes"])


def fmt_rate(runs, engine, corpus, n):
    seconds = runs.median(engine, corpus, n)
    if seconds is None:
        return "—"
    rate = bytes_of(corpus, runs.context) / seconds / 1e9
    text = f"{rate:.2f}" if rate >= 0.1 else f"{rate:.3f}"
    return text + ("†" if runs.spread(engine, corpus, n) > 0.15 else "")


def rate(runs, engine, corpus, n):
    seconds = runs.median(engine, corpus, n)
    return None if seconds is None else bytes_of(corpus, runs.context) / seconds


def ratio(a, b):
    return None if a is None or b is None or b == 0 else a / b


def secrets(n):
    return f"{n:,} secret" + ("" if n == 1 else "s")


def fmt_ratio(value):
    return "—" if value is None else f"{value:.2f}"


def mib(n):
    if n is None:
        return "—"
    n = float(n)
    if n >= 2**30:
        return f"{n / 2**30:.2f} GiB"
    return f"{n / 2**20:.2f} MiB" if n >= 2**20 else f"{n / 1024:.1f} KiB"


def per_write_ns(runs, engine, corpus, n):
    seconds = runs.median(engine, corpus, n)
    writes = runs.counter(engine, corpus, n, "writes")
    return None if seconds is None or not writes else seconds / writes * 1e9


def main():
    runs = Runs(sys.argv[1])
    startup = []
    try:
        with open(sys.argv[2]) as handle:
            startup = json.load(handle)
    except (OSError, ValueError, IndexError):
        startup = None
    cpus = sys.argv[3] if len(sys.argv) > 3 else "?"
    revision = sys.argv[4] if len(sys.argv) > 4 else "unknown"
    load_end = sys.argv[5] if len(sys.argv) > 5 else "?"
    ctx = runs.context
    out = []
    w = out.append

    problems = []
    for key, run in runs.counters.items():
        if "same_output" in run and run["same_output"] != 1:
            problems.append(f"{'/'.join(map(str, key))}: output differs from its rule's reference")
    for key, message in runs.errors.items():
        problems.append(f"{'/'.join(map(str, key))} failed: {message}")

    w("# hushmask benchmark results")
    w("")
    w("Written by `bench/run` from one run of `build/bench/bench/hushmask_bench` and `bench/startup.py`; "
      "do not edit by hand.")
    w("")
    if problems:
        w("> **MISMATCH: the engines disagree.** Every number below is suspect until this is explained.")
        for problem in sorted(problems):
            w(f"> - {problem}")
        w("")
    w(f"**Machine:** {cpu_model()}, {ctx.get('num_cpus', '?')} CPUs at {ctx.get('mhz_per_cpu', '?')} MHz, "
      f"pinned to CPU {cpus}; load average at start {', '.join(f'{x:.2f}' for x in ctx.get('load_avg', []))}, "
      f"at the end {load_end}; {ctx.get('date', '?')}; compiler {ctx.get('compiler', '?')} "
      f"({ctx.get('build_type', '?')}); Vectorscan: {ctx.get('vectorscan', '?')}; library at {revision}.")
    w("")
    w(f"Every figure is the median of its repetitions ({runs.repetitions}; 3 for the builds of 100,000 secrets and "
      f"more) of CPU time of the benchmark thread (user + "
      f"system, so page faults count); † marks a figure whose repetitions spread over more than 15% of it. "
      f"Throughput is GB/s (10^9 bytes) of input. The CI log is "
      f"{int(ctx['corpus_bytes']) / 2**20:.0f} MiB with a secret every ~30 KB; the other texts are "
      f"{int(ctx['small_corpus_bytes']) / 2**20:.0f} MiB. `max_stars` {ctx.get('max_stars', '?')}.")
    w("")
    copy = rate(runs, "copy_64k", "ci", 1)
    w(f"Floors: the copy of the same 64 KiB chunks into one reused buffer (**copy floor**) "
      f"{fmt_rate(runs, 'copy_64k', 'ci', 1)} GB/s; `memcpy` of the whole log into a warm buffer "
      f"{fmt_rate(runs, 'memcpy_warm', 'ci', 1)}; `malloc` + `memcpy` + `free` of a fresh whole-log buffer "
      f"{fmt_rate(runs, 'memcpy_fresh', 'ci', 1)}.")
    w("")

    # --- targets -----------------------------------------------------------
    rows = []

    def target(workload, figure, value, goal, better_high=True):
        met = None if value is None else (value >= goal if better_high else value <= goal)
        sign = "≥" if better_high else "≤"
        rows.append(f"| {workload} | {figure} | {fmt_ratio(value)} | {sign} {goal} | "
                    f"{'—' if met is None else ('yes' if met else '**no**')} |")

    for n in CI_SETS:
        vs = rate(runs, "vs_stream_64k", "ci", n)
        goal = 1.0 if n == 1 else 1.3
        for engine, label in (("hush_stream_64k", "hush_mask"), ("set_write_64k", "hushset_write")):
            target(f"CI log, 64 KiB writes, {secrets(n)}", f"{label} ÷ Vectorscan stream",
                   ratio(rate(runs, engine, "ci", n), vs), goal)
    for n, goal in ((1, 0.8), (10, 0.8), (100, 0.45), (1000, 0.45), (10000, 0.3)):
        for engine, label in (("hush_stream_64k", "hush_mask"), ("set_write_64k", "hushset_write")):
            target(f"CI log, {secrets(n)}", f"{label} ÷ copy floor", ratio(rate(runs, engine, "ci", n), copy), goal)
    for engine, label in (("hush_stream_64k", "hush_mask"), ("set_write_64k", "hushset_write")):
        r = rate(runs, engine, "ci", 1000000)
        target("1,000,000 secrets", f"{label} GB/s", None if r is None else r / 1e9, 0.5)
        target("1,000,000 secrets", f"{label} ÷ Vectorscan stream",
               ratio(r, rate(runs, "vs_stream_64k", "ci", 1000000)), 1.5)
    for corpus, n, label in HARD:
        if corpus == "random":
            continue
        vs = rate(runs, "vs_stream_64k", corpus, n)
        for engine, name in (("hush_stream_64k", "hush_mask"), ("set_write_64k", "hushset_write")):
            target(label, f"{name} ÷ Vectorscan stream", ratio(rate(runs, engine, corpus, n), vs), 1.0)
    for n in (10, 1000):
        vs = per_write_ns(runs, "vs_line", "ci", n)
        for engine, name in (("hush_line", "hush_mask"), ("set_line", "hushset_write")):
            target(f"one write per log line, {n:,} secrets", f"{name} time per line ÷ Vectorscan's",
                   ratio(per_write_ns(runs, engine, "ci", n), vs), 0.6, better_high=False)
    worst = None
    for (engine, corpus, n) in list(runs.seconds):
        pairs = {"set_write_64k": "hush_stream_64k", "set_write_4k": "hush_stream_4k", "set_line": "hush_line"}
        if engine in pairs:
            value = ratio(rate(runs, engine, corpus, n), rate(runs, pairs[engine], corpus, n))
            if value is not None and (worst is None or value < worst[0]):
                worst = (value, f"{engine}/{corpus}/{n}")
    if worst:
        target(f"hushset (raw forms) ÷ hush_mask, worst row ({worst[1]})", "throughput ratio", worst[0], 0.9)
    for n, goal in ((100000, 0.5), (1000000, 0.3)):
        vs = runs.median("vs_compile", "ci", n)
        for engine, name in (("hush_build", "hush_build"), ("set_build", "hushset_build")):
            target(f"build, {n:,} secrets", f"{name} ÷ Vectorscan compile", ratio(runs.median(engine, "ci", n), vs),
                   goal, better_high=False)
    if startup:
        for entry in startup:
            if entry["secrets"] == 10000:
                target("command start-up, 10,000 secrets, default forms", "seconds", entry["median"], 0.4,
                       better_high=False)
    secret = runs.median("set_bytewise_secret", "ci", 1)
    log = runs.median("set_bytewise_log", "ci", 10)
    target("a 1 MiB secret, one byte per write", "time per byte ÷ one-byte writes of log text", ratio(secret, log), 2.0,
           better_high=False)
    worst_whole = None
    for n in CI_SETS:
        value = ratio(rate(runs, "set_mask", "ci", n), rate(runs, "set_write_64k", "ci", n))
        if value is not None and (worst_whole is None or value < worst_whole[0]):
            worst_whole = (value, n)
    if worst_whole:
        target(f"hushset_mask whole text, warm buffer, worst set ({worst_whole[1]:,})",
               "÷ its 64 KiB streaming figure", worst_whole[0], 0.9)

    w("## Targets")
    w("")
    w("| workload | figure | value | target | met |")
    w("|:--|:--|---:|---:|:--|")
    out.extend(rows)
    w("")

    # --- CI log ------------------------------------------------------------
    w("## CI log, every set size (GB/s)")
    w("")
    cols = [("hush_whole", "hush_mask whole"), ("hush_stream_4k", "hush_mask 4 KiB"),
            ("hush_stream_64k", "hush_mask 64 KiB"), ("set_write_4k", "hushset_write 4 KiB"),
            ("set_write_64k", "hushset_write 64 KiB"), ("set_mask", "hushset_mask warm"),
            ("set_forms_write_64k", "hushset default forms 64 KiB"), ("vs_stream_4k", "Vectorscan stream 4 KiB"),
            ("vs_stream_64k", "**Vectorscan stream 64 KiB**"), ("vs_block", "Vectorscan block"),
            ("naive", "find per secret")]
    w("| secrets | " + " | ".join(label for _, label in cols) + " |")
    w("|---:|" + "---:|" * len(cols))
    for n in CI_SETS:
        w(f"| {n:,} | " + " | ".join(fmt_rate(runs, engine, "ci", n) for engine, _ in cols) + " |")
    w("")
    w("| secrets | hush_mask 64 KiB ÷ Vectorscan stream | hushset_write 64 KiB ÷ Vectorscan stream | "
      "hush_mask ÷ Vectorscan block | hush_mask ÷ copy floor | hushset_write ÷ hush_mask |")
    w("|---:|---:|---:|---:|---:|---:|")
    for n in CI_SETS:
        h = rate(runs, "hush_stream_64k", "ci", n)
        s = rate(runs, "set_write_64k", "ci", n)
        w(f"| {n:,} | {fmt_ratio(ratio(h, rate(runs, 'vs_stream_64k', 'ci', n)))} | "
          f"{fmt_ratio(ratio(s, rate(runs, 'vs_stream_64k', 'ci', n)))} | "
          f"{fmt_ratio(ratio(h, rate(runs, 'vs_block', 'ci', n)))} | {fmt_ratio(ratio(h, copy))} | "
          f"{fmt_ratio(ratio(s, h))} |")
    w("")

    w("## Texts that are hard for a prefilter (GB/s, 64 KiB writes)")
    w("")
    w("| text | hush_mask | hushset_write | hushset_mask warm | Vectorscan stream | Vectorscan block | "
      "hush_mask ÷ Vectorscan stream | hushset_write ÷ Vectorscan stream |")
    w("|:--|---:|---:|---:|---:|---:|---:|---:|")
    for corpus, n, label in HARD:
        vs = rate(runs, "vs_stream_64k", corpus, n)
        w(f"| {label} | {fmt_rate(runs, 'hush_stream_64k', corpus, n)} | {fmt_rate(runs, 'set_write_64k', corpus, n)} | "
          f"{fmt_rate(runs, 'set_mask', corpus, n)} | {fmt_rate(runs, 'vs_stream_64k', corpus, n)} | "
          f"{fmt_rate(runs, 'vs_block', corpus, n)} | "
          f"{fmt_ratio(ratio(rate(runs, 'hush_stream_64k', corpus, n), vs))} | "
          f"{fmt_ratio(ratio(rate(runs, 'set_write_64k', corpus, n), vs))} |")
    w("")

    w("## Short writes (CI log)")
    w("")
    w("One write per generated log line of 40 to 200 bytes (559,149 lines), and per 4 KiB, all on one stream; "
      "nanoseconds per write.")
    w("")
    w("| secrets | hush_mask per line | hushset_write per line | Vectorscan stream per line | "
      "hush_mask per 4 KiB | hushset_write per 4 KiB | Vectorscan stream per 4 KiB |")
    w("|---:|---:|---:|---:|---:|---:|---:|")
    for n in (10, 1000):
        cells = [per_write_ns(runs, e, "ci", n) for e in ("hush_line", "set_line", "vs_line", "hush_stream_4k",
                                                         "set_write_4k", "vs_stream_4k")]
        w(f"| {n:,} | " + " | ".join("—" if c is None else f"{c:.0f}" for c in cells) + " |")
    w("")
    secret = runs.median("set_bytewise_secret", "ci", 1)
    log = runs.median("set_bytewise_log", "ci", 10)
    if secret and log:
        w(f"One byte per `hushset_write`: a 1 MiB secret {secret / 2**20 * 1e9:.1f} ns a byte, 1 MiB of the CI log "
          f"(10 secrets) {log / 2**20 * 1e9:.1f} ns a byte; ratio {secret / log:.2f}.")
        w("")

    w("## Building")
    w("")
    w("`hush_new` + `hush_insert` of every secret + `hush_build`, and `hushset_new` + `hushset_add` + "
      "`hushset_build`, CPU time, median of the repetitions; Vectorscan's compile is stream mode "
      "(`hs_compile_lit_multi`). Memory: the automaton and its filter as the library's allocator counts it, "
      "and the peak while building; Vectorscan's database, scratch and stream state.")
    w("")
    w("| secrets | hush_build | hushset_build | hushset_build, default forms | Vectorscan compile | "
      "hush_build ÷ Vectorscan | nodes | automaton | peak while building | hushset memory (peak) | "
      "filter block | Vectorscan memory |")
    w("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for n in CI_SETS:
        hb = runs.median("hush_build", "ci", n)
        if hb is None:
            continue
        sb = runs.median("set_build", "ci", n)
        fb = runs.median("set_forms_build", "ci", n)
        vc = runs.median("vs_compile", "ci", n)

        def ms(x):
            if x is None:
                return "—"
            if x >= 1:
                return f"{x:.2f} s"
            return f"{x * 1e3:.2f} ms" if x >= 1e-3 else f"{x * 1e6:.1f} µs"
        w(f"| {n:,} | {ms(hb)} | {ms(sb)} | {ms(fb)} | {ms(vc)} | {fmt_ratio(ratio(hb, vc))} | "
          f"{int(runs.counter('hush_build', 'ci', n, 'nodes') or 0):,} | "
          f"{mib(runs.counter('hush_build', 'ci', n, 'automaton_bytes'))} | "
          f"{mib(runs.counter('hush_build', 'ci', n, 'build_peak_bytes'))} | "
          f"{mib(runs.counter('set_build', 'ci', n, 'set_bytes'))} ({mib(runs.counter('set_build', 'ci', n, 'build_peak_bytes'))}) | "
          f"{mib(runs.counter('hush_build', 'ci', n, 'prefilter_bytes'))} | "
          f"{mib(runs.counter('vs_compile', 'ci', n, 'database_bytes'))} |")
    w("")

    if startup:
        w("## Command start-up")
        w("")
        w(f"`{startup[0]['command']}` with the default forms, reading N secrets (8 to 64 bytes) from a file and "
          f"masking an empty input; wall time of the whole process, median of {len(startup[0]['runs'])} runs "
          f"(spread in brackets); command at {startup[0]['revision']}.")
        w("")
        w("| secrets | start-up | runs | peak memory |")
        w("|---:|---:|:--|---:|")
        for entry in startup:
            w(f"| {entry['secrets']:,} | {entry['median']:.3f} s | "
              f"{min(entry['runs']):.3f}–{max(entry['runs']):.3f} | {entry['max_rss_kib'] / 1024:.0f} MiB |")
        w("")

    w("## Agreement")
    w("")
    w("Every masking benchmark compares its whole output with its rule's reference: hush_mask's non-streaming "
      "output for hush_mask, hushset_mask's for the every-occurrence engines (hushset, Vectorscan, find per "
      "secret); `rules agree` says the two references are the same bytes for that workload (no secret inside "
      "another at a non-zero offset), so every engine gave the same output there. The default-forms set is "
      "compared with its own whole-text output.")
    w("")
    w("| workload | rules agree | engines checked | all equal to their reference |")
    w("|:--|:--|---:|:--|")
    workloads = sorted({(c, n) for (_, c, n) in runs.counters if c != "ci" or n != 1 or True})
    for corpus, n in workloads:
        engines = [(e, r) for (e, c, m), r in runs.counters.items() if c == corpus and m == n and "same_output" in r]
        if not engines:
            continue
        agree = next((r.get("rules_agree") for _, r in engines if "rules_agree" in r), None)
        ok = all(r["same_output"] == 1 for _, r in engines)
        w(f"| {corpus}/{n:,} | {'—' if agree is None else ('yes' if agree == 1 else 'no')} | {len(engines)} | "
          f"{'yes' if ok else '**no**'} |")
    w("")
    w("All engines agree." if not problems else "**The engines disagree; see the top of this file.**")
    w("")

    w("## How it is measured")
    w("")
    w("- **Vectorscan stream mode** (the main baseline): the secrets compiled as literals in stream mode; each "
      "write is scanned with `hs_scan_stream` and masked at once into a reused buffer by a masker that holds back "
      "the last longest − 1 input bytes, or more while a run reaches into them (`bench/vectorscan_masker.cpp`). "
      "Block mode scans the whole text once, then sorts, merges and masks the intervals.")
    w("- `hush_mask` streams with the streaming bit and frees every output at once; `hushset_write` writes into "
      "one reused caller buffer of the write's length plus the hold limit; `hushset_mask` into a warm buffer of "
      "the text's size.")
    w("- The find-per-secret masker runs `std::string_view::find` once per secret and occurrence (left out "
      "beyond 100 secrets).")
    w("- Per-line writes cut the CI log at 40 to 200 bytes by a fixed random sequence; every engine gets the same "
      "cuts.")
    w("- The engines are linked from the internal static libraries (the same objects as the shared ones).")
    w("")
    sys.stdout.write("\n".join(out))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
