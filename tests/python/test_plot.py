"""plot_isotopes, drawn with the Agg backend: its sticks, labels and title
against IsoSpec's isotopologues, the fine structure's scale, matplotlib
left unimported until a picture is asked for, and the README's PNG."""

import pathlib
import re
import struct
import subprocess
import sys

import IsoSpecPy
import matplotlib
import numpy
import pytest

matplotlib.use("Agg")
from matplotlib.figure import Figure  # noqa: E402

PROTON = 1.007276466621
REPO = pathlib.Path(__file__).resolve().parents[2]


def isospec_envelope(formula, charge, n):
    """The first n coarse peaks from IsoSpec's fine structure: the m/z of
    each peak's probability-weighted mean mass (the mass at charge 0), and
    the peak's probabilities scaled to add up to 1."""
    dist = IsoSpecPy.IsoTotalProb(formula=formula, prob_to_cover=0.999999)
    masses, probs = numpy.array(list(dist.masses)), numpy.array(list(dist.probs))
    extra = numpy.rint(masses - masses.min()).astype(int)
    mean = numpy.array([numpy.average(masses[extra == k], weights=probs[extra == k]) for k in range(n)])
    prob = numpy.array([probs[extra == k].sum() for k in range(n)])
    position = (mean + charge * PROTON) / charge if charge else mean
    return position, prob / prob.sum()


def sticks(collection):
    segments = collection.get_segments()
    return numpy.array([s[0][0] for s in segments]), numpy.array([s[1][1] for s in segments])


def test_glycopeptide_sticks_labels_and_title(iso):
    ax = iso.plot_isotopes("EEQYNSTYR", "N4H3F1S0G0", charge=2)
    mz, height = isospec_envelope("C106H164N18O59", 2, 5)
    x, y = sticks(ax.collections[0])
    assert len(ax.collections) == 1 and len(x) == 5
    assert x == pytest.approx(mz, abs=1e-4) and y == pytest.approx(height, abs=5e-3)
    labels = [t.get_text() for t in ax.texts]
    assert all(re.fullmatch(r"\d+\.\d{4}", label) for label in labels), labels
    assert [float(label) for label in labels] == pytest.approx(mz, abs=6e-5)
    title = ax.get_title()
    for part in ("EEQYNSTYR + HexNAc4Hex3Fuc1", "C106H164N18O59", "z = 2", "m/z %.4f" % mz[0]):
        assert part in title


def test_composition_at_charge_zero_into_the_given_axes(iso):
    ax = Figure().subplots()
    assert iso.plot_isotopes(iso.Composition({"O": 6, "H": 12, "C": 6}), charge=0, n=3, ax=ax) is ax
    mass, height = isospec_envelope("C6H12O6", 0, 3)
    x, y = sticks(ax.collections[0])
    assert x == pytest.approx(mass, abs=1e-4) and y == pytest.approx(height, abs=5e-3)
    assert [t.get_text() for t in ax.texts] == ["%.4f" % m for m in mass]
    assert "C6H12O6, z = 0" in ax.get_title() and ax.get_xlabel() == "mass (Da)"


def test_fine_structure_adds_up_to_each_coarse_peak(iso):
    # Two peaks of a large glycopeptide hold about half of the distribution,
    # so fine intensities left as probabilities would be about half too low.
    ax = iso.plot_isotopes("EEQYNSTYR", "N4H5F1S1G0", charge=3, n=2, fine=True)
    coarse, fine = ax.collections
    x, y = sticks(coarse)
    fine_x, fine_y = sticks(fine)
    assert len(x) == 2 and len(fine_x) > 2
    assert fine_x.min() > x[0] - 0.5 / 3 and fine_x.max() < x[1] + 0.5 / 3
    for peak, top in zip(x, y):
        assert fine_y[abs(fine_x - peak) < 0.5 / 3].sum() == pytest.approx(top, abs=5e-3)


def test_params_name_the_modification_and_the_peaks(iso):
    # A deamidation (Unimod: H-1N-1O1, +0.984016 Da) on EEQYNSTYR + N4H3F1S0G0.
    params = {"isotope_modification.Deam": "H-1N-1O1", "isotope_peaks_num": 3, "isotope_normalize": "max"}
    x, y = sticks(iso.plot_isotopes("EEQ[Deam]YNSTYR", "N4H3F1S0G0", charge=2, params=params).collections[0])
    assert len(x) == 3 and y.sum() == pytest.approx(1)  # sticks add up to 1 whatever isotope_normalize says
    assert x[0] == pytest.approx((2633.03859989992 + 0.984016) / 2 + PROTON, abs=1e-6)
    assert len(sticks(iso.plot_isotopes("EEQ[Deam]YNSTYR", "N4H3F1S0G0", n=4, params=params).collections[0])[0]) == 4


def test_matplotlib_waits_for_the_first_picture(python_run):
    proc = python_run("import sys, morvandel.plugins.isotope as m\n"
                      "print('matplotlib' in sys.modules)\n"
                      "m.plot_isotopes('GG', charge=1)\n"
                      "print('matplotlib' in sys.modules)", env={"MPLBACKEND": "Agg"})
    assert proc.stdout.split() == [b"False", b"True"], proc.stderr.decode()


def test_readme_picture_script_writes_the_png(tmp_path):
    out = tmp_path / "envelope.png"
    subprocess.run([sys.executable, str(REPO / "docs" / "make_picture.py"), str(out)], check=True)
    data = out.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    assert struct.unpack(">II", data[16:24]) == (700, 400)  # 7 x 4 inches at 100 dpi
