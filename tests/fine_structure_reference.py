"""IsoSpec's figures for the isotope peak tests, from OpenMS's element data.

For each formula given (one-letter elements with counts, "C106H164N18O59"),
IsoSpec enumerates the fine structure until it covers at least 1 - 1e-7 of
the probability, with the isotope masses and abundances of OpenMS's
Elements.xml (abundances as the floats OpenMS keeps, over their sum;
isotopes without abundance left out). The isotopologues are binned by neutron count; per bin the script
prints the probability and the probability-weighted mean mass:

    <formula> <k> <probability> <mean mass>

With --own, IsoSpec uses its own isotope table instead of OpenMS's (the
check that OpenMS's element data agree with it); formulas may then hold
two-letter elements ("Na1").

With --fine THRESHOLD it prints instead every isotopologue at least
THRESHOLD times the most probable one, by mass, from the abundances as they
are (not over their sum), as OpenMS's fine generator uses them:

    <formula> <mass> <probability>
"""
import argparse
import re
import sys
import xml.etree.ElementTree as ET

import numpy as np
import IsoSpecPy


def read_elements(path, normalise=True):
    """symbol -> (masses, probabilities) from OpenMS's Elements.xml."""
    elements = {}
    root = ET.parse(path).getroot()
    for node in root.iter("NODE"):
        items = {i.get("name"): i.get("value") for i in node.findall("ITEM")}
        isotopes = node.find("NODE[@name='Isotopes']")
        if "Symbol" not in items or isotopes is None:
            continue
        masses, abundances = [], []
        for iso in isotopes.findall("NODE"):
            v = {i.get("name"): i.get("value") for i in iso.findall("ITEM")}
            # OpenMS keeps an abundance as a float fraction.
            a = float(np.float32(float(v["RelativeAbundance"]) / 100))
            if a > 0:
                masses.append(float(v["AtomicMass"]))
                abundances.append(a)
        total = sum(abundances) if normalise else 1.0
        elements[items["Symbol"]] = (masses, [a / total for a in abundances])
    return elements


def parse(formula):
    pairs = re.findall(r"([A-Z][a-z]?)(\d+)", formula)
    assert "".join(s + n for s, n in pairs) == formula, formula
    return [(s, int(n)) for s, n in pairs if int(n) > 0]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--elements", required=True)
    ap.add_argument("--fine", type=float)
    ap.add_argument("--own", action="store_true")
    ap.add_argument("formulas", nargs="+")
    args = ap.parse_args()
    # OpenMS's fine generator hands IsoSpec the float abundances as they
    # are; the peak positions use them over their sum.
    elements = read_elements(args.elements, normalise=args.fine is None)
    for formula in args.formulas:
        pairs = parse(formula)
        counts = [n for _, n in pairs]
        masses = [elements[s][0] for s, _ in pairs]
        probs = [elements[s][1] for s, _ in pairs]
        if args.fine is not None:
            iso = IsoSpecPy.IsoThreshold(args.fine, absolute=False, atomCounts=counts,
                                         isotopeMasses=masses, isotopeProbabilities=probs)
            m = np.array(list(iso.masses))
            p = np.array(list(iso.probs))
            for i in np.argsort(m, kind="stable"):
                print(formula, repr(float(m[i])), repr(float(p[i])))
            continue
        if args.own:
            iso = IsoSpecPy.IsoTotalProb(1 - 1e-7, formula=formula)
        else:
            iso = IsoSpecPy.IsoTotalProb(1 - 1e-7, atomCounts=counts, isotopeMasses=masses,
                                         isotopeProbabilities=probs)
        m = np.array(list(iso.masses))
        p = np.array(list(iso.probs))
        lightest = m.min() if args.own else sum(n * ms[0] for n, ms in zip(counts, masses))
        k = np.rint(m - lightest).astype(np.int64)
        weight = np.bincount(k, weights=p)
        moment = np.bincount(k, weights=p * m)
        for j in range(len(weight)):
            if weight[j] > 0:
                print(formula, j, repr(float(weight[j])), repr(float(moment[j] / weight[j])))


if __name__ == "__main__":
    sys.exit(main())
