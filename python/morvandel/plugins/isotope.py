"""Glycopeptide compositions, neutral monoisotopic masses and isotope patterns.

Give it a table of glycopeptide identifications (a PepSeq with bracketed
modifications, and the monosaccharide counts N H F S G) and it adds, row by
row, the glycan string (Glycan), the positioned modifications (PepMods), the
mass of peptide + glycan + water (GP_Mass) and the relative intensities of
the first isotope peaks (GP_Isotopes):

- annotate returns a pandas DataFrame with these columns added;
  run_single_file writes one table file back with them, run_multiple_files
  every table of a folder, and main is the same as a command line (-i TABLE
  or -d FOLDER, -o OUT, -p PARAMS). They compute on worker threads.
- Composition is an elemental composition with + and *, mass() and mz().
  The reference tables aa_comp, mod_comp and gly_comp (gathered in mass_d,
  with the masses of a few building blocks under "mic") and mod_d (Unimod
  titles to codes) feed the one-step operations calc_counter_comp,
  calc_seq_comp, mods_counter, calc_mod_comp, calc_pep_comp,
  component_counter, glycan_counter, calc_glycan_comp and comp_to_str;
  split_pep_seq and glycopeptide_comp give a row's pieces as a table run
  sees them.
- calc_iso_dist is the isotope pattern of a formula (OpenMS's coarse
  generator), patterns those of many compositions as one array,
  isotope_peaks the peaks with their positions, and fine_isotope_peaks the
  fine structure; plot_isotopes draws the envelope (matplotlib).

A row whose result rests on a guess gives an IsotopeInputWarning; failures
are Python's own exceptions (KeyError for an unknown residue, modification
or glycan code, with the file, line and column as a note when a table holds
it). The operations read the module's tables when they run: rebinding
aa_comp, mod_comp or gly_comp changes what the next call uses. Functions and
classes pickle by reference and compositions by value, so they travel to
multiprocessing, concurrent.futures and Dask workers as they are.

>>> comp = glycopeptide_comp("EEQYNSTYR", "N4H3F1S0G0")
>>> comp_to_str(comp), round(comp.mass(), 4)
('H164C106O59N18', 2633.0386)

Test seam: the environment variable MORVANDEL_ISOTOPE_TEST_FAIL_LITERAL_AT,
read once at import, makes the literal table step fail as it reaches the
entry with that key, so that the Unimod fallback runs (and binds db, the
Unimod database). It exists for the tests only.
"""

# The names of this module are bound in a fixed order, and no other name is
# bound: the compiled part, morvandel.plugins._isotope, is reached through
# sys.modules when an operation runs.
import re
import os
import sys
import numpy as np
from morvandel.plugins._isotope import Composition
from multiprocessing import freeze_support
import argparse
from collections import Counter
from morvandel.plugins.utils import path_full_split

mass_d, db, mod_d = sys.modules["morvandel.plugins._isotope"].reference_tables(
    os.environ.get("MORVANDEL_ISOTOPE_TEST_FAIL_LITERAL_AT"))
if db is None:
    del db
gly_comp = mass_d["gly_comp"]
aa_comp = mass_d["aa_comp"]
mod_comp = mass_d["mod_comp"]


class MyParser(argparse.ArgumentParser):
    """An argument parser that shows the whole help after a usage error.

    >>> MyParser(prog="isotope").parse_args(["--no-such-option"])
    Traceback (most recent call last):
    SystemExit: 2
    """

    def error(self, message):
        sys.stderr.write("error: %s\n" % message)
        self.print_help()
        sys.exit(2)


def calc_counter_comp(counter, comp_map):
    """The sum over counter's keys, in order, of comp_map[key] times int(count).

    >>> calc_counter_comp({"N": 2, "H": 1}, gly_comp)
    Composition({'H': 36, 'C': 22, 'N': 2, 'O': 15})
    """
    return sys.modules["morvandel.plugins._isotope"].calc_counter_comp(counter, comp_map)


def calc_seq_comp(seq, comp_map, residue=True):
    """The composition of the residues of seq (one per character), plus one water unless residue.

    >>> calc_seq_comp("GAK", aa_comp)
    Composition({'H': 20, 'C': 11, 'O': 3, 'N': 4})
    >>> calc_seq_comp("GAK", aa_comp, residue=False)
    Composition({'H': 22, 'C': 11, 'O': 4, 'N': 4})
    """
    return sys.modules["morvandel.plugins._isotope"].calc_seq_comp(seq, comp_map, residue)


