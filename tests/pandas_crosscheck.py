#!/usr/bin/python3
"""Differential check of the table layer against pandas.

Generates random small tables from a vocabulary of tricky cells, line ends,
blanks and quoting, and records for each what pandas makes of it with
read_csv(path, sep=r"\\s+") (or sep="\\t", ",", ";" with --sep tab,
comma, semicolon: the isotope_separator values) followed by
to_csv(sep="\\t", index=False). The C++ unit tests (test_table.cpp) run
this with a fixed seed and compare their own output byte for byte; it can
also be run by hand:

    /usr/bin/python3 tests/pandas_crosscheck.py OUT_DIR [--count N] [--seed S] [--sep SEP]

For case k it writes OUT_DIR/case_k.txt (the input) and either
case_k.expected (the bytes pandas writes) or case_k.error (one word: the
class of the exception pandas raises, or "index" when pandas would take
leading columns as an index, which the tool refuses).

Floats are read correctly rounded by the tool, while pandas' parser can be
a few units in the last place off for long literals; where a float cell
differs from the correctly rounded value of its text by such a tiny amount,
the expected output uses the correctly rounded value.
"""

import argparse
import math
import os
import random
import re
import sys
import warnings

import pandas as pd

# Cells by family; each is raw bytes as they appear in a field.
INTS = [b"0", b"1", b"42", b"007", b"+5", b"-0", b"-12", b"123456789",
        b"9223372036854775807", b"-9223372036854775808", b"-9223372036854775807"]
BIG_INTS = [b"9223372036854775808", b"18446744073709551615", b"18446744073709551616",
            b"-9223372036854775809", b"99999999999999999999999"]
FLOATS = [b"1.5", b"1.", b".5", b"-.25", b"1e5", b"1E+05", b"-0.0", b"+.5e-3", b"1e-5",
          b"1e16", b"1e15", b"0.1", b"2.5e-300", b"1e308", b"0e308", b"1e-400", b"-1e-400",
          b"123.456", b"1e00000000000000001", b"inf", b"-Infinity", b"INF", b"+inf",
          b"0.30000000000000004", b"12345678901234567890.5"]
BOOLS = [b"True", b"False", b"TRUE", b"false", b"tRuE", b"FALSE"]
MISSING = [b"NA", b"nan", b"NaN", b"NULL", b"null", b"#N/A", b"-nan", b"n/a", b"<NA>",
           b"1.#IND", b'"#N/A N/A"', b'""']
TEXT = [b"x", b"abc", b"1_000", b"0x10", b"1d5", b"1e", b"NAN", b"None", b"0e309",
        b"1e400", b"0.1e310", b"1e000000000000000001", b"ab\"cd", b"\xc3\xa9t\xc3\xa9",
        b"\xe2\x80\x93", b"N{4}H{5}", b"1.5.2", b"--1", b"\x0c1", b"1\x0b", b"_",
        b"\xc2\xa0", b"yes", b"'q'"]
QUOTED = [b'"a b"', b'"x\ty"', b'"a""b"', b'"line\nbreak"', b'"cr\rx"', b'"crlf\r\nx"',
          b'" 1 "', b'"ab"cd', b'"NA"', b'" NA"', b'"1e5"', b'"True "', b'""""',
          b'"\tTrue"']
ODD = [b"1\x002", b"\x00", b"a\x00b", b"\x00x"]

FAMILIES = {
    "int": INTS, "big": BIG_INTS, "float": FLOATS, "bool": BOOLS, "missing": MISSING,
    "text": TEXT, "quoted": QUOTED, "odd": ODD,
}
ALL = [c for cells in FAMILIES.values() for c in cells]

# With a separator byte, cells may also be empty or hold blanks unquoted.
SEPARATED_EXTRA = {
    "missing": [b"", b""], "text": [b"a b", b"two  words", b"C[Iodoacetamide derivative]K", b"\t x"],
    "int": [b" 1", b"2 ", b" -3 "], "float": [b" 1.5", b"2e3 "], "bool": [b" True", b"False "],
}
SEPARATORS = {"whitespace": None, "tab": b"\t", "comma": b",", "semicolon": b";"}


class Vocabulary:
    """The cells a table draws from: the families above, extended for a separator byte."""

    def __init__(self, sep):
        self.families = {k: v + (SEPARATED_EXTRA.get(k, []) if sep else []) for k, v in FAMILIES.items()}
        self.all = [c for cells in self.families.values() for c in cells]
        self.sep = sep

# Column profiles: mostly one family, with some missing cells or noise.
PROFILES = [
    ("int",), ("int", "missing"), ("float",), ("float", "int"), ("float", "missing"),
    ("bool",), ("bool", "missing"), ("bool", "int"), ("text",), ("text", "missing"),
    ("big",), ("big", "int"), ("big", "missing"), ("missing",), ("quoted", "text"),
    ("int", "odd"), ("any",),
]

HEADER_NAMES = [b"a", b"b", b"a.1", b"a.2", b"x", b"NA", b"nan", b'""', b'"a b"',
                b'"Unnamed: 1"', b"Unnamed:", b"\xc3\xa9", b"1", b"True", b'"q""q"']


def cell(rng, profile, vocab, noise=0.05):
    if rng.random() < noise or profile == ("any",):
        return rng.choice(vocab.all)
    return rng.choice(vocab.families[rng.choice(profile)])


def join_row(rng, cells, seps):
    out = b""
    if rng.random() < 0.15:
        out += rng.choice([b" ", b"\t", b"  "])
    for i, c in enumerate(cells):
        if i:
            out += rng.choice(seps)
        out += c
    if rng.random() < 0.15:
        out += rng.choice([b" ", b"\t", b" \t"])
    return out


