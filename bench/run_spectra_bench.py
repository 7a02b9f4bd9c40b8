#!/usr/bin/python3
"""Times the MS1 evidence of a table in an LC-MS run against OpenMS's load.

Usage: run_spectra_bench.py ISOTOPE OPENMS_LOAD RUN.mzML TABLE OUTDIR [--repeat N]

The reference is OpenMS's MzMLFile::load of the whole run (openms_load);
then isotope reads the table with isotope_spectra = RUN.mzML (scan column
Scan, charge Charge, observed precursor MZ), at its default thread count.
Each runs --repeat times: the time is the best wall-clock time, the memory
the largest peak resident memory of those runs (each run's own, from
wait4). The report gives both, the ratio isotope / OpenMS (target at most
1.5) and isotope's peak memory (target under 300 MB), then checks the
output: most rows (--min-share) must have found all five peaks with a
cosine above 0.99. Exits 1 when that check fails.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

import pandas as pd

RATIO_TARGET = 1.5
MEMORY_TARGET_MB = 300


def timed(cmd, repeat, env=None):
    """Best wall time (s) and largest peak RSS (MiB) of repeat runs, and
    the last run's standard output. Peak RSS comes from each child's own
    rusage, read when it is reaped."""
    times, peaks, out = [], [], ""
    for _ in range(repeat):
        start = time.perf_counter()
        with tempfile.TemporaryFile() as errfile:
            proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=errfile, env=env)
            stdout = proc.stdout.read()
            _, status, usage = os.wait4(proc.pid, 0)
            errfile.seek(0)
            err = errfile.read()
        times.append(time.perf_counter() - start)
        code = os.waitstatus_to_exitcode(status)
        if code != 0:
            sys.exit("{} failed ({}): {}".format(cmd[0], code, err.decode(errors="replace")[-1000:]))
        peaks.append(usage.ru_maxrss / 1024)
        out = stdout.decode()
    return min(times), max(peaks), out


def write_params(path, run):
    with open(path, "w") as f:
        f.write("isotope_peaks_num = 5\n"
                "isotope_spectra = {}\n"
                "isotope_scan_column = Scan\n"
                "isotope_charge_column = Charge\n"
                "isotope_precursor_mz_column = MZ\n".format(os.path.abspath(run)))


def output_of(table, outdir):
    stem = os.path.splitext(os.path.basename(table))[0]
    return os.path.join(outdir, stem + "_isotope_pyopenms.txt")


def sanity(output, min_share):
    """Share of rows with five peaks found and a cosine above 0.99."""
    frame = pd.read_csv(output, sep="\t", usecols=["MS1_Peaks_Found", "MS1_Cosine"])
    good = (frame["MS1_Peaks_Found"] == 5) & (frame["MS1_Cosine"] > 0.99)
    share = good.mean()
    print("  check: {:,} of {:,} rows ({:.2%}) found 5 peaks with cosine > 0.99 (need {:.0%}): {}".format(
        int(good.sum()), len(frame), share, min_share, "ok" if share >= min_share else "FAILED"))
    print("         median cosine {:.5f}, rows with no peak found {:,}".format(
        frame["MS1_Cosine"].median(), int((frame["MS1_Peaks_Found"] == 0).sum())))
    return share >= min_share


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("isotope")
    ap.add_argument("openms_load")
    ap.add_argument("run")
    ap.add_argument("table")
    ap.add_argument("outdir")
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--min-share", type=float, default=0.95)
    opts = ap.parse_args()
    os.makedirs(opts.outdir, exist_ok=True)
    params = os.path.join(opts.outdir, "spectra_params.txt")
    write_params(params, opts.run)
    with open(opts.table, "rb") as f:
        rows = sum(1 for _ in f) - 1
    print("run: {} ({:.2f} GB); table: {} ({:,} rows)".format(
        opts.run, os.path.getsize(opts.run) / 1e9, opts.table, rows))

    openms_s, openms_mb, said = timed([opts.openms_load, opts.run], opts.repeat)
    print("  OpenMS MzMLFile::load: best {:.2f} s of {}, peak resident memory {:.0f} MiB ({})".format(
        openms_s, opts.repeat, openms_mb, said.strip()))

    env = {k: v for k, v in os.environ.items() if k != "ISOTOPE_THREADS"}
    iso_s, iso_mb, _ = timed([opts.isotope, "-i", opts.table, "-o", opts.outdir, "-p", params], opts.repeat, env)
    threads = len(os.sched_getaffinity(0))
    print("  isotope with isotope_spectra: best {:.2f} s of {} ({} threads), {:,.0f} rows/s, "
          "peak resident memory {:.0f} MiB".format(iso_s, opts.repeat, threads, rows / iso_s, iso_mb))
    ratio = iso_s / openms_s
    print("  time isotope / OpenMS load: {:.2f} (target <= {}): {}".format(
        ratio, RATIO_TARGET, "met" if ratio <= RATIO_TARGET else "MISSED"))
    print("  isotope peak memory: {:.0f} MiB = {:.0f} MB (target < {} MB): {}".format(
        iso_mb, iso_mb * 1.048576, MEMORY_TARGET_MB, "met" if iso_mb * 1.048576 < MEMORY_TARGET_MB else "MISSED"))
    if not sanity(output_of(opts.table, opts.outdir), opts.min_share):
        sys.exit(1)


if __name__ == "__main__":
    main()
