#!/usr/bin/python3
"""The Python module's batch functions against the native program.

Usage: bench_python.py ISOTOPE TABLE PARAMS OUTDIR [--repeat N]
(run with PYTHONPATH at the build tree's python folder)

- annotate on the table read with pandas (the time beyond read_csv), next to
  the native program on the same table, both with every thread;
- patterns of 100,000 distinct glycopeptide formulas at 1 and 2 threads.
"""
import argparse
import random
import subprocess
import time
import warnings

import pandas

import morvandel.plugins.isotope as iso


def best(f, repeat):
    f()  # warm up: allocator, workspaces, caches
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        f()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("isotope")
    ap.add_argument("table")
    ap.add_argument("params")
    ap.add_argument("outdir")
    ap.add_argument("--repeat", type=int, default=3)
    opts = ap.parse_args()
    warnings.simplefilter("ignore", iso.IsotopeInputWarning)

    df = pandas.read_csv(opts.table, sep=r"\s+")
    native = best(lambda: subprocess.run([opts.isotope, "-i", opts.table, "-o", opts.outdir, "-p", opts.params],
                                         check=True, capture_output=True), opts.repeat)
    annotate = best(lambda: iso.annotate(df, opts.params), opts.repeat)
    print("annotate ({:,} rows, all threads): {:.3f} s beyond read_csv; native program {:.3f} s; ratio {:.2f}".format(
        len(df), annotate, native, annotate / native))

    rng = random.Random(7)
    formulas = set()
    while len(formulas) < 100_000:
        formulas.add("C{}H{}N{}O{}S{}".format(rng.randint(40, 400), rng.randint(60, 650), rng.randint(8, 60),
                                           rng.randint(20, 250), rng.randint(0, 6)))
    formulas = sorted(formulas)
    one = best(lambda: iso.patterns(formulas, n=5, threads=1), 5 * opts.repeat)
    two = best(lambda: iso.patterns(formulas, n=5, threads=2), 5 * opts.repeat)
    print("patterns (100,000 distinct formulas, 5 peaks): 1 thread {:.3f} s, 2 threads {:.3f} s, speed-up {:.2f}x".format(
        one, two, one / two))


if __name__ == "__main__":
    main()
