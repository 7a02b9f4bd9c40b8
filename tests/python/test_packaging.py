"""pip install of a fresh clone, offline, as the README shows it:

    python3 -m venv --system-site-packages V
    V/bin/pip install --no-build-isolation .

then the module imports from another folder (not from a build tree: no
PYTHONPATH) with its stubs beside it, and the installed isotope program
writes the same table as the installed module. The clone holds the
committed state of the repository. CMake builds the extension and the
program only, with two jobs: a few minutes, so CTest runs this file on its
own (python_packaging) rather than within python_tests.
"""

import os
import pathlib
import shutil
import subprocess

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
OUT_NAME = "glycopeptides_isotope_pyopenms.txt"

PROBE = """
import pathlib, sys
import morvandel.plugins.isotope as m
folder = pathlib.Path(m.__file__).parent
print(folder)
print(sorted(p.name for p in folder.iterdir() if p.suffix in ('.py', '.pyi', '.typed', '.so')))
m.run_single_file(sys.argv[1], sys.argv[2], sys.argv[3])
"""


@pytest.mark.skipif(shutil.which("git") is None or not (REPO / ".git").exists(), reason="needs a git checkout")
def test_pip_install_of_a_fresh_clone(tmp_path, examples):
    source, venv, elsewhere = tmp_path / "source", tmp_path / "V", tmp_path / "elsewhere"
    subprocess.run(["git", "clone", "-q", str(REPO), str(source)], check=True)
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "PYTHONHOME")}
    env.update(CMAKE_BUILD_PARALLEL_LEVEL="2", PIP_NO_CACHE_DIR="1", PIP_DISABLE_PIP_VERSION_CHECK="1")
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", str(venv)], check=True, env=env)
    install = subprocess.run([str(venv / "bin" / "pip"), "install", "--no-build-isolation", "."], cwd=source,
                             env=env, capture_output=True, encoding="utf-8")
    assert install.returncode == 0, install.stdout[-3000:] + install.stderr[-3000:]
    # Only what is installed was configured: no tests, no benchmarks.
    caches = list((source / "build-pip").glob("**/CMakeCache.txt"))
    assert len(caches) == 1
    cache = caches[0].read_text()
    assert "ISOTOPE_TESTS:BOOL=OFF" in cache and "ISOTOPE_BENCH:BOOL=OFF" in cache

    for side in ("module", "program"):
        (elsewhere / side).mkdir(parents=True)
    probe = subprocess.run([str(venv / "bin" / "python"), "-c", PROBE, str(examples / "glycopeptides.txt"),
                            str(elsewhere / "module"), str(examples / "params.txt")],
                           cwd=elsewhere, env=env, capture_output=True, encoding="utf-8")
    assert probe.returncode == 0, probe.stderr
    folder, files = probe.stdout.splitlines()[:2]
    assert pathlib.Path(folder).is_relative_to(venv)
    assert eval(files) == ["__init__.py", "_isotope.cpython-311-x86_64-linux-gnu.so", "_plot.py", "isotope.py",
                           "isotope.pyi", "py.typed"]

    program = venv / "bin" / "isotope"
    help_run = subprocess.run([str(program), "-h"], cwd=elsewhere, env=env, capture_output=True, encoding="utf-8")
    assert help_run.returncode == 0 and help_run.stdout.startswith("usage: isotope [-h]")
    subprocess.run([str(program), "-i", str(examples / "glycopeptides.txt"), "-o", str(elsewhere / "program"),
                    "-p", str(examples / "params.txt")], cwd=elsewhere, env=env, check=True, capture_output=True)
    assert (elsewhere / "program" / OUT_NAME).read_bytes() == (elsewhere / "module" / OUT_NAME).read_bytes()