def mods_counter(mods, /):
    """A Counter of the modification names of a string such as "3,C,Carbamidomethyl/5,M,Oxidation".

    The last comma-separated field of every slash-separated entry; empty for a
    missing cell (None, NaN).

    >>> mods_counter("2,C,cam/5,C,cam/7,M,ox")
    Counter({'cam': 2, 'ox': 1})
    """
    counter = Counter()
    for name, count in sys.modules["morvandel.plugins._isotope"].mods_counter(mods):
        counter[name] = count
    return counter


def calc_mod_comp(mods, comp_map):
    """The composition of the modifications of a modification string; empty for a missing cell (None, NaN).

    >>> calc_mod_comp("2,C,cam/7,M,ox", mod_comp)
    Composition({'H': 3, 'C': 2, 'N': 1, 'O': 2})
    """
    return sys.modules["morvandel.plugins._isotope"].calc_mod_comp(mods, comp_map)


def calc_pep_comp(seq, mods, aa_comp_map, mod_comp_map, residue=True):
    """calc_seq_comp of seq plus, unless mods is empty or missing (None, NaN), calc_mod_comp of mods.

    >>> calc_pep_comp("ACK", "2,C,Carbamidomethyl", aa_comp, mod_comp)
    Composition({'H': 25, 'C': 14, 'O': 4, 'N': 5, 'S': 1})
    """
    return sys.modules["morvandel.plugins._isotope"].calc_pep_comp(seq, mods, aa_comp_map, mod_comp_map, residue)


def component_counter(component_str, /):
    """The element counts of a formula string such as "C6H12O6"; labelled isotopes keep their brackets.

    >>> component_counter("C8C[13]4H20")
    {'C': 8, 'C[13]': 4, 'H': 20}
    """
    return sys.modules["morvandel.plugins._isotope"].component_counter(component_str)


def calc_iso_dist(comp, **kwargs):
    """The isotope pattern of a formula (OpenMS coarse generator) as a float64 array.

    comp is a formula string or a Composition. Keywords: filter_iso (default
    True: leave out labelled entries such as C[13]4) and N (maximal isotope,
    default 5); others are ignored.

    >>> [round(x, 4) for x in calc_iso_dist("C6H12O6", N=3)]
    [0.9235, 0.0633, 0.0132]
    """
    return sys.modules["morvandel.plugins._isotope"].calc_iso_dist(comp, kwargs)


def glycan_counter(glycan, /):
    """The monosaccharide counts of a glycan string such as "N4H5F1S0G0".

    >>> glycan_counter("N4H5F1S2G0")
    {'N': 4, 'H': 5, 'F': 1, 'S': 2, 'G': 0}
    """
    return sys.modules["morvandel.plugins._isotope"].glycan_counter(glycan)


def calc_glycan_comp(glycan, comp_map, residue=True):
    """The composition of a glycan string, plus one water unless residue.

    >>> calc_glycan_comp("N4H3F1", gly_comp)
    Composition({'H': 92, 'C': 56, 'N': 4, 'O': 39})
    """
    return sys.modules["morvandel.plugins._isotope"].calc_glycan_comp(glycan, comp_map, residue)


def comp_to_str(comp, /):
    """The formula text of a composition: key then count, every count written, in the composition's order.

    >>> comp_to_str(Composition({"H": 2, "O": 1}))
    'H2O1'
    """
    return sys.modules["morvandel.plugins._isotope"].comp_to_str(comp)


def read_param(param_file, /):
    """The options of a parameter file of "option = value" lines, as a dict of str.

    >>> import pathlib, tempfile
    >>> with tempfile.TemporaryDirectory() as folder:
    ...     params = pathlib.Path(folder, "params.txt")
    ...     _ = params.write_text("isotope_peaks_num = 3\\n")
    ...     read_param(params)
    {'isotope_peaks_num': '3'}
    """
    return sys.modules["morvandel.plugins._isotope"].read_param(param_file)


