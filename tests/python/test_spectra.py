"""MS1 evidence of rows in runs written with OpenMS's mzML writer (the
write_run test program): envelopes placed from the rows' own patterns with
known intensities, expected values computed here with numpy."""

import os
import pathlib
import subprocess

import numpy
import pandas
import pytest

WRITE_RUN = os.environ.get("ISOTOPE_WRITE_RUN")
pytestmark = pytest.mark.skipif(not WRITE_RUN, reason="ISOTOPE_WRITE_RUN (the test run writer) is not set")

ROWS = pandas.DataFrame({"PepSeq": ["EEQYNSTYR", "LCPDCPLLAPLNDSR"], "N": [4, 5], "H": [3, 6], "F": [1, 0],
                         "S": [0, 3], "G": [0, 0], "z": [2, 3]})
BASE = {"isotope_peaks_num": 5, "isotope_charge_column": "z", "isotope_precursor_mz_column": "mz"}


def write_run(path, spectra, header="compression=zlib"):
    """spectra: (ms level, scan, rt seconds, precursor or None, [(mz, intensity)], mode)."""
    lines = [header]
    for level, scan, rt, precursor, peaks, *mode in spectra:
        s = f"S {level} {scan} {rt}"
        if precursor:
            s += f" {precursor[0]!r} {precursor[1]} 1.0 1.0"
        lines.append(s + (f" mode={mode[0]}" if mode else ""))
        lines += [f"P {mz!r} {i!r}" for mz, i in peaks]
    (pathlib.Path(path).parent / "run.txt").write_text("\n".join(lines) + "\n")
    subprocess.run([WRITE_RUN, str(pathlib.Path(path).parent / "run.txt"), str(path)], check=True)


def patterns(iso):
    """The rows' reported peaks (m/z, intensities) and GP_MZ."""
    df = ROWS.assign(mz=0.0)
    out = iso.annotate(df, {"isotope_peaks_num": 5, "isotope_charge_column": "z"}, arrays=True)
    return [numpy.array(v) for v in out["GP_Isotopes_MZ"]], [numpy.array(v) for v in out["GP_Isotopes"]], out["GP_MZ"]


def expected(peaks, mzs, theory, tol=10.0):
    """Most intense centroid within tol ppm of each peak, the cosine and the
    intensity-weighted ppm, as the MS1 columns should hold them."""
    cmz = numpy.array([p[0] for p in peaks])
    cin = numpy.array([p[1] for p in peaks], dtype=numpy.float32).astype(float)
    seen, err = numpy.zeros(len(mzs)), numpy.full(len(mzs), numpy.nan)
    for k, m in enumerate(mzs):
        near = numpy.flatnonzero(numpy.abs(cmz - m) <= m * tol * 1e-6)
        if len(near):
            best = near[numpy.argmax(cin[near])]
            seen[k], err[k] = cin[best], (cmz[best] - m) / m * 1e6
    cos = seen @ theory / numpy.sqrt((seen @ seen) * (theory @ theory))
    found = seen > 0
    return seen, cos, (seen[found] * err[found]).sum() / seen[found].sum()


def scene(iso):
    """An MS1 spectrum (scan 101) with row 0's envelope 3 ppm high (and a weak
    peak beside its first), row 1's envelope one peak spacing below its GP_MZ
    (its precursor was picked one isotope high), noise; MS2 scans 102, 103."""
    mzs, theory, gp_mz = patterns(iso)
    rng = numpy.random.default_rng(7)
    a = [(m * (1 + 3e-6), 1e6 * t) for m, t in zip(mzs[0], theory[0])] + [(mzs[0][0] * (1 - 4e-6), 1e3)]
    spacing = mzs[1][1] - mzs[1][0]
    b = [(m - spacing, 2e6 * t) for m, t in zip(mzs[1], theory[1])]
    noise = [(float(x), float(i)) for x, i in zip(rng.uniform(400, 1600, 40), rng.uniform(1e3, 5e4, 40))]
    ms1 = sorted(a + b + noise)
    spectra = [(1, 101, 600.0, None, ms1), (2, 102, 601.5, (float(gp_mz[0]), 101), [(300.0, 10.0)]),
               (2, 103, 602.0, (float(gp_mz[1]), 101), [(300.0, 10.0)]), (1, 104, 606.0, None, [(500.0, 1.0)])]
    return spectra, ms1, mzs, theory, gp_mz


