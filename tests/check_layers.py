#!/usr/bin/python3
"""Keeps the layers of the code as they are meant to be.

Reads the #include lines of src/, apps/ and python/src/ (quoted or in angle
brackets: a name that resolves to a file of the tree is the project's, in
either form), groups files into units (x.hpp, x.h, x.inc and x.cpp are one
unit) and units into layers (their folder), and fails when
  - a unit includes one of a layer it may not use (a higher one, or a
    sibling it does not build on),
  - a unit includes a header private to another layer (one listed in
    PRIVATE, or any header under a detail/ folder), or
  - units include each other in a cycle.

    check_layers.py [ROOT]         check the tree at ROOT (default: the repository)
    check_layers.py --graph [ROOT] also print the include graph by layer
    check_layers.py --self-test    show that known faults are caught
"""
import pathlib
import re
import sys
import tempfile

# Layer -> the layers its units may include (its own included).
ALLOWED = {
    "base": {"base"},
    "utils": {"utils"},
    "model": {"model", "base"},
    "pattern": {"pattern", "model", "base"},
    "io": {"io", "base"},
    "formats": {"formats", "model", "io", "base"},
    "spectra": {"spectra", "pattern", "model", "io", "base"},
    "run": {"run", "spectra", "formats", "pattern", "model", "io", "base", "utils"},
    "apps": {"apps", "run", "spectra", "formats", "pattern", "model", "io", "base", "utils"},
    "python": {"python", "run", "spectra", "formats", "pattern", "model", "io", "base", "utils"},
}
ORDER = ["base", "utils", "model", "pattern", "io", "formats", "spectra", "run", "apps", "python"]

# Headers that serve only the units of their own layer (the layer's
# workings, not its interface). Any header under a detail/ folder is private
# to its layer as well.
PRIVATE = {
    "src/isotope/formats/row_parts.hpp",
    "src/isotope/pattern/pattern_scratch.hpp",
    "src/isotope/model/scan.hpp",
}