def small_table(rng, vocab):
    ncols = rng.randint(1, 5)
    nrows = rng.randint(0, 8)
    if rng.random() < 0.7:
        header = [b"c%d" % i for i in range(ncols)]
    else:
        header = [rng.choice(HEADER_NAMES) for _ in range(ncols)]
    profiles = [rng.choice(PROFILES) for _ in range(ncols)]
    rows = [header]
    for _ in range(nrows):
        row = [cell(rng, p, vocab) for p in profiles]
        r = rng.random()
        if r < 0.08 and ncols > 1:
            row = row[:rng.randint(1, ncols - 1)]  # fewer fields
        elif r < 0.10:
            row = row + [b"1"]  # more fields
        rows.append(row)
    return rows


def render(rng, rows, sep=None):
    eol_style = rng.choice([b"\n", b"\n", b"\r\n", b"\r", None])
    seps = rng.choice([[b" "], [b"\t"], [b" ", b"\t", b"  ", b" \t "]]) if sep is None else [sep]
    out = b"\xef\xbb\xbf" if rng.random() < 0.05 else b""
    for i, row in enumerate(rows):
        if rng.random() < 0.1:
            out += rng.choice([b"", b"  ", b"\t"]) + (eol_style or rng.choice([b"\n", b"\r\n", b"\r"]))
        out += join_row(rng, row, seps)
        last = i == len(rows) - 1
        if not last or rng.random() < 0.85:
            out += eol_style or rng.choice([b"\n", b"\r\n", b"\r"])
    if rng.random() < 0.03:
        out += rng.choice([b'"open', b"\xff", b"a\xe2\x82"])  # unterminated quote, bad UTF-8
    if sep is not None:
        out = after_lone_cr(out, sep)
    return out


def after_lone_cr(data, sep):
    """Drops the blanks that start a line after a lone CR in a separated table.

    On such a line pandas' tokenizer backs up to the last LF before it (it
    takes only LF for a line end there) and reads the lines since then
    again, or fails; the tool reads the line as it stands. The case is left
    out of the comparison.
    """
    blanks = b"[ ]+" if sep == b"\t" else b"[ \t]+"
    return re.sub(b"\r(?!\n)" + blanks, b"\r", data)


def wide_table(rng, vocab):
    # 65536 columns make pandas type blocks of 8 rows: each block of the
    # first columns follows its own profile, the others hold "1".
    ncols = 65536
    nblocks = rng.randint(2, 4)
    live = 4
    sep = vocab.sep or b" "
    header = sep.join(b"c%d" % i for i in range(ncols)) + b"\n"
    filler = (sep + b"1") * (ncols - live)
    body = []
    for _ in range(nblocks):
        profiles = [rng.choice(PROFILES[:14]) for _ in range(live)]
        for _ in range(8):
            cells = [cell(rng, p, vocab, noise=0.0) for p in profiles]
            cells = [c if c not in (b'""', b"") else b"NA" for c in cells]
            body.append(sep.join(cells) + filler + b"\n")
    return header + b"".join(body[:len(body) - rng.randint(0, 5)])


def correctly_rounded(df, raw):
    """Replaces float cells that pandas read a few ulps off."""
    for c in range(df.shape[1]):
        col = df.iloc[:, c]
        if col.dtype != float and col.dtype != object:
            continue
        for i in range(len(col)):
            v = col.iat[i]
            r = raw.iat[i, c] if i < raw.shape[0] else None
            if not isinstance(v, float) or math.isnan(v) or not isinstance(r, str):
                continue
            try:
                f = float(r)
            except ValueError:
                continue
            if f != v and math.isfinite(f) and math.isclose(f, v, rel_tol=1e-14, abs_tol=0.0):
                df.iat[i, c] = f


def pandas_result(path, sep=None):
    """The bytes pandas writes for the table, or the name of its error."""
    sep = r"\s+" if sep is None else sep.decode()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            df = pd.read_csv(path, sep=sep)
        except Exception as e:  # noqa: BLE001 - the class name is the result
            return None, type(e).__name__
        if len(df) and not isinstance(df.index, pd.RangeIndex):
            return None, "index"
        raw = pd.read_csv(path, sep=sep, dtype=str, na_filter=False)
    correctly_rounded(df, raw)
    out = path + ".pandas_out"
    df.to_csv(out, sep="\t", index=False)
    with open(out, "rb") as f:
        data = f.read()
    os.remove(out)
    return data, None


def write_cases(out_dir, count, seed, wide=4, sep=None):
    rng = random.Random(seed)
    vocab = Vocabulary(sep)
    os.makedirs(out_dir, exist_ok=True)
    for k in range(count + wide):
        data = wide_table(rng, vocab) if k >= count else render(rng, small_table(rng, vocab), sep)
        path = os.path.join(out_dir, "case_%d.txt" % k)
        with open(path, "wb") as f:
            f.write(data)
        expected, error = pandas_result(path, sep)
        if error is None:
            with open(path[:-4] + ".expected", "wb") as f:
                f.write(expected)
        else:
            with open(path[:-4] + ".error", "w") as f:
                f.write(error + "\n")
    return count + wide


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("out_dir")
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--seed", type=int, default=2024)
    ap.add_argument("--wide", type=int, default=4, help="cases wide enough for block typing")
    ap.add_argument("--sep", choices=list(SEPARATORS), default="whitespace",
                    help="the isotope_separator the tables are written and read with")
    args = ap.parse_args(argv)
    n = write_cases(args.out_dir, args.count, args.seed, args.wide, SEPARATORS[args.sep])
    print(n)


if __name__ == "__main__":
    main(sys.argv[1:])
