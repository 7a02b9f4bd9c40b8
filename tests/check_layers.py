#!/usr/bin/python3
"""Keeps the layers of the code as they are meant to be.

Reads the #include "..." lines of src/, apps/ and python/src/, groups files
into units (x.hpp and x.cpp are one unit) and units into layers (their
folder), and fails when
  - a unit includes one of a layer it may not use (a higher one, or a
    sibling it does not build on), or
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
    "run": {"run", "formats", "pattern", "model", "io", "base", "utils"},
    "apps": {"apps", "run", "formats", "pattern", "model", "io", "base", "utils"},
    "python": {"python", "run", "formats", "pattern", "model", "io", "base", "utils"},
}
ORDER = ["base", "utils", "model", "pattern", "io", "formats", "run", "apps", "python"]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


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


def scan(root):
    """(units, edges): unit name -> layer, and unit -> set of included units."""
    root = pathlib.Path(root)
    files = [p for d in ("src", "apps", "python/src") for p in sorted((root / d).rglob("*"))
             if p.suffix in (".hpp", ".cpp")]
    units, edges, problems = {}, {}, []
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
        for name in INCLUDE.findall(p.read_text(encoding="utf-8")):
            # Quoted includes name a file beside the includer or under src/.
            for base in (p.parent, root / "src"):
                target = base / name
                if target.exists():
                    break
            else:
                continue  # a header of another project (test support, ...)
            target = target.resolve()
            try:
                target.relative_to(root.resolve())
            except ValueError:
                continue
            to = str(target.relative_to(root.resolve()).with_suffix(""))
            if to != unit(p):
                edges.setdefault(unit(p), set()).add(to)
    return units, edges, problems


def check(root):
    """The problems found in the tree at root, as lines of text."""
    units, edges, problems = scan(root)
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
    units, edges, _ = scan(root)
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
    that each is caught, and that a sound tree passes."""
    sound = {
        "src/isotope/base/unicode.hpp": "",
        "src/isotope/base/errors.hpp": "",
        "src/isotope/base/errors.cpp": '#include "isotope/base/errors.hpp"\n#include "isotope/base/unicode.hpp"\n',
        "src/isotope/base/text.cpp": '#include "isotope/base/errors.hpp"\n',
        "src/isotope/base/text.hpp": '#include "isotope/base/unicode.hpp"\n',
        "src/isotope/model/composition.hpp": "",
        "src/isotope/model/composition.cpp": '#include "isotope/model/composition.hpp"\n#include "isotope/base/text.hpp"\n',
        "src/isotope/model/unimod.hpp": '#include "isotope/model/composition.hpp"\n',
        "src/isotope/formats/importers.hpp": '#include "isotope/model/unimod.hpp"\n',
        "src/isotope/run/pipeline.hpp": '#include "isotope/formats/importers.hpp"\n',
        "src/isotope/run/pipeline.cpp": '#include "isotope/run/params.hpp"\n#include "isotope/model/unimod.hpp"\n',
        "src/isotope/run/params.hpp": "",
        "apps/isotope/cli.hpp": "",
        "apps/isotope/cli.cpp": '#include "cli.hpp"\n#include "isotope/run/pipeline.hpp"\n',
    }
    faults = {
        "the pipeline reads its parameters from the command line":
            ("src/isotope/run/pipeline.cpp", '#include "../../../apps/isotope/cli.hpp"\n'),
        "the composition model needs the Unimod reader":
            ("src/isotope/model/composition.cpp", '#include "isotope/model/unimod.hpp"\n'),
        "errors and text include each other":
            ("src/isotope/base/errors.cpp", '#include "isotope/base/text.hpp"\n'),
        "an importer reads the run's options":
            ("src/isotope/formats/importers.hpp", '#include "isotope/run/params.hpp"\n'),
        "a model unit reaches up to the pipeline":
            ("src/isotope/model/unimod.hpp", '#include "isotope/run/pipeline.hpp"\n'),
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
                rel, line = fault
                (root / rel).write_text((root / rel).read_text() + line)
            problems = check(root)
            caught = bool(problems)
            ok = caught == (fault is not None)
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
