#!/usr/bin/python3
"""Keeps every function short enough to read at a glance.

Reads the C++ files of src/, apps/ and python/src/ and reports each
function whose body holds more than 60 lines: the lines strictly between the
line of its opening brace and the line of its closing brace, blank lines and
comments included. A lambda, a local class or a nested block counts toward the
function that holds it; a lambda at namespace scope is a function of its own.
The one exception is bind_composition, the binding's definition chain of the
Composition class (one .def per method, nothing to split but the chain).

The reading follows the brace structure: comments, string and character
literals (raw strings too) and preprocessor lines are blanked first, so that
a brace inside them does not count; at namespace and class scope, a brace
opens a function body when it follows a parameter list (with its
qualifiers, a trailing return type or a constructor's initializer list) or a
lambda's capture list.

    check_function_size.py [ROOT]       check the tree at ROOT (default: the repository)
    check_function_size.py --self-test  show that a long function is caught
"""
import pathlib
import re
import sys
import tempfile

LIMIT = 60
FOLDERS = ("src", "apps", "python/src")
SUFFIXES = (".cpp", ".hpp", ".h", ".cc", ".inc")
EXEMPT = {"bind_composition"}

# After a parameter list, before the body.
QUALIFIERS = {"const", "noexcept", "override", "final", "mutable", "volatile", "&", "&&",
              "constexpr", "try"}
TOKEN = re.compile(r"[A-Za-z_]\w*|::|->|&&|\d[\w.']*|\S")
RAW_STRING = re.compile(r'R"([^()\\\s]{0,16})\(')


def blank(text):
    """The text with comments, literals and preprocessor lines replaced by
    spaces; line breaks are kept, so that line numbers hold."""
    out = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c == "#":
            # A preprocessor line, with its continuation lines.
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    out.append(" \n")
                    i += 2
                    continue
                out.append(" ")
                i += 1
            continue
        if c == "\n":
            line_start = True
            out.append(c)
            i += 1
            continue
        if not c.isspace():
            line_start = False
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
            continue
        if text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
            continue
        raw = RAW_STRING.match(text, i)
        if raw and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            end = text.find(")" + raw.group(1) + '"', raw.end())
            j = n if end < 0 else end + len(raw.group(1)) + 2
            out.append('""' + re.sub(r"[^\n]", " ", text[i + 2:j]))
            i = j
            continue
        if c in "\"'":
            if c == "'" and i > 0 and text[i - 1].isalnum():
                out.append(c)  # a digit separator: 1'000'000
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + c)
            i = j
            continue
        out.append(c)
        i += 1
    return "".join(out)


def tokens(text):
    """(token, line) pairs of blanked text."""
    starts = [0]
    for k, ch in enumerate(text):
        if ch == "\n":
            starts.append(k + 1)
    result = []
    row = 0
    for m in TOKEN.finditer(text):
        while row + 1 < len(starts) and starts[row + 1] <= m.start():
            row += 1
        result.append((m.group(), row + 1))
    return result


def matching(toks, i):
    """The index of the bracket closing the one at toks[i]."""
    pairs = {"{": "}", "(": ")", "[": "]"}
    opening, closing = toks[i][0], pairs[toks[i][0]]
    depth = 0
    for k in range(i, len(toks)):
        t = toks[k][0]
        if t == opening:
            depth += 1
        elif t == closing:
            depth -= 1
            if depth == 0:
                return k
    return len(toks) - 1


def opening_of(head, k):
    """The index in head of the bracket that the one at head[k] closes."""
    pairs = {")": "(", "]": "["}
    closing, opening = head[k], pairs[head[k]]
    depth = 0
    for j in range(k, -1, -1):
        if head[j] == closing:
            depth += 1
        elif head[j] == opening:
            depth -= 1
            if depth == 0:
                return j
    return -1


def init_list_colon(head):
    """The index of the ':' opening a constructor's initializer list in head
    (a lone ':' at the outer level, right after a parameter list and its
    qualifiers), or -1."""
    depth = 0
    for k, t in enumerate(head):
        if t in "([{":
            depth += 1
        elif t in ")]}":
            depth -= 1
        elif t == ":" and depth == 0:
            j = k - 1
            while j >= 0 and head[j] in QUALIFIERS:
                j -= 1
            return k if j >= 0 and head[j] == ")" else -1
    return -1


def function_name(head, k):
    """The name of the function whose parameter list closes at head[k]."""
    start = opening_of(head, k)
    if start <= 0:
        return None
    if "=" in head[:start] and "operator" not in head[:start]:
        return None  # an initializer: int x = f(1) {...} is no function
    if head[start - 1] in ("if", "for", "while", "switch", "catch", "return"):
        return None
    name = head[start - 1]
    if start >= 2 and head[start - 2] == "operator":
        name = "operator" + name
    elif name == ")" and start >= 3 and head[start - 3] == "operator":
        name = "operator()"
    j = start - 2
    while j >= 1 and head[j] == "::":
        name = head[j - 1] + "::" + name
        j -= 2
    if j >= 0 and head[j] == "~":
        name = "~" + name
    return name


