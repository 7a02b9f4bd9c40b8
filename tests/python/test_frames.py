"""DataFrames and arrays: annotate against the file route, and patterns."""

import pathlib
import warnings

import numpy
import pandas
import pytest

DATA = pathlib.Path(__file__).resolve().parents[1] / "data"


def file_route(iso, table, params, tmp_path):
    iso.run_single_file(str(table), str(tmp_path), str(params))
    return (tmp_path / (table.stem + "_isotope_pyopenms.txt")).read_text(encoding="utf-8")


@pytest.mark.parametrize("name", ["glycopeptides.txt", "batch/fetuin.txt", "batch/tmt_igg.txt", "counts.txt",
                                  "mz.txt"])
def test_annotate_writes_what_the_file_route_writes(iso, examples, tmp_path, name, capsys):
    params = examples / "params.txt"
    if name == "counts.txt":
        # Count cells pandas reads as floats, text or missing; a quoted
        # PepSeq; an index-like first column.
        table = tmp_path / name
        table.write_text('Scan PepSeq N H F S G\n7 EEQYNSTYR 4 3 1 0 0\n8 "EEQYNSTYR" NA 3.5 1 0 0\n'
                         "9 NGTSAMR 2 x 0 -1 0\n")
    elif name == "mz.txt":
        # m/z options, a float count column, a charge written 2.0 and a
        # row without a charge (empty m/z cells).
        table = tmp_path / name
        table.write_text("PepSeq N H F S G Charge MZ\nEEQYNSTYR 4 3 1 0 0 2.0 1317.527\n"
                         "LC[Carbamidomethyl]PDC[Carbamidomethyl]PLLAPLNDSR 5 6 0 3.0 0 3 1221.1\n"
                         "EEQYNSTYR 4 3 1 0 0 NA 1317.527\n")
        params = tmp_path / "p.txt"
        params.write_text("isotope_peaks_num = 4\nisotope_charge_column = Charge\nisotope_charges = 2,-3\n"
                          "isotope_precursor_mz_column = MZ\n")
    else:
        table = examples / name
    want = file_route(iso, table, params, tmp_path)
    df = pandas.read_csv(table, sep=r"\s+")
    before = df.copy()
    got = iso.annotate(df, str(params))
    assert got.to_csv(sep="\t", index=False) == want
    pandas.testing.assert_frame_equal(df, before)  # the input is not modified
    assert got["GP_Mass"].dtype == numpy.float64 and got["GP_Isotopes"].map(type).eq(str).all()


def test_annotate_names_rows_by_position_and_label(iso):
    df = pandas.DataFrame({"PepSeq": ["EEQYNSTYR", "EEQYNSTYr", "PEPXIDE"], "N": [4, 4, 4], "H": [3, 3, 3],
                           "F": [1, 1, 1], "S": [0, 0, 0], "G": [0, 0, 0]}, index=["a", "b", "c"])
    with pytest.warns(iso.IsotopeInputWarning) as caught:
        with pytest.raises(KeyError) as info:
            iso.annotate(df, {"isotope_peaks_num": 5, "isotope_strict": False})
    assert [str(w.message) for w in caught] == [
        "PepSeq 'EEQYNSTYr' has 'r' at character 9, which is neither a residue nor a bracketed modification; "
        "it was skipped, row 1 (index 'b') of the DataFrame"]
    assert info.value.args == ("X",)
    assert info.value.__notes__ == ["unknown residue 'X' in PepSeq, row 2 (index 'c') of the DataFrame"]
    with pytest.raises(ValueError, match=r"rests? on a guess:\n  row 1 \(index 'b'\): PepSeq"):
        iso.annotate(df.iloc[:2], {"isotope_peaks_num": 5, "isotope_strict": True})
    with pytest.raises(ValueError, match="isotope_normalize"):
        iso.annotate(df, {"isotope_normalize": "median"})
    # A RangeIndex's labels go by its start and step.
    ranged = df.iloc[:2].copy()
    ranged.index = pandas.RangeIndex(start=10, stop=20, step=5)
    with pytest.warns(iso.IsotopeInputWarning) as caught:
        iso.annotate(ranged, {"isotope_peaks_num": 5})
    assert [str(w.message).rsplit(", ", 1)[1] for w in caught] == ["row 1 (index 15) of the DataFrame"]