def test_envelopes_offsets_and_numberings(iso, tmp_path):
    spectra, ms1, mzs, theory, gp_mz = scene(iso)
    run = tmp_path / "run.mzML"
    write_run(run, spectra)
    df = ROWS.assign(mz=gp_mz, scan=[102, 103])
    params = dict(BASE, isotope_spectra=str(run), isotope_scan_column="scan")
    out = iso.annotate(df, params, arrays=True)
    assert list(out.columns[-10:-3]) == ["MS1_Scan", "MS1_RT", "MS1_Intensities", "MS1_Peaks_Found", "MS1_Cosine",
                                      "MS1_PPM", "MS1_Offset"]
    assert (out["MS1_Scan"] == "controllerType=0 controllerNumber=1 scan=101").all() and (out["MS1_RT"] == 10.0).all()
    seen, cos, ppm = expected(ms1, mzs[0], theory[0])
    numpy.testing.assert_array_equal(out["MS1_Intensities"][0], seen)
    assert out["MS1_Peaks_Found"][0] == 5 and out["MS1_Offset"][0] == 0
    assert out["MS1_Cosine"][0] == pytest.approx(cos, rel=1e-12) and out["MS1_PPM"][0] == pytest.approx(ppm, rel=1e-9)
    assert abs(ppm - 3) < 0.01
    assert out["MS1_Offset"][1] == -1 and out["MS1_Peaks_Found"][1] == 4
    assert out["MS1_Cosine"][1] == pytest.approx(expected(ms1, mzs[1], theory[1])[1], rel=1e-12)
    # The same rows named by their one-based positions in the file.
    with pytest.warns(Warning, match="one-based positions"):
        by_position = iso.annotate(df.assign(scan=[2, 3]), params, arrays=True)
    pandas.testing.assert_frame_equal(by_position.drop(columns="scan"), out.drop(columns="scan"))
    # Without scans, the MS1 spectrum nearest each row's retention time
    # (10.049 min lies nearer scan 101's 10.0 than scan 104's 10.1 only by a
    # hair: an off-by-one in the nearest search shows).
    by_rt = iso.annotate(df.assign(rt=[10.049, 10.0]), dict(BASE, isotope_spectra=str(run), isotope_rt_column="rt"),
                         arrays=True)
    pandas.testing.assert_frame_equal(by_rt.drop(columns=["scan", "rt"]), out.drop(columns="scan"))
    # A row whose spectrum's precursor is another's is warned and left empty.
    with pytest.warns(Warning, match="agrees with neither"):
        wrong = iso.annotate(df.assign(scan=[103, 103]), params)
    assert numpy.isnan(wrong["MS1_Cosine"][0]) and wrong["MS1_Offset"][1] == -1
    assert iso.annotate(df, params, threads=1).equals(iso.annotate(df, params, threads=3))


def test_file_route_writes_what_annotate_gives(iso, native, tmp_path):
    spectra, *_, gp_mz = scene(iso)
    write_run(tmp_path / "run.mzML", spectra)
    table = tmp_path / "ours.txt"
    ROWS.assign(mz=gp_mz, scan=[102, 999]).to_csv(table, sep="\t", index=False)
    options = dict(BASE, isotope_spectra=tmp_path / "run.mzML", isotope_scan_column="scan")
    (tmp_path / "p.txt").write_text("".join(f"{k} = {v}\n" for k, v in options.items()))
    run = subprocess.run([native, "-i", str(table), "-o", str(tmp_path), "-p", str(tmp_path / "p.txt")],
                         capture_output=True, encoding="utf-8")
    assert run.returncode == 0 and "no spectrum '999'" in run.stderr
    with pytest.warns(Warning, match="no spectrum '999'"):
        want = iso.annotate(pandas.read_csv(table, sep=r"\s+"), str(tmp_path / "p.txt"))
    assert (tmp_path / "ours_isotope_pyopenms.txt").read_text() == want.to_csv(sep="\t", index=False)
    # A table without the scan column named, or without any way to its
    # spectra, fails at its header; a missing run fails the table.
    df = ROWS.assign(mz=gp_mz)
    with pytest.raises(KeyError, match="'scan'"):
        iso.annotate(df, options)
    with pytest.raises(ValueError, match="isotope_scan_column"):
        iso.annotate(df, {k: v for k, v in options.items() if k != "isotope_scan_column"})
    with pytest.raises(ValueError, match="no mzML file or folder"):
        iso.annotate(df.assign(scan=102), dict(options, isotope_spectra=tmp_path / "absent"))


