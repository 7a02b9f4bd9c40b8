"""The operations one by one: calling forms, results, and the exceptions the
core's failures become."""

import collections
import math

import numpy
import pytest


# --- Calling forms ---------------------------------------------------------

def test_keywords_and_defaults_are_accepted(iso):
    # Ala C3H5NO + Cys C3H5NOS + Lys C6H12N2O as residues; GlcNAc C8H15NO6.
    ack = {"C": 12, "H": 22, "N": 4, "O": 3, "S": 1}
    assert iso.calc_seq_comp(seq="ACK", comp_map=iso.aa_comp) == ack
    assert iso.calc_seq_comp("ACK", iso.aa_comp, True) == ack
    assert iso.calc_seq_comp("ACK", iso.aa_comp, residue=False) == {"C": 12, "H": 24, "N": 4, "O": 4, "S": 1}
    assert iso.calc_glycan_comp(glycan="N1", comp_map=iso.gly_comp, residue=0) == {"C": 8, "H": 15, "N": 1, "O": 6}
    alanine = iso.calc_pep_comp(seq="A", mods="", aa_comp_map=iso.aa_comp, mod_comp_map={})
    assert alanine == {"C": 3, "H": 5, "N": 1, "O": 1}
    assert iso.calc_iso_dist(comp="C6", N=2).shape == (2,)


@pytest.mark.parametrize("call", [
    lambda m: m.mods_counter(mods="1,C,cam"),
    lambda m: m.component_counter(component_str="H2"),
    lambda m: m.glycan_counter(glycan="N1"),
    lambda m: m.comp_to_str(comp={"H": 2}),
    lambda m: m.read_param(param_file="p.txt"),
    lambda m: m.calc_seq_comp("A", m.aa_comp, True, 1),
    lambda m: m.calc_seq_comp("A"),
    lambda m: m.calc_counter_comp({}, {}, {}),
    lambda m: m.calc_iso_dist("C6", 5),
    lambda m: m.calc_iso_dist(),
    lambda m: m.run_single_file("a", "b"),
    lambda m: m.main(1),
], ids=["pos-only mods", "pos-only component", "pos-only glycan", "pos-only comp", "pos-only param",
        "surplus", "missing", "surplus 2", "surplus kwargs-only", "missing comp", "missing param", "main args"])
def test_wrong_argument_forms_raise_type_error(iso, call):
    with pytest.raises(TypeError):
        call(iso)


# --- Results ---------------------------------------------------------------

def test_counters_and_their_types(iso):
    mods = iso.mods_counter("3,C,cam/5,M,ox/9,C,cam")
    assert type(mods) is collections.Counter and list(mods.items()) == [("cam", 2), ("ox", 1)]
    assert type(iso.glycan_counter("N4H5F1S0")) is dict
    assert list(iso.glycan_counter("N4H5F1S0H[6P]1").items()) == [("N", 4), ("H", 5), ("F", 1), ("S", 0), ("H[6P]", 1)]
    assert iso.component_counter("C8C[13]4H20") == {"C": 8, "C[13]": 4, "H": 20}
    assert iso.comp_to_str(iso.Composition({"C": 6, "H": 12, "O": 6})) == "C6H12O6"
    assert iso.comp_to_str({"H": 2, "O": 1}) == "H2O1"


def test_count_columns_beyond_the_five_are_read_whole_and_gly_comp_refuses_them(iso):
    # A Glycan string of a run with isotope_count_columns = Xyl,KDN.
    glycan = "N4H3F1S0G0X[Xyl]1X[KDN]2"
    assert list(iso.glycan_counter(glycan).items()) == [
        ("N", 4), ("H", 3), ("F", 1), ("S", 0), ("G", 0), ("X[Xyl]", 1), ("X[KDN]", 2)]
    assert list(iso.gly_comp) == ["N", "H", "F", "S", "G", "H[6P]"]
    with pytest.raises(KeyError) as info:
        iso.calc_glycan_comp(glycan, iso.gly_comp)
    assert info.value.args == ("X[Xyl]",)


