"""Glycopeptide compositions, neutral monoisotopic masses and isotope patterns.

run_single_file reads a table of glycopeptide identifications (PepSeq with
bracketed modifications, and the monosaccharide counts N H F S G) and writes
it back with the columns Glycan, PepMods, GP_Mass and GP_Isotopes;
run_multiple_files does so for every table of a folder; main is the command
line. The operations calc_counter_comp ... comp_to_str build compositions
from the reference tables one step at a time, and calc_iso_dist gives the
isotope pattern of a formula (OpenMS's coarse generator).

The reference tables mass_d (with aa_comp, mod_comp, gly_comp and the masses
"mic"), mod_d, and db (only when the Unimod fallback ran) are built at
import. The operations read the module's tables when they run: rebinding
aa_comp, mod_comp or gly_comp changes what the next run uses.

Test seam: the environment variable MORVANDEL_ISOTOPE_TEST_FAIL_LITERAL_AT,
read once at import, makes the literal table step fail as it reaches the
entry with that key, so that the Unimod fallback runs. It exists for the
tests only.
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
    """An argument parser that shows the whole help after a usage error."""

    def error(self, message):
        sys.stderr.write("error: %s\n" % message)
        self.print_help()
        sys.exit(2)


def calc_counter_comp(counter, comp_map):
    """The sum over counter's keys, in order, of comp_map[key] times int(count)."""
    return sys.modules["morvandel.plugins._isotope"].calc_counter_comp(counter, comp_map)


def calc_seq_comp(seq, comp_map, residue=True):
    """The composition of the residues of seq (one per character), plus one water unless residue."""
    return sys.modules["morvandel.plugins._isotope"].calc_seq_comp(seq, comp_map, residue)


def mods_counter(mods, /):
    """A Counter of the modification names of a string such as "3,C,Carbamidomethyl/5,M,Oxidation".

    The last comma-separated field of every slash-separated entry; empty for a
    missing cell (None, NaN).
    """
    counter = Counter()
    for name, count in sys.modules["morvandel.plugins._isotope"].mods_counter(mods):
        counter[name] = count
    return counter


def calc_mod_comp(mods, comp_map):
    """The composition of the modifications of a modification string; empty for a missing cell (None, NaN)."""
    return sys.modules["morvandel.plugins._isotope"].calc_mod_comp(mods, comp_map)


def calc_pep_comp(seq, mods, aa_comp_map, mod_comp_map, residue=True):
    """calc_seq_comp of seq plus, unless mods is empty or missing (None, NaN), calc_mod_comp of mods."""
    return sys.modules["morvandel.plugins._isotope"].calc_pep_comp(seq, mods, aa_comp_map, mod_comp_map, residue)


def component_counter(component_str, /):
    """The element counts of a formula string such as "C6H12O6"."""
    return sys.modules["morvandel.plugins._isotope"].component_counter(component_str)


def calc_iso_dist(comp, **kwargs):
    """The isotope pattern of a formula (OpenMS coarse generator) as a float64 array.

    Keywords: filter_iso (default True: leave out labelled entries such as
    C[13]4) and N (maximal isotope, default 5); others are ignored.
    """
    return sys.modules["morvandel.plugins._isotope"].calc_iso_dist(comp, kwargs)


def glycan_counter(glycan, /):
    """The monosaccharide counts of a glycan string such as "N4H5F1S0G0"."""
    return sys.modules["morvandel.plugins._isotope"].glycan_counter(glycan)


def calc_glycan_comp(glycan, comp_map, residue=True):
    """The composition of a glycan string, plus one water unless residue."""
    return sys.modules["morvandel.plugins._isotope"].calc_glycan_comp(glycan, comp_map, residue)


def comp_to_str(comp, /):
    """The formula text of a composition: key then count, every count written."""
    return sys.modules["morvandel.plugins._isotope"].comp_to_str(comp)


def read_param(param_file, /):
    """The options of a parameter file of "option = value" lines, as a dict of str."""
    return sys.modules["morvandel.plugins._isotope"].read_param(param_file)


def run_single_file(input_file, output_dir, param_file):
    """Process one table into <output_dir>/<base name>_isotope_pyopenms.txt.

    Uses the module's current aa_comp, mod_comp and gly_comp.
    """
    sys.modules["morvandel.plugins._isotope"].run_single_file(
        input_file, output_dir, param_file, aa_comp, mod_comp, gly_comp)


def run_multiple_files(input_dir, output_dir, param_file):
    """Call the module's run_single_file for every table (a name matching ".txt$") of input_dir."""
    sys.modules["morvandel.plugins._isotope"].run_multiple_files(
        input_dir, param_file,
        lambda input_file: run_single_file(input_file=input_file, output_dir=output_dir, param_file=param_file))


def main():
    """The command line: -d DIR or -i FILE, with -p PARAMS and -o OUT.

    Without -p, or without -d and -i, shows the help and exits with status 2;
    with both -d and -i only the directory is processed.
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


def isotope_peaks(comp, charge=0, n=5, coverage=None, normalize="sum"):
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

    >>> mz, intensity = isotope_peaks("C106H164N18O59", charge=2, n=3)
    >>> [round(x, 4) for x in mz]
    [1317.5266, 1318.0281, 1318.5295]
    """
    return sys.modules["morvandel.plugins._isotope"].isotope_peaks(comp, charge, n, coverage, normalize)


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


def glycopeptide_comp(pep_seq, glycan):
    """The Composition behind GP_Mass: the peptide of a PepSeq, the glycan string's monosaccharides and one water.

    Read from the module's current aa_comp, mod_comp and gly_comp.

    >>> round(glycopeptide_comp("EEQYNSTYR", "N4H3F1S0G0").mass(), 4)
    2633.0386
    """
    return sys.modules["morvandel.plugins._isotope"].glycopeptide_comp(pep_seq, glycan, aa_comp, mod_comp, gly_comp)



def plot_isotopes(comp_or_pep_seq, glycan=None, charge=1, n=5, fine=False, ax=None):
    """Draw the coarse isotope envelope as a stick spectrum (matplotlib) and return the Axes.

    comp_or_pep_seq is a PepSeq, with glycan a glycan string such as
    "N4H3F1S0G0" (the Composition of glycopeptide_comp), or a Composition.
    One stick per peak of isotope_peaks(comp, charge, n) at its m/z (its
    neutral mass with charge 0), as high as its intensity, labelled with its
    m/z to 4 decimals; the title names the glycopeptide, the formula, the
    charge and the monoisotopic m/z. fine=True draws the fine structure
    (fine_isotope_peaks) over it, on the same scale. Draws into ax, or into a
    new figure. matplotlib is imported on the first call.

    >>> ax = plot_isotopes("EEQYNSTYR", "N4H3F1S0G0", charge=2)
    >>> [label.get_text() for label in ax.texts][:2]
    ['1317.5266', '1318.0281']
    >>> print(ax.get_title())
    EEQYNSTYR + HexNAc4Hex3Fuc1
    C106H164N18O59, z = 2, monoisotopic m/z 1317.5266
    """
    from morvandel.plugins import _plot
    return _plot.plot_isotopes(comp_or_pep_seq, glycan, charge, n, fine, ax)


if __name__ == "__main__":
    main()
