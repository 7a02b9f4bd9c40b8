#!/usr/bin/python3
"""Times the isotope program on a table and reports rows/s and peak memory.

Usage: run_bench.py ISOTOPE TABLE PARAMS OUTDIR [--repeat N]
Peak resident memory is the child's ru_maxrss; the time is the best of the
repeats (wall clock).
"""
import argparse
import resource
import subprocess
import sys
import time


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("isotope")
    ap.add_argument("table")
    ap.add_argument("params")
    ap.add_argument("outdir")
    ap.add_argument("--repeat", type=int, default=3)
    opts = ap.parse_args()
    with open(opts.table, "rb") as f:
        rows = sum(1 for _ in f) - 1
    best = None
    for _ in range(opts.repeat):
        start = time.perf_counter()
        run = subprocess.run([opts.isotope, "-i", opts.table, "-o", opts.outdir, "-p", opts.params],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        elapsed = time.perf_counter() - start
        if run.returncode != 0:
            sys.exit("isotope failed: " + run.stderr.decode(errors="replace")[-1000:])
        best = elapsed if best is None else min(best, elapsed)
    peak_kib = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    print("rows: {}".format(rows))
    print("best wall time: {:.3f} s over {} runs".format(best, opts.repeat))
    print("throughput: {:,.0f} rows/s".format(rows / best))
    print("peak resident memory: {:.1f} MiB".format(peak_kib / 1024))


if __name__ == "__main__":
    main()
