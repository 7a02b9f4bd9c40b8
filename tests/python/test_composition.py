"""The Composition class: a mapping with dict's rules and the core's arithmetic."""

import collections.abc
import copy
import pickle

import pytest


def test_construction_and_mapping_protocol(iso):
    c = iso.Composition("C6H12O6")
    assert iso.Composition() == {} and len(iso.Composition()) == 0
    assert iso.Composition({"C": 6, "H": 12.0, "O": "6"}) == c  # counts through int()
    assert list(c) == ["C", "H", "O"] and list(c.items()) == [("C", 6), ("H", 12), ("O", 6)]
    assert c["H"] == 12 and "H" in c and "N" not in c and 5 not in c
    assert c.get("N") is None and c.get("N", 0) == 0 and c.get("C") == 6
    assert isinstance(c, collections.abc.Mapping) and dict(c) == {"C": 6, "H": 12, "O": 6}
    assert repr(iso.Composition({"H": 2, "O": 1})) == "Composition({'H': 2, 'O': 1})"
    with pytest.raises(KeyError) as info:
        c["N"]
    assert info.value.args == ("N",)
    with pytest.raises(TypeError):
        [] in c  # unhashable, as for a dict
    for bad in (5, None, ["H"]):
        with pytest.raises(TypeError):
            iso.Composition(bad)
    with pytest.raises(TypeError):
        iso.Composition(source="H2")


def test_arithmetic(iso):
    water = iso.Composition("H2O")
    assert water + {"C": 1} == {"H": 2, "O": 1, "C": 1}
    assert {"C": 1} + water == {"C": 1, "H": 2, "O": 1}
    assert list({"C": 1} + water) == ["C", "H", "O"] and list(water + {"C": 1}) == ["H", "O", "C"]
    assert water * 3 == 3 * water == {"H": 6, "O": 3} and water * True == water
    assert water * 0 == {} and water + {"O": -1} == {"H": 2}  # zero counts are dropped
    total = water
    total += water
    assert total is water and water == {"H": 4, "O": 2}  # += works in place
    for bad in (lambda: water * 1.5, lambda: water + 1, lambda: water * "2"):
        with pytest.raises(TypeError):
            bad()
    assert (water == 1) is False and water != {"H": 4}


def test_mass_pickle_and_copy(iso):
    water = iso.Composition("H2O")
    assert water.mass() == pytest.approx(18.0105646837)
    assert pickle.loads(pickle.dumps(water)) == water
    clone = copy.copy(water)
    clone += {"H": 1}
    assert water == {"H": 2, "O": 1}