@pytest.mark.parametrize("header", ["compression=none precision=32", "compression=numpress", "mode=profile"])
def test_encodings_and_profile_spectra(iso, tmp_path, header):
    spectra, ms1, mzs, theory, gp_mz = scene(iso)
    if "profile" in header:  # each centroid drawn as a Gaussian of 0.002 m/z width
        grid = numpy.arange(400, 1600, 0.0005)
        keep = numpy.zeros_like(grid, dtype=bool)
        profile = numpy.zeros_like(grid)
        for m, i in ms1:
            near = numpy.abs(grid - m) < 0.012
            profile[near] += i * numpy.exp(-0.5 * ((grid[near] - m) / 0.002) ** 2)
            keep |= near
        spectra[0] = (1, 101, 600.0, None, list(zip(grid[keep].tolist(), profile[keep].tolist())))
    run = tmp_path / "run.mzML"
    write_run(run, spectra, header)
    out = iso.annotate(ROWS.assign(mz=gp_mz, scan=[102, 103]),
                       dict(BASE, isotope_spectra=str(run), isotope_scan_column="scan"), arrays=True)
    assert list(out["MS1_Peaks_Found"]) == [5, 4] and list(out["MS1_Offset"]) == [0, -1]
    assert out["MS1_Cosine"][0] > 0.999 and abs(out["MS1_PPM"][0] - 3) < (0.5 if "profile" in header else 0.05)


def test_engine_tables_and_deconvoluted_runs(iso, native, tmp_path):
    spectra, ms1, mzs, theory, gp_mz = scene(iso)
    (tmp_path / "runs").mkdir()
    write_run(tmp_path / "runs" / "sampleA.mzML", spectra)
    pglyco = tmp_path / "pglyco.txt"
    pglyco.write_text("RawName\tScan\tPrecursorMZ\tCharge\tPeptide\tMod\tGlycanComposition\tGlyDecoy\tPepDecoy\n"
                      f"sampleA\t102\t{gp_mz[0]!r}\t2\tEEQYNSTYR\t\tH(3)N(4)F(1)\t0\t0\n"
                      f"sampleB\t102\t{gp_mz[0]!r}\t2\tEEQYNSTYR\t\tH(3)N(4)F(1)\t0\t0\n")
    fragpipe = tmp_path / "psm.tsv"
    fragpipe.write_text("Spectrum\tPeptide\tAssigned Modifications\tCharge\tCalibrated Observed M/Z\t"
                        "Total Glycan Composition\n"
                        f"sampleA.00102.00102.2\tEEQYNSTYR\t\t2\t{gp_mz[0]!r}\tHexNAc(4)Hex(3)Fuc(1)\n")
    seen, cos, _ = expected(ms1, mzs[0], theory[0])
    runs = {}
    for table, fmt in [(pglyco, "pglyco3"), (fragpipe, "fragpipe")]:
        params = tmp_path / "p.txt"
        params.write_text(f"isotope_peaks_num = 5\nisotope_input_format = {fmt}\nisotope_spectra = {tmp_path / 'runs'}\n")
        run = subprocess.run([native, "-i", str(table), "-o", str(tmp_path), "-p", str(params)], capture_output=True,
                             text=True)
        assert run.returncode == 0, run.stderr
        runs[fmt] = run.stderr
        out = pandas.read_csv(tmp_path / (table.stem + "_isotope_pyopenms.txt"), sep="\t", keep_default_na=False)
        assert out["MS1_Intensities"][0] == ",".join(repr(float(v)) for v in seen)
        assert float(out["MS1_Cosine"][0]) == pytest.approx(cos, rel=1e-12)
    assert "no mzML file of run 'sampleB'" in runs["pglyco3"]
    # A deconvoluted run: a warning, and no evidence.
    write_run(tmp_path / "runs" / "sampleA.mzML", spectra, "deconvoluted=1")
    run = subprocess.run([native, "-i", str(fragpipe), "-o", str(tmp_path), "-p", str(params)], capture_output=True,
                         text=True)
    assert "deconvoluted" in run.stderr and run.returncode == 0
    assert pandas.read_csv(tmp_path / "psm_isotope_pyopenms.txt", sep="\t")["MS1_Cosine"].isna().all()


