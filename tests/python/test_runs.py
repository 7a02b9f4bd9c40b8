"""The drivers in process: output against the native program, the console,
and the late binding of tables and callables through the module's globals."""

import argparse
import os
import re
import subprocess
import sys

import pytest

OUT_NAME = "glycopeptides_isotope_pyopenms.txt"


def run_table(iso, examples, out_dir):
    iso.run_single_file(str(examples / "glycopeptides.txt"), str(out_dir), str(examples / "params.txt"))
    return (out_dir / OUT_NAME).read_bytes()


def test_single_file_matches_the_native_program(iso, examples, native, tmp_path, capsys):
    (tmp_path / "native").mkdir()
    (tmp_path / "python").mkdir()
    subprocess.run([native, "-i", str(examples / "glycopeptides.txt"), "-o", str(tmp_path / "native"),
                    "-p", str(examples / "params.txt")], check=True, capture_output=True)
    got = run_table(iso, examples, tmp_path / "python")
    assert got == (tmp_path / "native" / OUT_NAME).read_bytes()
    assert got.split(b"\n", 1)[0].endswith(b"\tGlycan\tPepMods\tGP_Mass\tGP_Isotopes")
    # The message through sys.stdout, the progress counter through sys.stderr.
    out, err = capsys.readouterr()
    assert out == "Build isotope patterns for %s\n" % (examples / "glycopeptides.txt")
    # Not a terminal: one final line, tqdm's layout with a bar of ten.
    assert re.fullmatch("100%\\|\u2588{10}\\| 12/12 \\[\\d\\d:\\d\\d<00:00, [\\d.]+it/s\\]\n", err), err


def test_run_reads_the_tables_bound_now(iso, examples, tmp_path, monkeypatch):
    reference = run_table(iso, examples, tmp_path)
    heavy_glu = dict(iso.aa_comp, E={"H": 7, "C": 5, "O": 3, "N": 1, "C[13]": 1})
    monkeypatch.setattr(iso, "aa_comp", heavy_glu)
    changed = run_table(iso, examples, tmp_path)
    assert changed != reference and changed.count(b"\n") == reference.count(b"\n")

    monkeypatch.setattr(iso, "aa_comp", {k: v for k, v in iso.aa_comp.items() if k != "E"})
    with pytest.raises(KeyError) as info:
        run_table(iso, examples, tmp_path)
    assert info.value.args == ("E",)
    assert info.value.__notes__ == ["unknown residue 'E' in PepSeq, line 2 of %s" % (examples / "glycopeptides.txt")]

    monkeypatch.delattr(iso, "mod_comp")
    with pytest.raises(NameError):
        run_table(iso, examples, tmp_path)


def test_without_output_dir_the_run_fails_before_its_rows(iso, examples, capsys):
    with pytest.raises(TypeError, match="output"):
        iso.run_single_file(str(examples / "glycopeptides.txt"), None, str(examples / "params.txt"))
    assert capsys.readouterr().err == ""


def test_batch_calls_the_current_run_single_file(iso, examples, tmp_path, monkeypatch):
    calls = []
    monkeypatch.setattr(iso, "run_single_file", lambda **kwargs: calls.append(kwargs))
    iso.run_multiple_files(str(examples / "batch"), "out", "params")
    tables = [str(examples / "batch" / name) for name in ("fetuin.txt", "tmt_igg.txt")]
    assert sorted(c["input_file"] for c in calls) == tables
    assert all(c["output_dir"] == "out" and c["param_file"] == "params" for c in calls)
    with pytest.raises(FileNotFoundError) as info:
        iso.run_multiple_files(str(tmp_path / "none"), "out", "params")
    assert info.value.filename == str(tmp_path / "none")


