"""The public names as users meet them: each of the module's functions and
classes shows an example in its docstring, and the type stubs beside the
module (isotope.pyi, py.typed) name what the module binds, in its order,
with its functions' parameters and defaults."""

import ast
import doctest
import inspect
import pathlib

import pytest


@pytest.fixture
def stub(iso):
    folder = pathlib.Path(iso.__file__).parent
    assert (folder / "py.typed").is_file()
    return ast.parse((folder / "isotope.pyi").read_text())


def stub_names(tree):
    """Top-level names the stub defines or imports, and its __all__."""
    names, exported = {}, None
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names[node.name] = node
        elif isinstance(node, (ast.Import, ast.ImportFrom)):
            names.update({(a.asname or a.name): node for a in node.names})
        elif isinstance(node, ast.AnnAssign):
            names[node.target.id] = node
        elif isinstance(node, ast.Assign) and node.targets[0].id == "__all__":
            exported = ast.literal_eval(node.value)
    return names, exported


def test_stub_lists_every_public_name_in_order(iso, stub):
    public = [k for k in vars(iso) if not k.startswith("_") and k != "db"]
    names, exported = stub_names(stub)
    assert exported == public
    assert set(public) <= set(names)
    assert {n.name for n in names["Composition"].body if isinstance(n, ast.FunctionDef)} <= set(dir(iso.Composition))


def test_stub_functions_take_the_module_parameters(iso, stub):
    names, _ = stub_names(stub)
    kinds = {"posonlyargs": inspect.Parameter.POSITIONAL_ONLY, "args": inspect.Parameter.POSITIONAL_OR_KEYWORD,
             "kwonlyargs": inspect.Parameter.KEYWORD_ONLY}
    functions = [node for node in names.values() if isinstance(node, ast.FunctionDef)]
    assert {node.name for node in functions} == {k for k, v in vars(iso).items()
                                                 if inspect.isfunction(v) and v.__module__ == iso.__name__}
    for node in functions:
        runtime = inspect.signature(getattr(iso, node.name)).parameters.values()
        params = [(a.arg, kinds[group]) for group in kinds for a in getattr(node.args, group)]
        defaults = dict(zip([a.arg for a in node.args.posonlyargs + node.args.args][::-1], node.args.defaults[::-1]))
        defaults.update({a.arg: d for a, d in zip(node.args.kwonlyargs, node.args.kw_defaults) if d})
        if node.args.kwarg:
            params.append((node.args.kwarg.arg, inspect.Parameter.VAR_KEYWORD))
        if any(p.kind is p.VAR_KEYWORD for p in runtime):
            # Keywords the module reads from **kwargs are spelled out in the stub.
            params = [p for p in params if p[1] is not inspect.Parameter.KEYWORD_ONLY]
        assert params == [(p.name, p.kind) for p in runtime], node.name
        for p in runtime:
            if p.default is not p.empty:
                assert ast.literal_eval(defaults[p.name]) == p.default, (node.name, p.name)


def test_every_function_and_class_shows_an_example(iso):
    own = {k: v for k, v in vars(iso).items() if not k.startswith("_") and getattr(v, "__module__", None) == iso.__name__
           and (inspect.isfunction(v) or inspect.isclass(v))}
    assert {"MyParser", "plot_isotopes", "Composition", "IsotopeInputWarning"} <= set(own)
    parser = doctest.DocTestParser()
    assert [k for k, v in own.items() if not parser.get_examples(v.__doc__ or "")] == []