def test_peptide_and_glycan_compositions(iso):
    # Ala C3H5NO + Cys C3H5NOS + Met C5H9NOS, carbamidomethyl C2H3NO, oxidation O.
    pep = iso.calc_pep_comp("ACM", "2,C,Carbamidomethyl/3,M,ox", iso.aa_comp, iso.mod_comp)
    assert isinstance(pep, iso.Composition)
    assert pep == {"C": 13, "H": 22, "N": 4, "O": 5, "S": 2}
    # A missing modification cell, as pandas gives it, means no modifications.
    acm = {"C": 11, "H": 19, "N": 3, "O": 3, "S": 2}
    for missing in (None, float("nan"), numpy.float64("nan"), ""):
        assert iso.calc_pep_comp("ACM", missing, iso.aa_comp, iso.mod_comp) == acm
        if missing != "":
            assert iso.calc_mod_comp(missing, iso.mod_comp) == {} and iso.mods_counter(missing) == {}
    assert iso.calc_mod_comp("1,S,p/2,T,p", iso.mod_comp) == {"H": 2, "P": 2, "O": 6}
    # HexNAc C8H13NO5 twice and Hex C6H10O5.
    assert iso.calc_glycan_comp("N2H1", iso.gly_comp) == {"C": 22, "H": 36, "N": 2, "O": 15}
    # Plain dicts serve as tables and compositions; counts go through int().
    assert iso.calc_counter_comp({"x": 2.9, "y": "1"}, {"x": {"C": 1}, "y": iso.Composition("H2")}) == {"C": 2, "H": 2}


def test_isotope_pattern(iso):
    dist = iso.calc_iso_dist("C6H12O6")
    assert isinstance(dist, numpy.ndarray) and dist.dtype == numpy.float64 and dist.ndim == 1
    assert len(dist) == 5 and dist[0] > dist[1] > dist[2] and math.isclose(dist.sum(), 1, rel_tol=1e-3)
    # Labelled entries are left out unless filter_iso is false; other keywords are ignored.
    assert numpy.array_equal(iso.calc_iso_dist("C6C[13]2H12O6", N=3, unused=1), iso.calc_iso_dist("C6H12O6", N=3))
    with pytest.raises(ValueError):
        iso.calc_iso_dist("C6C[13]2H12O6", filter_iso=False)
    assert len(iso.calc_iso_dist("C6H12O6", N=True)) == 1


def test_params_name_modifications_and_pick_the_peaks(iso, tmp_path):
    # EEQYNSTYR + N4H3F1S0G0 (the README's worked example) and a
    # deamidation, H-1N-1O1: Unimod's monoisotopic delta 0.984016 Da.
    deamidated = 2633.03859989992 + 0.984016
    params = tmp_path / "p.txt"
    params.write_text("isotope_modification.Deam = H-1N-1O1\nisotope_peaks_num = 3\nisotope_normalize = max\n")
    defined = iso.glycopeptide_comp("EEQ[Deam]YNSTYR", "N4H3F1S0G0", params=str(params))
    unimod = iso.glycopeptide_comp("EEQ[deamidated]YNSTYR", "N4H3F1S0G0", params={"isotope_unimod": True})
    assert defined.mass() == pytest.approx(deamidated, abs=1e-6) and unimod == defined
    with pytest.raises(KeyError):
        iso.glycopeptide_comp("EEQ[Deam]YNSTYR", "N4H3F1S0G0")
    mz, intensity = iso.isotope_peaks(defined, charge=2, params=params)
    assert len(mz) == 3 and intensity.max() == 1  # isotope_peaks_num, isotope_normalize
    mz, intensity = iso.isotope_peaks(defined, charge=2, n=2, normalize="sum", params=params)
    assert len(mz) == 2 and intensity.sum() == pytest.approx(1)  # the arguments win
    assert mz[0] == pytest.approx(deamidated / 2 + 1.007276466621, abs=1e-6)


