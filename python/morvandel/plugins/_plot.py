"""The picture behind morvandel.plugins.isotope.plot_isotopes.

The coarse isotope envelope of a glycopeptide (a PepSeq and a glycan string)
or of a Composition, drawn with matplotlib as a stick spectrum: one stick per
peak of isotope_peaks at its m/z (its neutral mass at charge 0), as high as
its intensity (the peaks add up to 1, as in GP_Isotopes), labelled with its
m/z to 4 decimals. With fine=True the fine structure (fine_isotope_peaks) is
drawn over it on the same scale, so that the fine sticks under a coarse peak
add up to that peak's height.

This module, and matplotlib with it, is imported only when a picture is
asked for, never when the package is imported.
"""

from morvandel.plugins import isotope

# The glycan string's monosaccharide codes, by name.
MONOSACCHARIDES = {"N": "HexNAc", "H": "Hex", "F": "Fuc", "S": "NeuAc", "G": "NeuGc"}


def glycan_name(glycan):
    """"N4H3F1S0G0" as "HexNAc4Hex3Fuc1": the non-zero counts, by name."""
    counts = isotope.glycan_counter(glycan)
    return "".join(MONOSACCHARIDES.get(code, code) + str(count) for code, count in counts.items() if count)


def hill_formula(comp):
    """The formula text in Hill order: C, then H, then the other elements alphabetically."""
    def order(key):
        element = key.split("[", 1)[0]
        rank = (0 if element == "C" else 1 if element == "H" else 2) if "C" in comp else 2
        return rank, element, key
    return "".join(key + str(comp[key]) for key in sorted(comp, key=order))


def subject(comp_or_pep_seq, glycan, params):
    """(name, Composition): a PepSeq with its glycan string, or a Composition as it is."""
    if isinstance(comp_or_pep_seq, str):
        comp = isotope.glycopeptide_comp(comp_or_pep_seq, glycan or "", params=params)
        name = comp_or_pep_seq + (" + " + glycan_name(glycan) if glycan else "")
        return name, comp
    if glycan is not None:
        raise TypeError("glycan goes with a PepSeq, not with a composition")
    return None, isotope.Composition(comp_or_pep_seq)


def plot_isotopes(comp_or_pep_seq, glycan=None, charge=1, n=None, fine=False, ax=None, params=None):
    name, comp = subject(comp_or_pep_seq, glycan, params)
    # The sticks add up to 1 whatever isotope_normalize says: the fine
    # structure is drawn on that scale.
    mz, intensity = isotope.isotope_peaks(comp, charge=charge, n=n, normalize="sum", params=params)
    if ax is None:
        import matplotlib.pyplot as plt
        _, ax = plt.subplots(figsize=(7, 4), layout="constrained")

    # Lighter under the fine structure, which sits within a few mDa of them.
    ax.vlines(mz, 0, intensity, colors="C0", linewidth=2.5, alpha=0.4 if fine else 1, label="isotope peaks")
    for x, y in zip(mz, intensity):
        ax.annotate(f"{x:.4f}", (x, y), xytext=(0, 3), textcoords="offset points",
                    ha="center", va="bottom", fontsize=8)
    if fine:
        # The fine intensities are probabilities in the whole distribution:
        # divided by the coarse peaks' share of it, they sit on the scale of
        # the sticks above, peak by peak.
        _, share = isotope.isotope_peaks(comp, charge=charge, n=n, normalize="none", params=params)
        fine_mz, fine_intensity = isotope.fine_isotope_peaks(comp, charge=charge)
        half = 0.5 / max(abs(charge), 1)
        shown = (fine_mz >= mz[0] - half) & (fine_mz <= mz[-1] + half)
        ax.vlines(fine_mz[shown], 0, fine_intensity[shown] / share.sum(), colors="C1", linewidth=1,
                  label="fine structure")
        ax.legend(loc="upper right", fontsize=8)

    monoisotopic = f"m/z {comp.mz(charge):.4f}" if charge else f"mass {comp.mass():.4f} Da"
    details = f"{hill_formula(comp)}, z = {charge}, monoisotopic {monoisotopic}"
    ax.set_title(f"{name}\n{details}" if name else details, fontsize=10)
    ax.set_xlabel("m/z" if charge else "mass (Da)")
    ax.set_ylabel("relative intensity")
    ax.set_ylim(0, max(intensity.max(), 1e-12) * 1.15)
    ax.set_xmargin(0.08)
    return ax
