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


def axes_for(ax, chromatogram):
    """The envelope's Axes and, asked for, the chromatogram's: given, or a new figure's."""
    if ax is not None:
        if chromatogram:
            if not isinstance(ax, (tuple, list)) or len(ax) != 2:
                raise TypeError("with chromatogram=True, ax is a pair of Axes (envelope, chromatogram)")
            return ax[0], ax[1]
        return ax, None
    import matplotlib.pyplot as plt
    if chromatogram:
        _, (envelope, chrom) = plt.subplots(1, 2, figsize=(11, 4), layout="constrained", width_ratios=(2, 1))
        return envelope, chrom
    _, envelope = plt.subplots(figsize=(7, 4), layout="constrained")
    return envelope, None


def draw_observed(ax, view, mz, intensity, mirror):
    """The spectrum's centroids around the envelope, scaled so that the matched
    ones add up to the sticks' total (drawn downwards with mirror), the
    matched ones marked; returns the match's figures as a line of text."""
    found = view["intensities"] > 0
    matched = view["intensities"][found].sum()
    scale = (intensity[found].sum() / matched if matched > 0 else 1.0) * (-1 if mirror else 1)
    spacing = mz[1] - mz[0] if len(mz) > 1 else 1.0
    cmz, cin = view["centroid_mz"], view["centroid_intensity"]
    near = (cmz >= mz[0] - 1.5 * spacing) & (cmz <= mz[-1] + 1.5 * spacing)
    ax.vlines(cmz[near], 0, cin[near] * scale, colors="0.6", linewidth=1, label="observed centroids")
    ax.vlines(view["claimed_mz"][found], 0, view["intensities"][found] * scale, colors="C3", linewidth=1.5,
              label="matched centroids", zorder=3)
    cosine = "-" if view["cosine"] is None else f"{view['cosine']:.4f}"
    ppm = "-" if view["ppm"] is None else f"{view['ppm']:.2f}"
    ax.axhline(0, color="0.3", linewidth=0.5)
    return (f"cosine {cosine}, {ppm} ppm, {view['found']}/{len(mz)} peaks found, offset {view['offset']} "
            f"(MS1 {view['ms1_scan']}, RT {view['rt']:.3f} min)")


def draw_chromatogram(ax, view):
    """The window's extracted chromatogram, the envelope's MS1 spectrum marked."""
    ax.plot(view["chromatogram_rt"], view["chromatogram_sum"], marker=".", color="C0")
    ax.fill_between(view["chromatogram_rt"], view["chromatogram_sum"], alpha=0.2, color="C0")
    ax.axvline(view["rt"], color="C3", linewidth=1)
    ax.set_xlabel("retention time (min)")
    ax.set_ylabel("summed matched intensity")
    ax.set_title("extracted chromatogram", fontsize=10)


def plot_isotopes(comp_or_pep_seq, glycan=None, charge=1, n=None, fine=False, ax=None, params=None,
                  spectra=None, scan=None, chromatogram=False, mirror=False):
    name, comp = subject(comp_or_pep_seq, glycan, params)
    # The sticks add up to 1 whatever isotope_normalize says: the fine
    # structure is drawn on that scale.
    mz, intensity = isotope.isotope_peaks(comp, charge=charge, n=n, normalize="sum", params=params)
    if spectra is None and (scan is not None or chromatogram or mirror):
        raise TypeError("scan, chromatogram and mirror go with spectra (an mzML run)")
    if spectra is not None and (scan is None or charge == 0):
        raise TypeError("spectra needs scan (the identification's MS2 spectrum) and a non-zero charge")
    ax, chrom = axes_for(ax, chromatogram)
    view, evidence = None, None
    if spectra is not None:
        from morvandel.plugins import _isotope
        view = _isotope.envelope_view(spectra, scan, mz, intensity, charge, params, chromatogram)
        evidence = draw_observed(ax, view, mz, intensity, mirror)
        if chrom is not None:
            draw_chromatogram(chrom, view)

    # Lighter under the fine structure, which sits within a few mDa of them.
    ax.vlines(mz, 0, intensity, colors="C0", linewidth=2.5, alpha=0.4 if fine or view is not None else 1,
              label="isotope peaks")
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

    if view is not None:
        ax.legend(loc="upper right", fontsize=8)
    monoisotopic = f"m/z {comp.mz(charge):.4f}" if charge else f"mass {comp.mass():.4f} Da"
    details = f"{hill_formula(comp)}, z = {charge}, monoisotopic {monoisotopic}"
    title = f"{name}\n{details}" if name else details
    ax.set_title(title + ("\n" + evidence if evidence else ""), fontsize=10)
    ax.set_xlabel("m/z" if charge else "mass (Da)")
    ax.set_ylabel("relative intensity")
    top = max(intensity.max(), 1e-12) * 1.15
    ax.set_ylim(-top if mirror else 0, top)
    ax.set_xmargin(0.08)
    return (ax, chrom) if chromatogram else ax