REAL = pathlib.Path(__file__).resolve().parents[3] / "shared" / "real" / "runs"


@pytest.mark.skipif(not (REAL / "glycresoft_agp").is_dir(), reason="the real runs are not here")
def test_real_runs_envelopes_warnings_and_refusals(iso, native, tmp_path):
    def run(table, fmt, spectra):
        params = tmp_path / "p.txt"
        params.write_text(f"isotope_peaks_num = 5\nisotope_input_format = {fmt}\nisotope_spectra = {REAL / spectra}\n")
        p = subprocess.run([native, "-i", str(REAL / table), "-o", str(tmp_path), "-p", str(params)],
                           capture_output=True, text=True)
        out = tmp_path / (pathlib.Path(table).stem + "_isotope_pyopenms.txt")
        return p, (pandas.read_csv(out, sep="\t", low_memory=False) if p.returncode == 0 else None)

    gsm = "glycresoft_agp/glycresoft_classic_agp_search_gsm.csv"
    p, agp = run(gsm, "glycresoft", "glycresoft_agp/AGP_001_29_30.envelope_points.mzML")
    agp = agp[agp["q_value"] <= 0.05]
    assert (agp["MS1_Peaks_Found"] >= 3).mean() > 0.95 and agp["MS1_Cosine"].median() > 0.99
    assert agp["MS1_PPM"].abs().mean() < 5 and (agp["MS1_Offset"] == 0).mean() > 0.95
    p, yeast = run("flashlfq_yeast/AllPSMs.psmtsv", "metamorpheus", "flashlfq_yeast/SmallCalibratible_Yeast.mzML")
    assert (yeast["MS1_Peaks_Found"] >= 3).mean() > 0.8 and yeast["MS1_Cosine"].median() > 0.98
    p, _ = run(gsm, "glycresoft", "glycresoft_agp/20150710_3um_AGP_001_29_30.preprocessed.mzML")
    assert p.returncode == 0 and "deconvoluted" in p.stderr
    p, _ = run("mm_example/example_PSMs_5ppmAroundZero.psmtsv", "metamorpheus", "mm_example/example.mzML")
    assert p.returncode == 1 and "OpenMS cannot read the run" in p.stderr and "example.mzML" in p.stderr
    assert "XMLHandler" not in p.stderr  # OpenMS's own log line is not printed besides the error


