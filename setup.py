"""Builds the compiled parts of the package with CMake for pip install.

setuptools copies the pure-Python files (python/morvandel); the build_ext
step below configures CMake without the tests, the benchmarks and the fuzz
targets, builds only the extension module (morvandel.plugins._isotope) and
the native isotope program, puts the module where setuptools expects it and
installs the program as <prefix>/bin/isotope. The metadata is in
pyproject.toml. The build goes to build-pip/, away from the CMake build/
folder of a checkout; a second install in the same checkout rebuilds only
what changed. CMAKE_BUILD_PARALLEL_LEVEL sets the number of compile jobs
(default: the machine's cores).
"""

import os
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = pathlib.Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    """build_ext by CMake: one configure and one build for the extension and the program."""

    def run(self):
        build_dir = pathlib.Path(self.build_temp).resolve() / "cmake"
        build_dir.mkdir(parents=True, exist_ok=True)
        subprocess.run(["cmake", "-S", str(SOURCE), "-B", str(build_dir),
                        "-DCMAKE_BUILD_TYPE=Release",
                        "-DISOTOPE_PYTHON=ON", "-DISOTOPE_TESTS=OFF", "-DISOTOPE_BENCH=OFF",
                        "-DISOTOPE_FUZZ=OFF", "-DPython3_EXECUTABLE=" + sys.executable], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "isotope_python", "isotope",
                        "-j", jobs], check=True)

        (ext,) = self.extensions
        built = build_dir / "python" / "morvandel" / "plugins" / pathlib.Path(self.get_ext_filename(ext.name)).name
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(built, target)

        # The program is a binary, not a script that setuptools could rewrite:
        # it goes to <prefix>/bin as a data file, keeping its executable mode.
        program = build_dir / "isotope"
        self.distribution.data_files = [("bin", [str(program)])]


setup(
    ext_modules=[Extension("morvandel.plugins._isotope", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": "build-pip"}},
)
