#!/usr/bin/python3
"""Every real engine result file through the native program: per file, the
rows mapped, the rows refused (grouped by why), the decoys, and the spread
of GP_PPM (the error to the engine's own precursor).

    bench/real_engines.py [--isotope build/isotope] [--real ../shared/real] [--runs]

The files are read where they lie (engines/<format>/*, and with --runs the
MetaMorpheus and MSFragger tables of runs/); nothing is copied. A refusal's
reason comes from the program's warning; when a table has more refused rows
than the warnings show, those rows are run again in small tables of their
own.
"""
import argparse
import csv
import re
import statistics
import subprocess
import sys
import tempfile
from collections import Counter
from pathlib import Path

FORMATS = {"pglyco3": "pglyco3", "fragpipe": "fragpipe", "metamorpheus": "metamorpheus", "glycresoft": "glycresoft"}
RUNS = {"runs/flashlfq_yeast/AllPSMs.psmtsv": "metamorpheus",
        "runs/mm_example/example_PSMs_5ppmAroundZero.psmtsv": "metamorpheus",
        "runs/flashlfq_yeast/msfragger_psm.tsv": "fragpipe"}
UNMAPPED = re.compile(r"warning: row could not be mapped: (.*); its computed cells were left empty, line (\d+) of ")
QUOTED_CELL = re.compile(r"((?:Full Sequence|glycopeptide|Peptide|GlycanComposition|Total Glycan Composition) )'[^']*'")


def run(isotope, table, fmt, work):
    params = work / "params.txt"
    params.write_text("isotope_peaks_num = 5\nisotope_input_format = %s\n" % fmt)
    p = subprocess.run([isotope, "-i", str(table), "-o", str(work), "-p", str(params)],
                       capture_output=True, text=True)
    name = table.name[:table.name.rfind(".")] if "." in table.name else table.name
    out = work / (name + "_isotope_pyopenms.txt")
    return p, out


def reasons_of(stderr):
    return {int(m.group(2)): QUOTED_CELL.sub(r"\1'...'", m.group(1)) for m in UNMAPPED.finditer(stderr)}


def all_reasons(isotope, table, fmt, lines, work):
    """The reason of each refused line, running them ten at a time."""
    text = table.read_bytes().split(b"\n")
    found = {}
    for start in range(0, len(lines), 10):
        part = lines[start:start + 10]
        sub = work / ("part" + table.suffix)
        sub.write_bytes(b"\n".join([text[0]] + [text[n - 1] for n in part]) + b"\n")
        p, _ = run(isotope, sub, fmt, work)
        got = reasons_of(p.stderr)
        for k, n in enumerate(part):
            found[n] = got.get(k + 2, "?")
    return found


def summarize(isotope, table, fmt, work):
    p, out = run(isotope, table, fmt, work)
    if p.returncode != 0:
        return {"file": table.name, "error": p.stderr.strip().splitlines()[-1]}
    with open(out, newline="") as f:
        rows = list(csv.DictReader(f, delimiter="\t", quoting=csv.QUOTE_NONE))
    decoys = sum(int(m.group(1)) for m in re.finditer(r"isotope: (\d+) decoy rows? of ", p.stderr))
    mapped = [r for r in rows if r["GP_Mass"]]
    ppm = sorted(float(r["GP_PPM"]) for r in mapped if r["GP_PPM"])
    reasons = reasons_of(p.stderr)
    refused = len(rows) - len(mapped) - decoys
    if refused > len(reasons):
        lines = [n for n, r in enumerate(rows, start=2) if not r["GP_Mass"]]
        reasons = {n: r for n, r in all_reasons(isotope, table, fmt, lines, work).items() if r != "?"}
    offsets = Counter(r["GP_Isotope_Offset"] or "none" for r in mapped if r["GP_PPM"])
    return {"file": table.name, "rows": len(rows), "mapped": len(mapped), "refused": refused, "decoys": decoys,
            "reasons": Counter(reasons.values()), "ppm": ppm, "offsets": offsets,
            "notes": sorted(set(l for l in p.stderr.splitlines() if "row could not" not in l and "%|" not in l
                                and not l.startswith(("Build", "isotope: of ")) and "it [" not in l))}


def show(s):
    if "error" in s:
        print("%s: FAILED: %s" % (s["file"], s["error"]))
        return
    spread = "-"
    if s["ppm"]:
        spread = "%+.2f .. %+.2f (median %+.2f, max |ppm| %.2f)" % (
            s["ppm"][0], s["ppm"][-1], statistics.median(s["ppm"]), max(abs(v) for v in s["ppm"]))
    print("%s: %d rows, %d mapped, %d refused, %d decoys; GP_PPM %s; offsets %s" % (
        s["file"], s["rows"], s["mapped"], s["refused"], s["decoys"], spread,
        ", ".join("%s: %d" % kv for kv in sorted(s["offsets"].items()))))
    for reason, n in s["reasons"].most_common():
        print("    %4d refused: %s" % (n, reason))
    for note in s["notes"][:5]:
        print("    note: %s" % note[:200])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--isotope", default="build/isotope")
    ap.add_argument("--real", default="../shared/real")
    ap.add_argument("--runs", action="store_true")
    args = ap.parse_args()
    real = Path(args.real)
    if not (real / "engines").is_dir():
        print("no real engine files at %s" % real)
        return 0
    tables = [(f, FORMATS[d.name]) for d in sorted((real / "engines").iterdir()) if d.name in FORMATS
              for f in sorted(d.iterdir()) if f.name != "SOURCE.txt"]
    if args.runs:
        tables += [(real / rel, fmt) for rel, fmt in RUNS.items() if (real / rel).exists()]
    with tempfile.TemporaryDirectory() as tmp:
        for table, fmt in tables:
            print("[%s] " % fmt, end="")
            show(summarize(args.isotope, table, fmt, Path(tmp)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
