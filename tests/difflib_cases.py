#!/usr/bin/python3
"""Random word lists with the names Python's difflib.get_close_matches
chooses from them, for the C++ port's differential test.

    difflib_cases.py --seed S --cases N

Prints one case per record (records end in \\x1e, fields in \\x1f; a list is
its length, then its items, joined by \\x1d): n, cutoff, word, the possibilities, the
expected matches.
Words mix a small alphabet (so that matches and ties are common), non-ASCII
letters, mutations of the word, duplicates, and words of 200 or more
characters, where difflib's junk heuristic drops popular characters.
"""
import argparse
import difflib
import random

ALPHABET = "abcdeABC-:>é中ü"


def word(rng, longest=12):
    if rng.random() < 0.04:
        return "".join(rng.choice("abc" if rng.random() < 0.5 else ALPHABET) for _ in range(rng.randint(195, 260)))
    return "".join(rng.choice(ALPHABET[: rng.randint(3, len(ALPHABET))]) for _ in range(rng.randint(0, longest)))


def mutate(rng, w):
    s = list(w)
    for _ in range(rng.randint(1, 3)):
        op = rng.randrange(3)
        k = rng.randrange(len(s) + 1)
        if op == 0:
            s.insert(k, rng.choice(ALPHABET))
        elif s and op == 1:
            del s[min(k, len(s) - 1)]
        elif s:
            s[min(k, len(s) - 1)] = rng.choice(ALPHABET)
    return "".join(s)


def items(words):
    """A list as its length, then its items, joined by \\x1d."""
    return "\x1d".join([str(len(words))] + words)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--cases", type=int, default=3000)
    a = ap.parse_args()
    rng = random.Random(a.seed)
    out = []
    for _ in range(a.cases):
        w = word(rng)
        poss = []
        for _ in range(rng.randint(0, 30)):
            r = rng.random()
            poss.append(mutate(rng, w) if r < 0.4 else rng.choice(poss) if r < 0.5 and poss else word(rng))
        n = rng.choice([3, 3, 3, 1, 2, 5])
        cutoff = rng.choice([0.6, 0.6, 0.6, 0.0, 0.3, 0.75, 1.0])
        got = difflib.get_close_matches(w, poss, n=n, cutoff=cutoff)
        out.append("\x1f".join([str(n), repr(cutoff), w, items(poss), items(got)]) + "\x1e")
    print("".join(out), end="")


if __name__ == "__main__":
    main()