def run_single_file(input_file, output_dir, param_file):
    """Process one table into <output_dir>/<base name>_isotope_pyopenms.txt.

    Uses the module's current aa_comp, mod_comp and gly_comp. Prints
    "Build isotope patterns for <input_file>", then a progress counter on
    standard error.

    >>> import pathlib, tempfile
    >>> with tempfile.TemporaryDirectory() as folder:
    ...     folder = pathlib.Path(folder)
    ...     _ = (folder / "ids.txt").write_text("PepSeq N H F S G\\nEEQYNSTYR 4 3 1 0 0\\n")
    ...     _ = (folder / "params.txt").write_text("isotope_peaks_num = 2\\n")
    ...     run_single_file(folder / "ids.txt", folder, folder / "params.txt")
    ...     (folder / "ids_isotope_pyopenms.txt").read_text().split()
    Build isotope patterns for .../ids.txt
    ['PepSeq', 'N', 'H', 'F', 'S', 'G', 'Glycan', 'PepMods', 'GP_Mass', 'GP_Isotopes', 'EEQYNSTYR', '4', '3', '1', '0', '0', 'N4H3F1S0G0', '2633.03859989992', '...']
    """
    sys.modules["morvandel.plugins._isotope"].run_single_file(
        input_file, output_dir, param_file, aa_comp, mod_comp, gly_comp)


def run_multiple_files(input_dir, output_dir, param_file):
    """Call the module's run_single_file for every table (a name matching ".txt$") of input_dir.

    >>> import pathlib, tempfile
    >>> with tempfile.TemporaryDirectory() as folder:
    ...     folder = pathlib.Path(folder)
    ...     (folder / "tables").mkdir()
    ...     for name in ("a.txt", "b.txt"):
    ...         _ = (folder / "tables" / name).write_text("PepSeq N H F S G\\nGG 1 0 0 0 0\\n")
    ...     _ = (folder / "params.txt").write_text("isotope_peaks_num = 2\\n")
    ...     run_multiple_files(folder / "tables", folder, folder / "params.txt")
    ...     sorted(p.name for p in folder.glob("*_isotope_pyopenms.txt"))
    Build isotope patterns for .../a.txt
    Build isotope patterns for .../b.txt
    ['a_isotope_pyopenms.txt', 'b_isotope_pyopenms.txt']
    """
    sys.modules["morvandel.plugins._isotope"].run_multiple_files(
        input_dir, param_file,
        lambda input_file: run_single_file(input_file=input_file, output_dir=output_dir, param_file=param_file))


def main():
    """The command line: -d DIR or -i FILE, with -p PARAMS and -o OUT.

    Without -p, or without -d and -i, shows the help and exits with status 2;
    with both -d and -i only the directory is processed. From a shell:
    python3 -m morvandel.plugins.isotope -i TABLE -o OUT -p PARAMS.

    >>> from unittest import mock
    >>> with mock.patch("sys.argv", ["isotope", "-h"]):
    ...     main()
    Traceback (most recent call last):
    SystemExit: 0
    """
    freeze_support()
    parser = MyParser(description="isotope")
    parser.add_argument("-d", dest="input_dir", help="Add input directory")
    parser.add_argument("-i", dest="input_file", help="Add input file")
    parser.add_argument("-o", dest="output_dir", help="Add output directory")
    parser.add_argument("-p", dest="param_file", help="Add parameter file")
    args = parser.parse_args()
    if args.param_file is None:
        parser.print_help()
        sys.exit(2)
    if args.input_dir is not None:
        run_multiple_files(input_dir=args.input_dir, output_dir=args.output_dir, param_file=args.param_file)
    elif args.input_file is not None:
        run_single_file(input_file=args.input_file, output_dir=args.output_dir, param_file=args.param_file)
    else:
        parser.print_help()
        sys.exit(2)


IsotopeInputWarning = sys.modules["morvandel.plugins._isotope"].IsotopeInputWarning