def test_areas_windows_and_shared_centroids(iso, tmp_path):
    """A Gaussian elution (sigma 0.1 min) of one envelope, MS1 spectra every
    0.05 min from 9 to 11 min; rows at 10.0 and 10.9 min (a window cut by
    the run's end); a second identification 2 H heavier whose first peak
    lies 3.4 ppm from the envelope's third."""
    rows = pandas.DataFrame({"PepSeq": ["EEQYNSTYR", "EEQYNSTYR", "EEQYNSTYR[Reduced]"], "N": 4, "H": 3, "F": 1,
                             "S": 0, "G": 0, "z": 2, "scan": [1000, 1001, 1002]})
    params = {"isotope_peaks_num": 5, "isotope_charge_column": "z", "isotope_modification.Reduced": "H2"}
    reported = iso.annotate(rows, params, arrays=True)
    mzs, theory = reported["GP_Isotopes_MZ"][0], reported["GP_Isotopes"][0]
    times = numpy.round(numpy.arange(9.0, 11.0001, 0.05), 4)
    spectra, sums = [], []
    for k, t in enumerate(times):
        scale = 1e6 * numpy.exp(-0.5 * ((t - 10.0) / 0.1) ** 2)
        peaks = [(float(m), float(scale * i)) for m, i in zip(mzs, theory) if scale * i > 1e-3]
        sums.append(sum(float(numpy.float32(i)) for _, i in peaks))
        spectra.append((1, k + 1, float(t * 60), None, peaks or [(300.0, 1.0)]))
    for scan, t in [(1000, 10.0), (1001, 10.9), (1002, 10.0)]:
        spectra.append((2, scan, t * 60 + 0.5, (float(reported["GP_MZ"][scan - 1000]), "-"), [(300.0, 1.0)]))
    spectra.sort(key=lambda s: (s[2], s[0]))
    write_run(tmp_path / "run.mzML", spectra)
    with pytest.warns(Warning, match="shares centroids"):
        out = iso.annotate(rows, dict(params, isotope_spectra=str(tmp_path / "run.mzML"), isotope_scan_column="scan",
                                      isotope_precursor_tolerance_ppm=50))
    assert list(out.columns[-3:]) == ["MS1_Area", "MS1_Apex_RT", "MS1_Overlaps"]
    sums = numpy.array(sums, dtype=float)
    for row, centre in [(0, 10.0), (1, 10.9)]:
        inside = numpy.abs(times - (centre + 0.5 / 60)) <= 0.5  # around the MS2 spectrum, 0.5 s later
        want = numpy.trapz(sums[inside], times[inside])
        assert out["MS1_Area"][row] == pytest.approx(want, rel=1e-9)
    assert out["MS1_Area"][0] == pytest.approx(1e6 * 0.1 * numpy.sqrt(2 * numpy.pi), rel=1e-3)  # the whole peak
    assert out["MS1_Area"][1] < 0.01 * out["MS1_Area"][0] and out["MS1_Apex_RT"][0] == 10.0
    assert out["MS1_Apex_RT"][1] == 10.45  # the window's first spectrum (10.4 lies outside)
    assert list(out["MS1_Overlaps"]) == [1, 0, 1]  # at 10.9 min the envelope has faded: nothing claimed


def test_plot_of_an_envelope_in_its_spectrum(iso, tmp_path):
    import matplotlib
    matplotlib.use("Agg")
    spectra, ms1, mzs, theory, gp_mz = scene(iso)
    write_run(tmp_path / "run.mzML", spectra)
    out = iso.annotate(ROWS.assign(mz=gp_mz, scan=[102, 103]),
                       dict(BASE, isotope_spectra=str(tmp_path / "run.mzML"), isotope_scan_column="scan"))
    ax, chrom = iso.plot_isotopes("EEQYNSTYR", "N4H3F1S0G0", charge=2, spectra=tmp_path / "run.mzML", scan=102,
                                  chromatogram=True, mirror=True)
    assert f"cosine {out['MS1_Cosine'][0]:.4f}, {out['MS1_PPM'][0]:.2f} ppm, 5/5 peaks found, offset 0" in ax.get_title()
    matched = [c for c in ax.collections if c.get_label() == "matched centroids"][0]
    heights = numpy.array([seg[1][1] for seg in matched.get_segments()])
    assert len(heights) == 5 and (heights < 0).all() and -heights.sum() == pytest.approx(1.0)  # scaled to the sticks
    assert list(chrom.lines[0].get_xdata()) == [10.0, 10.1]
    with pytest.raises(TypeError, match="scan"):
        iso.plot_isotopes("EEQYNSTYR", "N4H3F1S0G0", charge=2, spectra=tmp_path / "run.mzML")
    with pytest.raises(KeyError, match="'999'"):
        iso.plot_isotopes("EEQYNSTYR", "N4H3F1S0G0", charge=2, spectra=tmp_path / "run.mzML", scan=999)
