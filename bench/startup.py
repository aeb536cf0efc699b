#!/usr/bin/env python3
"""Times the hushmask command's start-up with the default forms.

Usage: startup.py COMMAND CPU REVISION > startup.json

For 1,000, 10,000 and 100,000 secrets of 8 to 64 bytes (one per line in a
file, the same secrets every time) the command masks an empty input; each
count is run once to warm the page cache and then RUNS times pinned to CPU,
and the wall time of the whole process and its peak memory are kept.
"""
import json
import os
import random
import statistics
import string
import subprocess
import sys
import tempfile
import time

COUNTS = [1000, 10000, 100000]
RUNS = 5
ALPHABET = string.ascii_letters + string.digits + "_-"


def secrets_file(directory, count):
    prng = random.Random(0x5EC2E75 + count)
    path = os.path.join(directory, f"secrets-{count}.txt")
    with open(path, "w") as handle:
        for _ in range(count):
            handle.write("".join(prng.choice(ALPHABET) for _ in range(prng.randint(8, 64))) + "\n")
    return path


def run_once(argv):
    start = time.perf_counter()
    process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"{' '.join(argv)} exited with {os.waitstatus_to_exitcode(status)}")
    return elapsed, usage.ru_maxrss


def main():
    command, cpu, revision = sys.argv[1], sys.argv[2], sys.argv[3]
    results = []
    with tempfile.TemporaryDirectory() as directory:
        empty = os.path.join(directory, "empty.log")
        open(empty, "w").close()
        for count in COUNTS:
            argv = ["taskset", "-c", cpu, command, "-f", secrets_file(directory, count), empty]
            run_once(argv)
            times, peak = [], 0
            for _ in range(RUNS):
                elapsed, rss = run_once(argv)
                times.append(elapsed)
                peak = max(peak, rss)
            results.append({"secrets": count, "median": statistics.median(times), "runs": times,
                            "max_rss_kib": peak, "command": "hushmask -f SECRETS EMPTY_FILE",
                            "revision": revision})
    json.dump(results, sys.stdout, indent=1)


if __name__ == "__main__":
    main()