def test_main_uses_the_current_globals(iso, monkeypatch):
    calls = []
    monkeypatch.setattr(iso, "run_multiple_files", lambda **kw: calls.append(("dir", kw)))
    monkeypatch.setattr(iso, "run_single_file", lambda **kw: calls.append(("file", kw)))
    monkeypatch.setattr(iso.sys, "argv", ["isotope", "-i", "t.txt", "-d", "dir", "-p", "p.txt"])
    iso.main()
    monkeypatch.setattr(iso.sys, "argv", ["isotope", "-i", "t.txt", "-p", "p.txt", "-o", "o"])
    iso.main()
    assert calls == [("dir", {"input_dir": "dir", "output_dir": None, "param_file": "p.txt"}),
                     ("file", {"input_file": "t.txt", "output_dir": "o", "param_file": "p.txt"})]

    class Fixed(argparse.ArgumentParser):
        def parse_args(self, *args, **kwargs):
            return argparse.Namespace(input_dir=None, input_file="fixed", output_dir=None, param_file="q")

    monkeypatch.setattr(iso, "MyParser", Fixed)
    iso.main()
    assert calls[-1] == ("file", {"input_file": "fixed", "output_dir": None, "param_file": "q"})


def test_messages_keep_their_order_in_one_stream(examples, tmp_path):
    # The start message through sys.stdout comes before the counter through
    # sys.stderr, when both go to one pipe: each write is flushed.
    code = "import sys, morvandel.plugins.isotope as m; m.run_single_file(*sys.argv[1:])"
    proc = subprocess.run([sys.executable, "-c", code, str(examples / "glycopeptides.txt"), str(tmp_path),
                           str(examples / "params.txt")], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          env={k: v for k, v in os.environ.items() if k != "PYTHONUNBUFFERED"})
    assert proc.returncode == 0, proc.stdout.decode()
    assert proc.stdout.startswith(b"Build isotope patterns for ") and b"\n100%|" in proc.stdout


def test_row_notes_are_warnings_and_strict_mode_raises(iso, tmp_path):
    table = tmp_path / "s.txt"
    table.write_text("PepSeq N H F S G\nEEQYNSTYR 4 3 1 0 0\nEEQYNSTYr 4 3 1 0 0\n")
    params = tmp_path / "p.txt"
    params.write_text("isotope_peaks_num = 5\n")
    assert issubclass(iso.IsotopeInputWarning, UserWarning)
    with pytest.warns(iso.IsotopeInputWarning) as caught:
        iso.run_single_file(str(table), str(tmp_path), str(params))
    assert [str(w.message) for w in caught] == [
        "PepSeq 'EEQYNSTYr' has 'r' at character 9, which is neither a residue nor a bracketed modification; "
        "it was skipped, line 3 of %s" % table]
    params.write_text("isotope_peaks_num = 5\nisotope_strict = true\n")
    (tmp_path / "s_isotope_pyopenms.txt").unlink()
    with pytest.raises(ValueError, match=r"isotope_strict = true and 1 row of .* rests on a guess:\n  line 3: "):
        iso.run_single_file(str(table), str(tmp_path), str(params))
    assert not (tmp_path / "s_isotope_pyopenms.txt").exists()


def test_batch_goes_on_past_failures_when_asked(iso, tmp_path, capsys):
    (tmp_path / "in").mkdir()
    for name, pep in (("a.txt", "GG"), ("b.txt", "GXG"), ("c.txt", "GG"), ("d.txt", "GZ")):
        (tmp_path / "in" / name).write_text("PepSeq N H F S G\n%s 1 0 0 0 0\n" % pep)
    params = tmp_path / "p.txt"
    params.write_text("isotope_peaks_num = 5\nisotope_on_error = continue\n")
    with pytest.raises(KeyError) as info:
        iso.run_multiple_files(str(tmp_path / "in"), str(tmp_path), str(params))
    assert info.value.args == ("X",)  # the first failure
    assert info.value.__notes__[-1].startswith("2 of 4 tables failed:\n  b.txt: KeyError: 'X'\n  d.txt: KeyError: 'Z'")
    assert sorted(p.name for p in tmp_path.glob("*_isotope_pyopenms.txt")) == ["a_isotope_pyopenms.txt",
                                                                             "c_isotope_pyopenms.txt"]
    assert "isotope: 2 tables written, 2 failed: b.txt (KeyError: 'X'), d.txt (KeyError: 'Z')" in capsys.readouterr().err
