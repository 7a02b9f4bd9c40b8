#!/usr/bin/python3
"""Draws the README's picture of an envelope in its spectrum: GlycReSoft's
identification of SVQEIQATFFYFTPNK + HexNAc4Hex5NeuAc2 at charge 5 (MS2
spectrum scanId=1791783) in the AGP run's MS1 spectrum, mirrored against
the theoretical sticks, with the window's chromatogram, by plot_isotopes.

Usage: PYTHONPATH=build/python docs/make_spectrum_picture.py [RUN [OUT]]
RUN defaults to ../shared/real/runs/glycresoft_agp/AGP_001_29_30.envelope_points.mzML
(public test data of GlycReSoft, read where it lies), OUT to
docs/envelope_in_spectrum_AGP.png.
"""
import pathlib
import sys

import matplotlib

matplotlib.use("Agg")

import morvandel.plugins.isotope as iso  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
RUN = HERE.parents[1] / "shared" / "real" / "runs" / "glycresoft_agp" / "AGP_001_29_30.envelope_points.mzML"


def main(run, out):
    ax, _ = iso.plot_isotopes("SVQEIQATFFYFTPNK", "N4H5F0S2G0", charge=5, spectra=run, scan="scanId=1791783",
                              chromatogram=True, mirror=True)
    ax.figure.savefig(out, dpi=90, metadata={"Software": None})


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else RUN, sys.argv[2] if len(sys.argv) > 2 else HERE / "envelope_in_spectrum_AGP.png")