def test_annotate_threads_give_the_same_frame(iso):
    rows = 5000
    df = pandas.DataFrame({"PepSeq": ["EEQYNSTYR", "LC[Carbamidomethyl]PDC[Carbamidomethyl]PLLAPLNDSR"] * (rows // 2),
                           "N": [4, 5] * (rows // 2), "H": list(range(rows)), "F": [1, 0] * (rows // 2),
                           "S": [0, 3] * (rows // 2), "G": [0] * rows})
    one = iso.annotate(df, None, threads=1)
    assert one.equals(iso.annotate(df, None, threads=2)) and one.equals(iso.annotate(df, None, threads=7))


def test_patterns_shape_padding_and_errors(iso):
    comps = ["C6H12O6", iso.Composition("H2O"), {"C": 106, "H": 164, "N": 18, "O": 59}, "C2C[13]4H6"]
    a = iso.patterns(comps, n=4)
    assert a.shape == (4, 4) and a.dtype == numpy.float64
    assert numpy.array_equal(a[0], iso.calc_iso_dist("C6H12O6", N=4))
    assert numpy.array_equal(a[3], iso.calc_iso_dist("C2H6", N=4))  # labelled atoms left out
    full = iso.patterns(comps, n=0)
    lengths = [len(iso.calc_iso_dist(iso.comp_to_str(iso.Composition(c)), N=0)) for c in comps]
    assert full.shape == (4, max(lengths))
    water = lengths[1]
    assert numpy.array_equal(full[1, :water], iso.calc_iso_dist("H2O1", N=0)) and numpy.isnan(full[1, water:]).all()
    assert numpy.array_equal(iso.patterns(comps, n=4, threads=1), iso.patterns(comps, n=4, threads=2))
    none = iso.patterns(comps[:1], n=3, normalize="none")
    assert none[0].sum() < 1 and none[0][0] == pytest.approx(a[0][0] * none[0][:4].sum() / a[0][:4].sum(), rel=1e-3)
    with pytest.raises(ValueError, match=r"comps\[1\]"):
        iso.patterns(["C6", "Q2"], n=3)


@pytest.mark.parametrize("name, fmt, sep", [("psm.tsv", "fragpipe", "\t"),
                                             ("glycresoft_identifications.csv", "glycresoft", ",")])
def test_annotate_reads_engine_tables_as_the_file_route(iso, tmp_path, name, fmt, sep):
    table = DATA / "formats" / name
    params = tmp_path / "p.txt"
    params.write_text("isotope_peaks_num = 5\nisotope_input_format = %s\n" % fmt)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", iso.IsotopeInputWarning)
        iso.run_single_file(str(table), str(tmp_path), str(params))
        got = iso.annotate(pandas.read_csv(table, sep=sep), str(params))
    want = pandas.read_csv(tmp_path / (table.stem + "_isotope_pyopenms.txt"), sep="\t", dtype=str,
                           keep_default_na=False)
    added = [c for c in want.columns if c not in pandas.read_csv(table, sep=sep).columns]
    assert list(got.columns[-len(added):]) == added
    assert got[added].to_csv(sep="\t", index=False) == want[added].to_csv(sep="\t", index=False)
    assert got.GP_MZ.dtype == got.GP_PPM.dtype == numpy.float64 and got.GP_Isotope_Offset.dtype == "Int64"
    # GlycReSoft's identifications: a column per charge its rows list.
    if fmt == "glycresoft":
        assert added[-6:] == ["GP_MZ_z2", "GP_MZ_z3", "GP_MZ_z4", "GP_MZ_z5", "GP_Isotope_Offset", "GP_PPM"]


def test_annotate_counts_columns_beyond_the_five(iso):
    df = pandas.DataFrame({"PepSeq": ["EEQYNSTYR"], "N": [4], "H": [3], "F": [1], "S": [0], "G": [0], "Xyl": [1],
                           "KDN": [2]})
    out = iso.annotate(df, {"isotope_peaks_num": 2, "isotope_count_columns": "Xyl,KDN"})
    # EEQYNSTYR + N4H3F1 + C5H8O4 + 2 C9H14O8 + water: C129H200N18O79.
    assert out.Glycan[0] == "N4H3F1S0G0X[Xyl]1X[KDN]2" and out.GP_Mass[0] == 3265.21859344564


def test_annotate_of_an_empty_frame_keeps_text_columns(iso):
    df = pandas.DataFrame({"PepSeq": pandas.Series([], dtype=object), "N": [], "H": [], "F": [], "S": [], "G": []})
    out = iso.annotate(df, {"isotope_strict": True})  # isotope_peaks_num defaults to 5 in a dict too
    assert list(out.columns[-4:]) == ["Glycan", "PepMods", "GP_Mass", "GP_Isotopes"]
    assert out["Glycan"].dtype == object and out["GP_Mass"].dtype == numpy.float64 and len(out) == 0


def test_annotate_gives_numbers_and_arrays_on_the_frames_index(iso):
    df = pandas.DataFrame({"PepSeq": ["EEQYNSTYR"] * 2, "N": [4, 4], "H": [3, 3], "F": [1, 1], "S": [0, 0],
                           "G": [0, 0], "Charge": [2, None], "MZ": [1318.0285] * 2}, index=[10, 20])
    params = {"isotope_charge_column": "Charge", "isotope_precursor_mz_column": "MZ", "isotope_charges": 3}
    with pytest.warns(iso.IsotopeInputWarning, match="charge cell Charge 'nan' is missing"):
        out = iso.annotate(df, params, arrays=True)
    assert [str(t) for t in out.dtypes[-7:]] == ["float64", "object", "float64", "object", "float64", "Int64", "float64"]
    # The README's worked example, and (mass + 3 * proton) / 3 by hand.
    assert out.GP_MZ[10] == 1317.526576416581 and numpy.isnan(out.GP_MZ[20])
    assert out.GP_MZ_z3[20] == pytest.approx((2633.03859989992 + 3 * 1.007276466621) / 3, rel=1e-15)
    assert out.GP_Isotope_Offset.tolist() == [1, pandas.NA] and round(out.GP_PPM[10], 2) == 0.29
    assert out.GP_Isotopes_MZ[10].tolist() == [1317.526576416581, 1318.0281161096073, 1318.529526637972,
                                               1319.0308867894444, 1319.5322116811624]
    assert out.GP_Isotopes_MZ[20].size == 0 and out.GP_Isotopes[20].dtype == numpy.float64
    with pytest.warns(iso.IsotopeInputWarning):
        text = iso.annotate(df, params)
    assert out.GP_Isotopes[10].tolist() == [float(x) for x in text.GP_Isotopes[10].split(",")]


def test_annotate_warns_of_float_counts_as_the_file_route(iso, tmp_path):
    # After a left merge and dropna, counts are float64 of whole numbers.
    ids = pandas.DataFrame({"Scan": [7, 8, 9], "PepSeq": ["EEQYNSTYR", "NGTSAMR", "EEQYNSTYR"]})
    counts = pandas.DataFrame({"Scan": [7, 9], "N": [4, 5], "H": [5, 4], "F": [1, 0], "S": [2, 1], "G": [0, 0]})
    df = ids.merge(counts, how="left").dropna().reset_index(drop=True)
    df.to_csv(tmp_path / "merged.txt", sep="\t", index=False)
    params = tmp_path / "p.txt"
    params.write_text("isotope_peaks_num = 3\n")
    with pytest.warns(iso.IsotopeInputWarning) as file_notes:
        want = file_route(iso, tmp_path / "merged.txt", params, tmp_path)
    with pytest.warns(iso.IsotopeInputWarning) as frame_notes:
        got = iso.annotate(df, str(params))
    assert got.to_csv(sep="\t", index=False) == want and got.Glycan[0] == "N4.0H5.0F1.0S2.0G0.0"
    assert [str(w.message).replace(", line 2 of " + str(tmp_path / "merged.txt"), "") for w in file_notes] == \
        [str(w.message).replace(", row 0 (index 0) of the DataFrame", "") for w in frame_notes]
    assert str(frame_notes[0].message).startswith("count column N holds floats because of the cell '4.0' here")


def test_annotate_names_a_misspelled_option_of_its_dict(iso):
    frame = pandas.DataFrame({"PepSeq": ["EEQYNSTYR"], "N": [4], "H": [3], "F": [1], "S": [0], "G": [0]})
    with pytest.warns(iso.IsotopeInputWarning, match=r"unknown option 'isotope_charge_colum' \(did you mean "
                                                     r"'isotope_charge_column'\?\): it was ignored, line 1 of the params dict"):
        out = iso.annotate(frame, {"isotope_charge_colum": "Charge"})
    assert "GP_MZ" not in out.columns