def kind_of(head):
    """What a brace at namespace or class scope opens, given the tokens of
    its statement before it: ("function", name), ("lambda", None),
    ("member-init", None) (a member's braced initializer inside a
    constructor's initializer list), ("scope", None) or ("other", None)."""
    if not head:
        return "other", None
    if head[0] in ("namespace", "extern") or head[:2] == ["inline", "namespace"]:
        return "scope", None
    colon = init_list_colon(head)
    if colon > 0:
        if head[-1] not in (")", "}"):
            return "member-init", None
        k = colon - 1
        while head[k] in QUALIFIERS:
            k -= 1
        name = function_name(head, k)
        return ("function", name) if name else ("other", None)
    # Skip what follows the parameter list: a trailing return type,
    # qualifiers, noexcept(...).
    k = len(head) - 1
    if "->" in head:
        k = len(head) - 2 - head[::-1].index("->")
    while k >= 0:
        if head[k] in QUALIFIERS:
            k -= 1
        elif head[k] == ")" and head[opening_of(head, k) - 1] == "noexcept":
            k = opening_of(head, k) - 2
        else:
            break
    if k >= 0 and head[k] == "]":
        return "lambda", None
    if k >= 0 and head[k] == ")":
        start = opening_of(head, k)
        if start > 0 and head[start - 1] == "]":
            return "lambda", None
        name = function_name(head, k)
        return ("function", name) if name else ("other", None)
    if any(t in ("class", "struct", "union") for t in head) and "=" not in head:
        return "scope", None
    return "other", None


def functions(text):
    """(name, first line, body lines) of each function in C++ source text."""
    toks = tokens(blank(text))
    found = []

    def walk(i, end):
        head = []
        while i < end:
            t, line = toks[i]
            if t in (";",):
                head = []
                i += 1
                continue
            if t in ("(", "["):
                close = matching(toks, i)
                head.extend(x for x, _ in toks[i:close + 1])
                i = close + 1
                continue
            if t == "}":
                head = []
                i += 1
                continue
            if t != "{":
                head.append(t)
                if t == ":" and len(head) >= 2 and head[-2] in ("public", "private", "protected"):
                    head = []
                i += 1
                continue
            close = matching(toks, i)
            kind, name = kind_of(head)
            if kind == "member-init":
                head.extend(x for x, _ in toks[i:close + 1])
                i = close + 1
                continue
            if kind in ("function", "lambda"):
                first, last = line, toks[close][1]
                found.append((name or "lambda", first, max(0, last - first - 1)))
            elif kind == "scope":
                walk(i + 1, close)
            head = []
            i = close + 1

    walk(0, len(toks))
    return found


def long_functions(root):
    """Lines of text, one per function over the limit."""
    root = pathlib.Path(root)
    report = []
    for folder in FOLDERS:
        for p in sorted((root / folder).rglob("*")):
            if p.suffix not in SUFFIXES or not p.is_file():
                continue
            for name, line, size in functions(p.read_text(encoding="utf-8")):
                if size > LIMIT and name not in EXEMPT:
                    report.append("%s:%d: %s has %d lines (limit %d)"
                                  % (p.relative_to(root), line, name, size, LIMIT))
    return report


def body(lines):
    return "".join("  x += %d;\n" % k for k in range(lines))


def self_test():
    """Plants functions of known sizes in a small tree and shows that exactly
    the long ones are reported."""
    cases = [
        # (what, text, names expected to be reported)
        ("a 60-line function passes, a 61-line one is reported",
         "int ok(int x) {\n" + body(59) + "  return x;\n}\n" +
         "int too_long(int x) {\n" + body(61) + "}\n", ["too_long"]),
        ("a 61-line member function with qualifiers and an initializer list",
         "struct S {\n  S(int a) : a_{a}, b_(a) {\n" + body(61) + "  }\n"
         "  int get() const noexcept {\n" + body(60) + "  }\n  int a_, b_;\n};\n", ["S"]),
        ("a trailing return type and an out-of-class constructor",
         "namespace n {\nauto f(int x) -> int {\n" + body(61) + "}\n"
         "S::S(int a) : a_{a} {\n" + body(61) + "}\n}  // namespace n\n", ["f", "S::S"]),
        ("braces in strings, characters and comments do not count",
         "const char* open = \"{{{\";\nint g(int x) {\n  // }\n  char c = '}';\n"
         "  const char* s = R\"(}})\";\n  /* } */\n" + body(56) + "}\n"
         "int h(int x) {\n  /* {\n  */\n" + body(59) + "}\n", ["h"]),
        ("a lambda inside counts toward its function; one at namespace scope is its own",
         "int k(int x) {\n  auto f = [&](int y) {\n" + body(58) + "  };\n  return f(x);\n}\n"
         "const int table = [] {\n  int x = 0;\n" + body(60) + "  return x;\n}();\n", ["k", "lambda"]),
        ("braced tables and enums are no functions; the definition chain is exempt, the module body not",
         "const int t[] = {\n" + "  1,\n" * 70 + "};\nenum class E {\n" + "  e,\n" * 70 + "};\n"
         "void bind_composition(py::module_& m) {\n" + body(80) + "}\n"
         "PYBIND11_MODULE(m, mod) {\n" + body(61) + "}\n", ["PYBIND11_MODULE"]),
    ]
    failures = 0
    for what, text, expected in cases:
        with tempfile.TemporaryDirectory() as tmp:
            root = pathlib.Path(tmp)
            (root / "src").mkdir()
            (root / "src" / "planted.cpp").write_text(text)
            report = long_functions(root)
            got = [r.split(": ")[1].split(" has ")[0] for r in report]
            ok = got == expected
            failures += not ok
            print("%s: %s (%s)" % ("ok" if ok else "FAIL", what, "; ".join(report) or "nothing reported"))
    return failures


def main(argv):
    if argv[1:2] == ["--self-test"]:
        return 1 if self_test() else 0
    root = pathlib.Path(argv[1]) if len(argv) > 1 else pathlib.Path(__file__).resolve().parents[1]
    report = long_functions(root)
    for line in report:
        print(line)
    if not report:
        print("function size: no function over %d lines" % LIMIT)
    return 1 if report else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