def isotope_peaks(comp, charge=0, n=None, coverage=None, normalize=None, params=None):
    """The coarse isotope peaks of a composition: (mz, intensity) as float64 arrays.

    comp is a Composition (or mapping) or a formula string. Peak k's position
    is the mean mass of the isotopologues with k extra neutrons, as a
    spectrometer that does not resolve the fine structure sees it; with
    charge 0 the positions are neutral masses, otherwise m/z. n is the number
    of peaks (0: all); with coverage (a share of the probability, such as
    0.99) as many peaks as reach it, n then capping them (0: no cap).
    normalize: "sum" (OpenMS's intensities, adding up to 1), "max" (the
    highest peak is 1) or "none" (each peak's probability in the whole
    distribution). Labelled atoms (C[13], N[15]) count in the mass only.
    params (a parameter file's path or a dict of options, as for annotate)
    gives n, coverage and normalize as a table run under it does
    (isotope_peaks_num, isotope_coverage, isotope_normalize) where the call
    leaves them None; without either, n is 5, no coverage, "sum".

    >>> mz, intensity = isotope_peaks("C106H164N18O59", charge=2, n=3)
    >>> [round(x, 4) for x in mz]
    [1317.5266, 1318.0281, 1318.5295]
    >>> len(isotope_peaks("C106H164N18O59", params={"isotope_peaks_num": 2})[0])
    2
    """
    return sys.modules["morvandel.plugins._isotope"].isotope_peaks(comp, charge, n, coverage, normalize, params)


def fine_isotope_peaks(comp, charge=0, threshold=1e-4):
    """The fine structure of a composition's isotope pattern: (mz, intensity) sorted by mz.

    Every isotopologue at least threshold times as probable as the most
    probable one, from OpenMS's fine isotope pattern generator; neutral
    masses with charge 0.

    >>> mz, intensity = fine_isotope_peaks("C6H12O6", threshold=0.01)
    >>> len(mz) > 2 and bool(intensity.max() > 0.9)
    True
    """
    return sys.modules["morvandel.plugins._isotope"].fine_isotope_peaks(comp, charge, threshold)


def split_pep_seq(pep_seq):
    """A PepSeq cut as the table runs cut it: (sequence, modification string).

    >>> split_pep_seq("AC[Carbamidomethyl]M[Oxidation]K")
    ('ACMK', '2,C,Carbamidomethyl/3,M,Oxidation')
    """
    return sys.modules["morvandel.plugins._isotope"].split_pep_seq(pep_seq)


def glycopeptide_comp(pep_seq, glycan, params=None):
    """The Composition behind GP_Mass: the peptide of a PepSeq, the glycan string's monosaccharides and one water.

    Read from the module's current aa_comp, mod_comp and gly_comp. params (a
    parameter file's path or a dict of options, as for annotate) names
    modifications as a table run under it does: isotope_modification.NAME =
    FORMULA definitions, and Unimod's names with isotope_unimod = true.

    >>> round(glycopeptide_comp("EEQYNSTYR", "N4H3F1S0G0").mass(), 4)
    2633.0386
    >>> round(glycopeptide_comp("EEQ[Deamidated]YNSTYR", "N4H3F1S0G0", params={"isotope_unimod": True}).mass(), 4)
    2634.0226
    """
    return sys.modules["morvandel.plugins._isotope"].glycopeptide_comp(pep_seq, glycan, aa_comp, mod_comp, gly_comp,
                                                                      params)


