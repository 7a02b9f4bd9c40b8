"""The Python main against the native program on the command-line cases.

Both run as subprocesses with the program name "-c" (python -c names itself
so; the native program is started with argv[0] = "-c") and COLUMNS=80, each
in its own folder with an empty out/, so that their standard output, standard
error, exit status and output files can be compared byte for byte. The
progress counter's clock and rate are masked. When the work fails, Python
prints a traceback where the native program prints one line: only the final
"Type: message" line is compared then.
"""

import os
import re
import subprocess

import pytest

MAIN = "import morvandel.plugins.isotope as m; m.main()"

TABLE = ["glycopeptides_isotope_pyopenms.txt"]
BATCH = ["fetuin_isotope_pyopenms.txt", "tmt_igg_isotope_pyopenms.txt"]

# Case: (arguments, exit status, output files).
CASES = {
    "no arguments": ([], 2, []),
    "-p alone": (["-p", "{ex}/params.txt"], 2, []),
    "-i without -p": (["-i", "{ex}/glycopeptides.txt", "-o", "out"], 2, []),
    "-d without -p": (["-d", "{ex}/batch", "-o", "out"], 2, []),
    "-d and -i: only the folder": (["-d", "{ex}/batch", "-i", "{ex}/glycopeptides.txt", "-p", "{ex}/params.txt",
                                    "-o", "out"], 0, BATCH),
    "one table": (["-i", "{ex}/glycopeptides.txt", "-p", "{ex}/params.txt", "-o", "out"], 0, TABLE),
    "attached values": (["-i{ex}/glycopeptides.txt", "-p{ex}/params.txt", "-oout"], 0, TABLE),
    "no -o: failure before the rows": (["-i", "{ex}/glycopeptides.txt", "-p", "{ex}/params.txt"], 1, []),
    "empty -p value": (["-i", "{ex}/glycopeptides.txt", "-p", "", "-o", "out"], 1, []),
    "argument without option": (["stray", "-p", "{ex}/params.txt"], 2, []),
    "option without value": (["-p", "{ex}/params.txt", "-i"], 2, []),
    "-h": (["-h"], 0, []),
    "--help beside valid options": (["-i", "{ex}/glycopeptides.txt", "-p", "{ex}/params.txt", "-o", "out",
                                     "--help"], 0, []),
}

CLOCK = re.compile(rb"\[\d\d:\d\d<[^\]]*\]")


def run(side, command, args, cwd):
    (cwd / "out").mkdir(parents=True)
    env = dict(os.environ, COLUMNS="80")
    if side == "native":
        proc = subprocess.run(["-c", *args], executable=command, capture_output=True, env=env, cwd=cwd)
    else:
        proc = subprocess.run([command, "-c", MAIN, *args], capture_output=True, env=env, cwd=cwd)
    files = {p.name: p.read_bytes() for p in (cwd / "out").iterdir()}
    return proc, files


@pytest.mark.parametrize("case", CASES)
def test_main_behaves_as_the_native_program(case, native, examples, tmp_path):
    template, status, outputs = CASES[case]
    args = [a.replace("{ex}", str(examples)) for a in template]
    n, n_files = run("native", native, args, tmp_path / "native")
    p, p_files = run("python", "/usr/bin/python3", args, tmp_path / "python")

    assert (n.returncode, p.returncode) == (status, status), p.stderr.decode()
    assert n.stdout == p.stdout
    assert n_files == p_files
    if status == 1:
        native_line = n.stderr.splitlines()[-1]
        assert native_line == b"-c: " + p.stderr.splitlines()[-1]
    else:
        assert CLOCK.sub(b"[]", n.stderr) == CLOCK.sub(b"[]", p.stderr)

    assert sorted(p_files) == outputs
    if status == 2 or "-h" in case:
        assert n.stdout.startswith(b"usage: -c [-h] [-d INPUT_DIR]")
