"""Shared fixtures of the Python module's tests.

CTest runs them with PYTHONPATH at the build tree's package folder,
ISOTOPE_NATIVE naming the native program and ISOTOPE_EXAMPLES the example
data (see python/CMakeLists.txt).
"""

import os
import pathlib
import subprocess
import sys

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
# `python3 -m pytest` started in the repository puts the source tree first on
# sys.path, and its morvandel/ holds no extension module: drop it, so that
# PYTHONPATH decides which build is tested.
sys.path[:] = [p for p in sys.path if pathlib.Path(p or ".").resolve() != REPO]

import morvandel.plugins.isotope as iso_module  # noqa: E402

EXAMPLES = pathlib.Path(os.environ.get("ISOTOPE_EXAMPLES", REPO / "examples"))


@pytest.fixture
def iso():
    return iso_module


@pytest.fixture
def examples():
    return EXAMPLES


@pytest.fixture
def native():
    path = os.environ.get("ISOTOPE_NATIVE")
    if not path:
        pytest.skip("ISOTOPE_NATIVE (the native isotope program) is not set")
    return path


def run_python(code, args=(), env=None):
    """Runs code with `python -c` (so argparse's program name is "-c"), in a
    folder without a morvandel/ of its own."""
    full_env = dict(os.environ, COLUMNS="80", **(env or {}))
    return subprocess.run([sys.executable, "-c", code, *args], capture_output=True, env=full_env,
                          cwd=pathlib.Path(__file__).parent)


@pytest.fixture
def python_run():
    return run_python
