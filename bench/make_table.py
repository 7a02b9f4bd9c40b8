#!/usr/bin/python3
"""Writes a realistic, seeded table of N-glycopeptide identifications.

Tryptic N-glycopeptides of well-known glycoproteins (IgG Fc, fetuin,
transferrin, alpha-1-acid glycoprotein, haptoglobin, alpha-1-antitrypsin,
IgA, IgM, ceruloplasmin, hemopexin), cysteines written C[Carbamidomethyl],
some methionines oxidised, TMT-labelled variants with K[tmt10]; N-glycan
compositions (N H F S G) from high-mannose to tetra-antennary sialylated;
each glycopeptide seen in several spectra, with extra columns Scan, Charge,
RT, Score and Protein.

With --library it writes a candidate library instead: every row a
different glycopeptide (random tryptic-like peptides of 6-25 residues with
C[Carbamidomethyl] and some M[Oxidation]; HexNAc 2-7, Hex 3-9, Fuc 0-2,
NeuAc 0-4), as a search of a whole proteome would list them.

Usage: make_table.py OUT [--rows N] [--seed S] [--library]
"""
import argparse
import random

PEPTIDES = [
    ("IGHG1_HUMAN", "EEQYNSTYR"), ("IGHG2_HUMAN", "EEQFNSTFR"), ("IGHG3_HUMAN", "EEQYNSTFR"),
    ("IGHG4_HUMAN", "EEQFNSTYR"),
    ("FETUA_BOVIN", "LCPDCPLLAPLNDSR"), ("FETUA_BOVIN", "RPTGEVYDIEIDTLETTCHVLDPTPLANCSVR"),
    ("FETUA_BOVIN", "VVHAVEVALATFNAESNGSYLQLVEISR"),
    ("TRFE_HUMAN", "QQQHLFGSNVTDCSGNFCLFR"), ("TRFE_HUMAN", "CGLVPVLAENYNK"),
    ("A1AG1_HUMAN", "LVPVPITNATLDQITGK"), ("A1AG1_HUMAN", "NEEYNK"), ("A1AG1_HUMAN", "QDQCIYNTTYLNVQR"),
    ("A1AG1_HUMAN", "ENGTISR"), ("A1AG1_HUMAN", "SVQEIQATFFYFTPNK"),
    ("HPT_HUMAN", "NLFLNHSENATAK"), ("HPT_HUMAN", "MVSHHNLTTGATLINEQWLLTTAK"),
    ("HPT_HUMAN", "VVLHPNYSQVDIGLIK"),
    ("A1AT_HUMAN", "QLAHQSNSTNIFFSPVSIATAFAMLSLGTK"), ("A1AT_HUMAN", "ADTHDEILEGLNFNLTEIPEAQIHEGFQELLR"),
    ("A1AT_HUMAN", "YLGNATAIFFLPDEGK"),
    ("IGHA1_HUMAN", "LSLHRPALEDLLLGSEANLTCTLTGLR"), ("IGHM_HUMAN", "YKNNSDISSTR"),
    ("IGHM_HUMAN", "STGKPTLYNVSLVMSDTAGTCY"),
    ("CERU_HUMAN", "ENLTAPGSDSAVFFEQGTTR"), ("CERU_HUMAN", "EHEGAIYPDNTTDFQR"),
    ("HEMO_HUMAN", "SWPAVGNCSSALR"), ("HEMO_HUMAN", "ALPQPQNVTSLLGCTH"),
]


def variants(seq):
    """The forms a peptide is identified in: carbamidomethylated cysteines,
    optionally an oxidised methionine, optionally a TMT label on K."""
    base = seq.replace("C", "C[Carbamidomethyl]")
    forms = [base]
    if "M" in seq:
        forms.append(base.replace("M", "M[Oxidation]", 1))
    if seq.endswith("K"):
        forms.append(base[:-1] + "K[tmt10]")
    return forms


def glycans():
    out = []
    for n in range(2, 8):
        for h in range(3, 11):
            for f in range(0, 3):
                for s in range(0, 5):
                    for g in range(0, 2):
                        if n == 2 and (f or s or g or h < 5):
                            continue  # high mannose: N2H5..N2H10
                        if s + g > max(0, n - 2) or s + g > h - 3:
                            continue  # one sialic acid per antenna
                        if h > n + 4 and n > 2:
                            continue
                        out.append((n, h, f, s, g))
    return out


# Residue frequencies of vertebrate proteins (percent), for library peptides.
RESIDUES = ("A", 7.4), ("R", 4.2), ("N", 4.4), ("D", 5.9), ("C", 3.3), ("E", 5.8), ("Q", 3.7), ("G", 7.4), \
    ("H", 2.9), ("I", 3.8), ("L", 7.6), ("K", 7.2), ("M", 1.8), ("F", 4.0), ("P", 5.0), ("S", 8.1), ("T", 6.2), \
    ("W", 1.3), ("Y", 3.3), ("V", 6.8)


def library(opts, rng):
    letters = [r for r, _ in RESIDUES]
    weights = [w for _, w in RESIDUES]
    seen = set()
    with open(opts.out, "w") as f:
        f.write("PepSeq\tN\tH\tF\tS\tG\tProtein\n")
        while len(seen) < opts.rows:
            body = rng.choices(letters, weights=weights, k=rng.randint(5, 24))
            seq = "".join(body) + rng.choice("KR")
            pep = "".join("C[Carbamidomethyl]" if r == "C" else
                          "M[Oxidation]" if r == "M" and rng.random() < 0.3 else r for r in seq)
            key = (pep, rng.randint(2, 7), rng.randint(3, 9), rng.randint(0, 2), rng.randint(0, 4))
            if key in seen:
                continue
            seen.add(key)
            f.write("{}\t{}\t{}\t{}\t{}\t0\tCAND{}\n".format(*key, len(seen)))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--rows", type=int, default=1_000_000)
    ap.add_argument("--seed", type=int, default=2026)
    ap.add_argument("--library", action="store_true")
    opts = ap.parse_args()
    rng = random.Random(opts.seed)
    if opts.library:
        library(opts, rng)
        return
    forms = [(prot, form) for prot, seq in PEPTIDES for form in variants(seq)]
    comps = glycans()
    # Each protein site carries a subset of the compositions, the common ones
    # seen far more often (weights fall off with the rank).
    site_glycans = {form: rng.sample(comps, k=min(len(comps), rng.randint(40, 140))) for _, form in forms}
    weights = [1.0 / (1 + r) ** 0.8 for r in range(200)]
    scan = 1000
    with open(opts.out, "w") as f:
        f.write("Scan\tCharge\tRT\tPepSeq\tN\tH\tF\tS\tG\tScore\tProtein\n")
        rows = 0
        while rows < opts.rows:
            prot, form = rng.choice(forms)
            site = site_glycans[form]
            n, h, fu, s, g = rng.choices(site, weights=weights[: len(site)])[0]
            # Several spectra of the same glycopeptide, close in time.
            rt = rng.uniform(10, 110)
            for _ in range(min(rng.randint(1, 8), opts.rows - rows)):
                scan += rng.randint(1, 40)
                charge = rng.randint(2, 5)
                score = round(rng.uniform(5, 60), 2)
                f.write("{}\t{}\t{:.3f}\t{}\t{}\t{}\t{}\t{}\t{}\t{}\t{}\n".format(
                    scan, charge, rt + rng.uniform(-0.5, 0.5), form, n, h, fu, s, g, score, prot))
                rows += 1


if __name__ == "__main__":
    main()