SOURCES = (".hpp", ".h", ".inc", ".cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*(?:"([^"]+)"|<([^>]+)>)', re.M)


def is_private(rel):
    """Whether the file at rel (relative to the root) is private to its layer."""
    return rel.as_posix() in PRIVATE or "detail" in rel.parts[:-1]


def layer_of(rel):
    """The layer of a file, given its path relative to the root."""
    parts = rel.parts
    if parts[:2] == ("src", "isotope") and len(parts) > 3:
        return parts[2]
    if parts[:2] == ("src", "morvandel"):
        return "utils"
    if parts[0] == "apps":
        return "apps"
    if parts[:2] == ("python", "src"):
        return "python"
    return None


def resolve(root, includer, name, quoted):
    """The file of the tree an include names, relative to the root, or None
    for a header of another project. A quoted name is looked up beside the
    includer, then under src/; a name in angle brackets under src/."""
    for base in ((includer.parent,) if quoted else ()) + (root / "src",):
        target = (base / name).resolve()
        if target.is_file():
            try:
                return target.relative_to(root.resolve())
            except ValueError:
                return None  # outside the tree
    return None


def scan(root):
    """(units, edges, problems, includes): unit name -> layer, unit -> set of
    included units, the files in no layer, and the (includer, included)
    pairs of files, relative to the root."""
    root = pathlib.Path(root)
    files = [p for d in ("src", "apps", "python/src") for p in sorted((root / d).rglob("*"))
             if p.suffix in SOURCES]
    units, edges, problems, includes = {}, {}, [], []
    unit = lambda p: str(p.relative_to(root).with_suffix(""))
    for p in files:
        rel = p.relative_to(root)
        layer = layer_of(rel)
        if layer is None or layer not in ALLOWED:
            problems.append("%s: in no known layer" % rel)
            continue
        units[unit(p)] = layer
    for p in files:
        if unit(p) not in units:
            continue
        for quoted, angled in INCLUDE.findall(p.read_text(encoding="utf-8")):
            target = resolve(root, p, quoted or angled, bool(quoted))
            if target is None:
                continue  # a header of another project (the standard library, test support, ...)
            includes.append((p.relative_to(root), target))
            to = str(target.with_suffix(""))
            if to != unit(p):
                edges.setdefault(unit(p), set()).add(to)
    return units, edges, problems, includes


def check(root):
    """The problems found in the tree at root, as lines of text."""
    units, edges, problems, includes = scan(root)
    for a, b in includes:
        if is_private(b) and layer_of(a) != layer_of(b):
            problems.append("%s (%s) includes %s, a header private to the %s layer"
                            % (a.as_posix(), layer_of(a), b.as_posix(), layer_of(b)))
    for a, targets in sorted(edges.items()):
        for b in sorted(targets):
            if b not in units:
                continue
            if units[b] not in ALLOWED[units[a]]:
                problems.append("%s (%s) includes %s (%s): a %s unit may not use the %s layer"
                                % (a, units[a], b, units[b], units[a], units[b]))
    # Cycles, by depth-first search over units.
    state = {}
    def visit(u, path):
        state[u] = "open"
        for v in sorted(edges.get(u, ())):
            if v not in units:
                continue
            if state.get(v) == "open":
                cycle = path[path.index(v):] + [v]
                problems.append("include cycle: " + " -> ".join(cycle))
            elif v not in state:
                visit(v, path + [v])
        state[u] = "done"
    for u in sorted(units):
        if u not in state:
            visit(u, [u])
    return problems


def graph(root):
    units, edges, _, _ = scan(root)
    lines = []
    for layer in ORDER:
        names = sorted(u for u, l in units.items() if l == layer)
        if not names:
            continue
        lines.append("%s:" % layer)
        for u in names:
            deps = sorted(edges.get(u, ()))
            lines.append("  %s -> %s" % (u.split("/")[-1], ", ".join(d.split("/")[-1] for d in deps) or "-"))
    return "\n".join(lines)


def self_test():
    """Builds small trees holding the faults this check exists for and shows
    that each is caught, by the rule meant to catch it, and that a sound tree
    passes."""
    sound = {
        "src/isotope/base/unicode.hpp": "",
        "src/isotope/base/errors.hpp": "",
        "src/isotope/base/errors.cpp": '#include "isotope/base/errors.hpp"\n#include "isotope/base/unicode.hpp"\n',
        "src/isotope/base/text.cpp": '#include "isotope/base/errors.hpp"\n',
        "src/isotope/base/text.hpp": '#include "isotope/base/unicode.hpp"\n',
        "src/isotope/model/composition.hpp": "",
        "src/isotope/model/composition.cpp": '#include "isotope/model/composition.hpp"\n#include "isotope/base/text.hpp"\n'
                                             '#include "isotope/model/scan.hpp"\n#include <vector>\n',
        "src/isotope/model/scan.hpp": "",
        "src/isotope/model/unimod.hpp": '#include "isotope/model/composition.hpp"\n',
        "src/isotope/pattern/pattern_scratch.hpp": "",
        "src/isotope/pattern/workspace.cpp": '#include "isotope/pattern/pattern_scratch.hpp"\n'
                                             '#include <isotope/model/composition.hpp>\n',
        "src/isotope/formats/importers.hpp": '#include "isotope/model/unimod.hpp"\n',
        "src/isotope/formats/importers.cpp": '#include "isotope/formats/row_parts.hpp"\n'
                                             '#include "isotope/formats/detail/letters.hpp"\n',
        "src/isotope/formats/row_parts.hpp": "",
        "src/isotope/formats/detail/letters.hpp": "",
        "src/isotope/spectra/ms_run.hpp": "",
        "src/isotope/spectra/ms_run.cpp": '#include "isotope/spectra/ms_run.hpp"\n#include "isotope/base/errors.hpp"\n',
        "src/isotope/run/pipeline.hpp": '#include "isotope/formats/importers.hpp"\n',
        "src/isotope/run/pipeline.cpp": '#include "isotope/run/params.hpp"\n#include "isotope/model/unimod.hpp"\n'
                                        '#include "isotope/spectra/ms_run.hpp"\n',
        "src/isotope/run/params.hpp": "",
        "src/isotope/run/legacy.h": "",
        "apps/isotope/cli.hpp": "",
        "apps/isotope/cli.cpp": '#include "cli.hpp"\n#include "isotope/run/pipeline.hpp"\n',
    }
    upward, private, cycle = "may not use", "private to", "include cycle"
    # A fault: a line added to a file of the sound tree (or a new file), and
    # the words of the problem that must be reported.
    faults = {
        "the pipeline reads its parameters from the command line":
            ("src/isotope/run/pipeline.cpp", '#include "../../../apps/isotope/cli.hpp"\n', upward),
        "the composition model needs the Unimod reader":
            ("src/isotope/model/composition.cpp", '#include "isotope/model/unimod.hpp"\n', cycle),
        "errors and text include each other":
            ("src/isotope/base/errors.cpp", '#include "isotope/base/text.hpp"\n', cycle),
        "an importer reads the run's options":
            ("src/isotope/formats/importers.hpp", '#include "isotope/run/params.hpp"\n', upward),
        "the run reader uses an importer":
            ("src/isotope/spectra/ms_run.cpp", '#include "isotope/formats/importers.hpp"\n', upward),
        "an importer reads a run":
            ("src/isotope/formats/importers.cpp", '#include "isotope/spectra/ms_run.hpp"\n', upward),
        "a model unit reaches up to the pipeline":
            ("src/isotope/model/unimod.hpp", '#include "isotope/run/pipeline.hpp"\n', upward),
        "a model unit reaches up to the pipeline in angle brackets":
            ("src/isotope/model/unimod.hpp", "#include <isotope/run/pipeline.hpp>\n", upward),
        "a model header ending in .h reaches up to the pipeline":
            ("src/isotope/model/masses.h", '#include "isotope/run/pipeline.hpp"\n', upward),
        "a model table ending in .inc reaches up to the run's options":
            ("src/isotope/model/tables.inc", '#include "isotope/run/params.hpp"\n', upward),
        "a model unit includes a run header ending in .h":
            ("src/isotope/model/composition.cpp", '#include "isotope/run/legacy.h"\n', upward),
        "the pipeline uses an importer's row parts":
            ("src/isotope/run/pipeline.cpp", '#include "isotope/formats/row_parts.hpp"\n', private),
        "the pattern workspace uses the model's scanner":
            ("src/isotope/pattern/workspace.cpp", '#include "isotope/model/scan.hpp"\n', private),
        "the program uses the kernel's scratch space, in angle brackets":
            ("apps/isotope/cli.cpp", "#include <isotope/pattern/pattern_scratch.hpp>\n", private),
        "the pipeline uses a header under an importer's detail/ folder":
            ("src/isotope/run/pipeline.cpp", '#include "isotope/formats/detail/letters.hpp"\n', private),
    }
    failures = 0
    cases = [("a sound tree", None)] + list(faults.items())
    for name, fault in cases:
        with tempfile.TemporaryDirectory() as tmp:
            root = pathlib.Path(tmp)
            for rel, text in sound.items():
                (root / rel).parent.mkdir(parents=True, exist_ok=True)
                (root / rel).write_text(text)
            if fault:
                rel, line, _ = fault
                old = (root / rel).read_text() if (root / rel).exists() else ""
                (root / rel).write_text(old + line)
            problems = check(root)
            ok = (any(fault[2] in p for p in problems) if fault else not problems)
            failures += not ok
            print("%s: %s (%s)" % ("ok" if ok else "FAIL", name,
                                   "; ".join(problems) if problems else "no problem found"))
    return failures


def main(argv):
    if argv[1:2] == ["--self-test"]:
        return 1 if self_test() else 0
    show = argv[1:2] == ["--graph"]
    args = argv[2:] if show else argv[1:]
    root = pathlib.Path(args[0]) if args else pathlib.Path(__file__).resolve().parents[1]
    problems = check(root)
    if show:
        print(graph(root))
    for p in problems:
        print(p)
    if not problems:
        print("layers: %d units, no upward include, no cycle" % len(scan(root)[0]))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
