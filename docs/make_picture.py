#!/usr/bin/python3
"""Draws the README's picture: the isotope envelope of EEQYNSTYR with the
glycan HexNAc4Hex3Fuc1 (N4H3F1S0G0) at charge 2, by plot_isotopes.

Usage: PYTHONPATH=build/python docs/make_picture.py [OUT]
(OUT defaults to docs/envelope_EEQYNSTYR_N4H3F1_z2.png; `make picture`
builds the module and runs this.) The PNG carries no software version, so
the same matplotlib and fonts give the same bytes.
"""
import pathlib
import sys

import matplotlib

matplotlib.use("Agg")

import morvandel.plugins.isotope as iso  # noqa: E402

DEFAULT = pathlib.Path(__file__).resolve().parent / "envelope_EEQYNSTYR_N4H3F1_z2.png"


def main(out):
    ax = iso.plot_isotopes("EEQYNSTYR", "N4H3F1S0G0", charge=2)
    ax.figure.savefig(out, dpi=100, metadata={"Software": None})


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else DEFAULT)