# --- Exceptions ------------------------------------------------------------

def test_table_lookups_raise_key_error_with_the_key_only(iso):
    with pytest.raises(KeyError) as info:
        iso.calc_seq_comp("AXK", iso.aa_comp)
    assert info.value.args == ("X",)
    with pytest.raises(KeyError) as info:
        iso.calc_pep_comp("AC", "2,C,nosuch", iso.aa_comp, iso.mod_comp)
    assert info.value.args == ("nosuch",)
    with pytest.raises(KeyError) as info:
        iso.Composition({"Xx": 1}).mass()
    assert info.value.args == ("Xx",) and "no known mass" in info.value.__notes__[0]


def test_counter_comp_fails_in_python_order(iso):
    table = {"A": {"H": 1}, "B": {"H": "not a count"}}
    # Key by key: lookup, then int(count), then the product.
    with pytest.raises(KeyError, match="Z"):
        iso.calc_counter_comp({"Z": "bad", "A": 1}, table)
    with pytest.raises(ValueError, match="invalid literal"):
        iso.calc_counter_comp({"A": "bad", "Z": 1}, table)
    with pytest.raises(ValueError, match="invalid literal"):
        iso.calc_counter_comp({"B": 1, "Z": 1}, table)
    with pytest.raises(TypeError):
        iso.calc_counter_comp({"A": None}, table)


@pytest.mark.parametrize("call, exc", [
    (lambda m: m.glycan_counter(5), TypeError),
    (lambda m: m.component_counter(b"H2"), TypeError),
    (lambda m: m.calc_seq_comp(["A"], m.aa_comp), TypeError),
    (lambda m: m.calc_pep_comp("A", 5, m.aa_comp, m.mod_comp), TypeError),
    (lambda m: m.comp_to_str({1: 2}), TypeError),
    (lambda m: m.calc_seq_comp("A", None), TypeError),
    (lambda m: m.calc_iso_dist("C6", N=1.5), TypeError),
    (lambda m: m.calc_iso_dist("C6", N=-1), ValueError),
    (lambda m: m.calc_iso_dist("C-6", filter_iso=False), ValueError),
    (lambda m: m.calc_iso_dist("Qq2", filter_iso=False), ValueError),
    (lambda m: m.Composition("h2o"), ValueError),
    (lambda m: m.comp_to_str({"H": 2 ** 70}), ValueError),
])
def test_wrong_values_raise_host_types(iso, call, exc):
    with pytest.raises(exc):
        call(iso)


def test_parameter_file_errors(iso, tmp_path):
    good = tmp_path / "good.txt"
    good.write_bytes(b"isotope_peaks_num = 5\r\n a = b = c \n")
    assert iso.read_param(str(good)) == {"isotope_peaks_num": "5", "a": "b"}
    assert iso.read_param(good) == iso.read_param(str(good))  # os.PathLike

    missing = tmp_path / "missing.txt"
    with pytest.raises(FileNotFoundError) as info:
        iso.read_param(str(missing))
    assert (info.value.errno, info.value.filename) == (2, str(missing))
    with pytest.raises(IsADirectoryError):
        iso.read_param(str(tmp_path))

    no_equals = tmp_path / "noeq.txt"
    no_equals.write_text("a = 1\nb 2\n\n# comment\n")
    with pytest.raises(IndexError, match="line 2"):
        iso.read_param(str(no_equals))

    undecodable = tmp_path / "latin1.txt"
    undecodable.write_bytes(b"a = \xe9\n")
    with pytest.raises(UnicodeDecodeError) as info:
        iso.read_param(str(undecodable))
    err = info.value
    assert (err.encoding, err.object, err.start, err.end, err.reason) == \
        ("utf-8", b"a = \xe9\n", 4, 5, "invalid continuation byte")
    assert str(undecodable) in err.__notes__[0]
