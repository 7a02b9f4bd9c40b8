"""The module as imported: its namespace, reference tables and import rules."""

import argparse
import collections
import importlib
import json

import numpy
import pytest

import morvandel.plugins.utils

OPERATIONS = [
    "calc_counter_comp", "calc_seq_comp", "mods_counter", "calc_mod_comp", "calc_pep_comp",
    "component_counter", "calc_iso_dist", "glycan_counter", "calc_glycan_comp", "comp_to_str",
    "read_param", "run_single_file", "run_multiple_files", "main",
]
TABLES = ["mass_d", "mod_d", "gly_comp", "aa_comp", "mod_comp"]
HEAD = ["re", "os", "sys", "np", "Composition", "freeze_support", "argparse", "Counter", "path_full_split"]


def public_names(namespace):
    return [k for k in namespace if not (k.startswith("__") and k.endswith("__"))]


def test_namespace_order_and_bindings(iso):
    names = public_names(vars(iso))
    assert names[:len(HEAD + TABLES) + 1 + len(OPERATIONS)] == HEAD + TABLES + ["MyParser"] + OPERATIONS
    assert iso.np is numpy and iso.argparse is argparse and iso.Counter is collections.Counter
    assert iso.path_full_split is morvandel.plugins.utils.path_full_split
    for name in ("pyopenms", "pd", "mass", "monosaccharides", "tqdm"):
        assert not hasattr(iso, name)
    for obj in (iso.main, iso.MyParser, iso.Composition, iso.calc_seq_comp):
        assert obj.__module__ == "morvandel.plugins.isotope"


def test_tables_are_shared_dicts_of_compositions(iso):
    assert list(iso.mass_d) == ["aa_comp", "mod_comp", "gly_comp", "mic"]
    for name in ("aa_comp", "mod_comp", "gly_comp"):
        assert iso.mass_d[name] is getattr(iso, name)
        assert all(isinstance(v, iso.Composition) for v in iso.mass_d[name].values())
    assert len(iso.aa_comp) == 25 and iso.aa_comp["W"] == {"C": 11, "H": 10, "N": 2, "O": 1}
    assert list(iso.mod_comp) == ["cam", "Carbamidomethyl", "ox", "Oxidation", "tmt10", "p", "tmt11", "guan"]
    assert list(iso.gly_comp) == ["N", "H", "F", "S", "G", "H[6P]"]
    mic = iso.mass_d["mic"]
    assert list(mic) == ["H2O", "GN", "GNF", "GN2"] and all(type(v) is float for v in mic.values())
    assert mic["H2O"] == pytest.approx(18.0105646837) and mic["GN2"] == pytest.approx(2 * mic["GN"])
    assert len(iso.mod_d) == 5 and all(type(k) is str and type(v) is str for k, v in iso.mod_d.items())
    assert iso.mod_d["Carbamidomethyl"] == "cam"


FALLBACK_PROBE = """
import json, morvandel.plugins.isotope as m
names = [k for k in vars(m) if not k.startswith("__")]
db = None
if hasattr(m, "db"):
    rec = m.db.by_title("Oxidation")
    db = [type(rec["composition"]).__name__, dict(rec["composition"])]
print(json.dumps({"names": names[9:13], "mod": {k: dict(v) for k, v in m.mod_comp.items()},
                  "gly": list(m.gly_comp), "db": db, "same": m.mass_d["mod_comp"] is m.mod_comp}))
"""


@pytest.mark.parametrize("fail_at", ["cam", "H[6P]"])
def test_unimod_fallback_through_the_seam(python_run, fail_at):
    proc = python_run(FALLBACK_PROBE, env={"MORVANDEL_ISOTOPE_TEST_FAIL_LITERAL_AT": fail_at})
    assert proc.returncode == 0, proc.stderr.decode()
    got = json.loads(proc.stdout)
    assert got["names"] == ["mass_d", "db", "mod_d", "gly_comp"] and got["same"]
    assert got["db"] == ["Composition", {"O": 1}]
    if fail_at == "cam":
        # Nothing literal was stored: the Unimod records fill mod_comp.
        assert list(got["mod"]) == ["cam", "Carbamidomethyl", "ox", "Oxidation", "tmt10", "guan"]
        assert got["mod"]["cam"] == {"H": 3, "C": 2, "N": 1, "O": 1}
        assert got["mod"]["tmt10"]["C[13]"] == 4 and got["mod"]["guan"] == {"H": 2, "C": 1, "N": 2}
        assert got["gly"] == []
    else:
        assert list(got["mod"]) == ["cam", "Carbamidomethyl", "ox", "Oxidation", "tmt10", "p", "tmt11", "guan"]
        assert got["gly"] == ["N", "H", "F", "S", "G"]


def test_unimod_db_refuses_unknown_titles(python_run):
    code = ("import morvandel.plugins.isotope as m\n"
            "try:\n m.db.by_title('NoSuchMod')\nexcept KeyError as e:\n print(e.args)")
    proc = python_run(code, env={"MORVANDEL_ISOTOPE_TEST_FAIL_LITERAL_AT": "cam"})
    assert proc.stdout.decode().strip() == "('NoSuchMod',)", proc.stderr.decode()


def test_import_runs_nothing_and_is_cached(iso, python_run):
    # With -h on the command line, a call of main would print the help and exit.
    proc = python_run("import morvandel.plugins.isotope", ["-h", "-i", "x"])
    assert (proc.returncode, proc.stdout, proc.stderr) == (0, b"", b"")
    assert importlib.import_module("morvandel.plugins.isotope") is iso
    from morvandel.plugins import isotope as again
    assert again is iso


def test_my_parser_prints_help_after_the_error(iso, capsys):
    assert issubclass(iso.MyParser, argparse.ArgumentParser)
    assert public_names(vars(iso.MyParser)) == ["error"]
    parser = iso.MyParser(prog="prog", description="isotope")
    with pytest.raises(SystemExit) as exit_info:
        parser.error("bad")
    out, err = capsys.readouterr()
    assert exit_info.value.code == 2
    assert err == "error: bad\n" and out.startswith("usage: prog [-h]") and "isotope" in out


@pytest.mark.parametrize("path, parts", [
    ("data/s-01.glyco.txt", ("data", "s-01.glyco", ".txt")),
    ("/x/.profile", ("/x", ".profile", "")),
    ("name", ("", "name", "")),
])
def test_path_full_split(iso, path, parts):
    assert iso.path_full_split(path) == parts


def test_docstring_examples_run(iso):
    import doctest
    result = doctest.testmod(iso, optionflags=doctest.ELLIPSIS)
    assert result.failed == 0 and result.attempted >= 5