def annotate(df, params=None, threads=None, arrays=False):
    r"""A new DataFrame: df's columns plus the columns a table run adds, with the same values.

    Glycan, PepMods and GP_Isotopes as str, GP_Mass as float64, and those the
    options ask for: GP_MZ, GP_MZ_z<charge> and GP_PPM as float64 (NaN for a
    cell the file leaves empty, such as a row without a usable charge),
    GP_Isotope_Offset as pandas' nullable "Int64" (<NA> for an empty cell)
    and GP_Isotopes_MZ as str. With arrays=True, GP_Isotopes and
    GP_Isotopes_MZ hold one float64 numpy array per row instead of text (an
    empty array for an empty cell). With isotope_spectra (and the scan or
    retention-time column options), the MS1 evidence columns follow:
    MS1_Scan as str, MS1_RT, MS1_Cosine and MS1_PPM as float64,
    MS1_Peaks_Found and MS1_Offset as "Int64", MS1_Area and MS1_Apex_RT as
    float64, MS1_Overlaps as "Int64", and MS1_Intensities as str
    (with arrays=True, one float64 array per row). params is a parameter
    file's path, or a dict of options whose values are read as parameter
    values (str(value); True and False as true and false) and where
    isotope_peaks_num is 5 unless given; None means {"isotope_peaks_num": 5}.
    df is not modified. Notes on rows come as
    IsotopeInputWarning, errors as the file run raises them; rows are named
    by position and index label. threads: worker threads (None: as
    ISOTOPE_THREADS and isotope_threads say; 0: every core). Written with
    to_csv(sep="\t", index=False), the result of a DataFrame read with
    read_csv(F, sep=r"\s+") is the file run_single_file writes for F.

    >>> import pandas as pd
    >>> df = pd.DataFrame({"PepSeq": ["EEQYNSTYR"], "N": [4], "H": [3], "F": [1], "S": [0], "G": [0], "Charge": [2]})
    >>> out = annotate(df, {"isotope_peaks_num": 3, "isotope_charge_column": "Charge"})
    >>> out[["Glycan", "GP_MZ"]].values.tolist()
    [['N4H3F1S0G0', 1317.526576416581]]
    >>> annotate(df, {"isotope_peaks_num": 3, "isotope_charge_column": "Charge"}, arrays=True).GP_Isotopes_MZ[0].round(4)
    array([1317.5266, 1318.0281, 1318.5295])
    """
    return sys.modules["morvandel.plugins._isotope"].annotate(df, params, threads, aa_comp, mod_comp, gly_comp,
                                                              arrays)


def patterns(comps, n=5, normalize="sum", threads=None):
    """The isotope patterns of many compositions as one float64 array of shape (len(comps), n).

    comps holds Composition objects (or mappings) and formula strings. n is
    the number of peaks (0: all, the array as wide as the longest pattern);
    shorter patterns are padded with NaN. normalize as for isotope_peaks.
    The work runs on worker threads without the global lock.

    >>> a = patterns(["C6H12O6", Composition({"H": 2, "O": 1})], n=3)
    >>> a.shape, bool(a[1, 0] > 0.99)
    ((2, 3), True)
    """
    return sys.modules["morvandel.plugins._isotope"].patterns(comps, n, normalize, threads)


def plot_isotopes(comp_or_pep_seq, glycan=None, charge=1, n=None, fine=False, ax=None, params=None,
                  spectra=None, scan=None, chromatogram=False, mirror=False):
    """Draw the coarse isotope envelope as a stick spectrum (matplotlib) and return the Axes.

    comp_or_pep_seq is a PepSeq, with glycan a glycan string such as
    "N4H3F1S0G0" (the Composition of glycopeptide_comp), or a Composition.
    One stick per peak of isotope_peaks(comp, charge, n) at its m/z (its
    neutral mass with charge 0), as high as its intensity, labelled with its
    m/z to 4 decimals; the title names the glycopeptide, the formula, the
    charge and the monoisotopic m/z. fine=True draws the fine structure
    (fine_isotope_peaks) over it, on the same scale. Draws into ax, or into a
    new figure. matplotlib is imported on the first call. params (a
    parameter file's path or a dict of options, as for annotate) names the
    PepSeq's modifications as for glycopeptide_comp and, when n is None,
    gives the peaks as for isotope_peaks; n is otherwise 5.

    spectra (an mzML run) with scan (the identification's MS2 spectrum, by
    scan number or native id; or an MS1 spectrum) draws the MS1 spectrum's
    centroids around the envelope over the sticks (mirror=True: below
    them), scaled so that the matched centroids add up to the sticks'
    total, the matched ones in red, with the cosine, the ppm error, the
    peaks found and MS1_Offset as annotate computes them (params' options).
    chromatogram=True draws the extracted chromatogram over the
    isotope_rt_window_min window beside it and returns (ax, chromatogram
    Axes); ax is then a pair of Axes or None.

    >>> ax = plot_isotopes("EEQYNSTYR", "N4H3F1S0G0", charge=2)
    >>> [label.get_text() for label in ax.texts][:2]
    ['1317.5266', '1318.0281']
    >>> print(ax.get_title())
    EEQYNSTYR + HexNAc4Hex3Fuc1
    C106H164N18O59, z = 2, monoisotopic m/z 1317.5266
    """
    from morvandel.plugins import _plot
    return _plot.plot_isotopes(comp_or_pep_seq, glycan, charge, n, fine, ax, params, spectra, scan, chromatogram,
                               mirror)


if __name__ == "__main__":
    main()
