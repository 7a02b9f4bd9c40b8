#!/usr/bin/python3
"""Times the isotope program on a table and reports rows/s and peak memory.

Usage: run_bench.py ISOTOPE TABLE PARAMS OUTDIR [--repeat N] [--threads 1,0]
Each thread count (ISOTOPE_THREADS; 0: every core) runs --repeat times; the
time is the best wall-clock time, the memory the largest peak resident
memory of those runs (each run's own, from wait4).
"""
import argparse
import os
import subprocess
import sys
import time


def run_once(cmd, env):
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    err = proc.stderr.read()
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit("isotope failed: " + err.decode(errors="replace")[-1000:])
    return elapsed, usage.ru_maxrss / 1024


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("isotope")
    ap.add_argument("table")
    ap.add_argument("params")
    ap.add_argument("outdir")
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--threads", default="1,0")
    opts = ap.parse_args()
    with open(opts.table, "rb") as f:
        rows = sum(1 for _ in f) - 1
    print("table: {} ({:,} rows)".format(opts.table, rows))
    for threads in opts.threads.split(","):
        env = dict(os.environ, ISOTOPE_THREADS=threads)
        runs = [run_once([opts.isotope, "-i", opts.table, "-o", opts.outdir, "-p", opts.params], env)
                for _ in range(opts.repeat)]
        best = min(t for t, _ in runs)
        peak = max(m for _, m in runs)
        label = "all ({})".format(len(os.sched_getaffinity(0))) if threads == "0" else threads
        print("  threads {:>8}: best {:.3f} s of {}, {:>11,.0f} rows/s, peak resident memory {:.1f} MiB".format(
            label, best, opts.repeat, rows / best, peak))


if __name__ == "__main__":
    main()
