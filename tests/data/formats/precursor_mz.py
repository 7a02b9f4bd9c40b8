#!/usr/bin/python3
"""The precursor m/z written into the hand-built fixture rows of this
folder, computed apart from the code under test: monoisotopic element
masses, residue and monosaccharide formulas typed in here, one water, and
(M + z * proton) / z, plus `offset` 13C spacings and a small ppm error.

    precursor_mz.py SEQUENCE MODS GLYCAN Z [OFFSET] [PPM]
    precursor_mz.py CVLEVISDSLSKPSPMPVSPECLETLQGDER C2H3NO,C2H3NO N1H1S1 3

MODS: formulas joined by commas ("-" for none), GLYCAN: N/H/F/S/G counts,
then bracketed codes with counts (N2H5F0S0G0X[Pent]1).
"""
import re
import sys

MASS = {"H": 1.00782503207, "C": 12.0, "N": 14.0030740048, "O": 15.99491461956, "S": 31.972071,
        "P": 30.97376163, "C[13]": 13.0033548378, "N[15]": 15.0001088982,
        # AME 2016 (Wang et al., Chinese Physics C 41, 030003).
        "Na": 22.9897692820, "K": 38.9637064864}
RESIDUE = {"A": "C3H5NO", "C": "C3H5NOS", "D": "C4H5NO3", "E": "C5H7NO3", "F": "C9H9NO", "G": "C2H3NO",
           "H": "C6H7N3O", "I": "C6H11NO", "K": "C6H12N2O", "L": "C6H11NO", "M": "C5H9NOS", "N": "C4H6N2O2",
           "P": "C5H7NO", "Q": "C5H8N2O2", "R": "C6H12N4O", "S": "C3H5NO2", "T": "C4H7NO2", "V": "C5H9NO",
           "W": "C11H10N2O", "Y": "C9H9NO2"}
SUGAR = {"N": "C8H13NO5", "H": "C6H10O5", "F": "C6H10O4", "S": "C11H17NO8", "G": "C11H17NO9",
         # Residues (xylose and pentose C5H10O5, KDN C9H16O9 and hexuronic
         # acid C6H10O7 less one water), substituents that replace an H
         # (phosphate HPO3, sulfate SO3, acetyl C2H2O), adducts (a metal ion
         # for a proton, ammonium as NH3), and MetaMorpheus's free xylose.
         "X[Xyl]": "C5H8O4", "X[Pent]": "C5H8O4", "X[KDN]": "C9H14O8", "X[HexA]": "C6H8O6",
         "X[Phospho]": "HPO3", "X[Sulfo]": "SO3", "X[Ac]": "C2H2O", "X[Na]": "NaH-1", "X[K]": "KH-1",
         "X[NH4]": "NH3", "X[Xyl+H2O]": "C5H10O5"}
PROTON = 1.007276466621
C13_SPACING = 1.0033548378


def mass(formula):
    return sum(MASS[e] * int(n if n not in ("", "+", "-") else n + "1")
               for e, n in re.findall(r"([A-Z][a-z]?(?:\[\d+\])?)([+-]?\d*)", formula))


def main(seq, mods, glycan, z, offset="0", ppm="0"):
    m = sum(mass(RESIDUE[r]) for r in seq) + mass("H2O")
    m += sum(mass(f) for f in mods.split(",") if f != "-")
    m += sum(mass(SUGAR[k]) * int(n) for k, n in re.findall(r"([NHFSG]|X\[[^]]+\])(\d+)", glycan))
    z = int(z)
    mz = (m + z * PROTON) / z + int(offset) * C13_SPACING / z
    mz *= 1 + float(ppm) * 1e-6
    print("M %.6f  m/z %.5f  (neutral for GlycReSoft %.5f)" % (m, mz, mz * z - z * PROTON))


if __name__ == "__main__":
    main(*sys.argv[1:])
