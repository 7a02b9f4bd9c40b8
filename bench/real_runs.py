#!/usr/bin/python3
"""The real runs' identifications through the native program with their
spectra: per table, the confident rows' MS1 evidence (the share with three
or more peaks found, the median and 10th-percentile MS1_Cosine, the mean
|MS1_PPM|, the share with MS1_Offset 0, the share left without evidence),
and the runs that must warn or fail.

    bench/real_runs.py [--isotope build/isotope] [--real ../shared/real] [--rt-window 0.5]

The files are read where they lie (runs/*); nothing is copied.
"""
import argparse
import subprocess
import sys
import tempfile
from pathlib import Path

import pandas

# table, format, run, which rows are confident
CASES = [
    ("glycresoft_agp/glycresoft_classic_agp_search_gsm.csv", "glycresoft", "glycresoft_agp/AGP_001_29_30.envelope_points.mzML",
     lambda d: d["q_value"] <= 0.05),
    ("flashlfq_yeast/AllPSMs.psmtsv", "metamorpheus", "flashlfq_yeast/SmallCalibratible_Yeast.mzML",
     lambda d: (d["QValue"] <= 0.01) & (d["Decoy"] == "N")),
    ("glycresoft_agp/glycresoft_classic_agp_search_gsm.csv", "glycresoft",
     "glycresoft_agp/20150710_3um_AGP_001_29_30.preprocessed.mzML", None),
    ("mm_example/example_PSMs_5ppmAroundZero.psmtsv", "metamorpheus", "mm_example/example.mzML", None),
]


def run(isotope, table, fmt, spectra, work, window):
    params = work / "params.txt"
    params.write_text(f"isotope_peaks_num = 5\nisotope_input_format = {fmt}\nisotope_spectra = {spectra}\n"
                      f"isotope_rt_window_min = {window}\n")
    p = subprocess.run([isotope, "-i", str(table), "-o", str(work), "-p", str(params)], capture_output=True, text=True)
    return p, work / (table.stem + "_isotope_pyopenms.txt")


def figures(rows):
    found = rows["MS1_Peaks_Found"]
    return {"rows": len(rows), "3+ peaks": (found >= 3).mean(), "median cosine": rows["MS1_Cosine"].median(),
            "p10 cosine": rows["MS1_Cosine"].quantile(0.1), "mean |ppm|": rows["MS1_PPM"].abs().mean(),
            "offset 0": (rows["MS1_Offset"] == 0).mean(), "no evidence": rows["MS1_Scan"].isna().mean()}


def abundance_correlations(d):
    """Spearman's rank correlation of GlycReSoft's precursor_abundance with
    each row's summed MS1_Intensities and with its MS1_Area."""
    summed = d["MS1_Intensities"].map(lambda cell: sum(map(float, str(cell).split(","))) if cell == cell else None)
    frame = pandas.DataFrame({"abundance": d["precursor_abundance"], "summed": summed, "area": d["MS1_Area"]})
    ranks = frame.corr(method="spearman")["abundance"]
    return {"summed MS1_Intensities": ranks["summed"], "MS1_Area": ranks["area"]}


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--isotope", default="build/isotope")
    ap.add_argument("--real", default=str(Path(__file__).resolve().parents[2] / "shared" / "real"))
    ap.add_argument("--rt-window", default="0.5", help="isotope_rt_window_min (minutes)")
    args = ap.parse_args()
    runs = Path(args.real) / "runs"
    for table, fmt, spectra, confident in CASES:
        with tempfile.TemporaryDirectory() as tmp:
            p, out = run(args.isotope, runs / table, fmt, runs / spectra, Path(tmp), args.rt_window)
            print(f"== {table} with {spectra}: exit {p.returncode}")
            if confident is None or p.returncode != 0:
                print("   " + "\n   ".join(line for line in p.stderr.splitlines() if "isotope:" in line)[:600])
                continue
            d = pandas.read_csv(out, sep="\t", low_memory=False)
            for name, value in figures(d[confident(d)]).items():
                print(f"   {name:14} {value:.4g}")
            if "precursor_abundance" in d:
                print("   Spearman with GlycReSoft's precursor_abundance: " + ", ".join(
                    f"{name} {value:.3f}" for name, value in abundance_correlations(d).items()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
