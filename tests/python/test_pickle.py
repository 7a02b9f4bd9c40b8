"""Pickling, as Dask, multiprocessing and concurrent.futures do it: the
module's functions and classes travel by reference (and come back as the
very same objects), compositions and warnings by value, with pickle and
with cloudpickle."""

import pickle
import types
import warnings

import cloudpickle
import pytest

PICKLERS = [pickle, cloudpickle]
# Public names the module takes from elsewhere: not its own to keep picklable.
IMPORTED = {"freeze_support", "Counter", "path_full_split"}


def round_trip(pickler, obj):
    return pickler.loads(pickler.dumps(obj))


@pytest.mark.parametrize("pickler", PICKLERS, ids=lambda p: p.__name__)
def test_functions_and_classes_come_back_as_themselves(iso, pickler):
    own = {name: obj for name, obj in vars(iso).items()
           if not name.startswith("_") and callable(obj) and not isinstance(obj, types.ModuleType)
           and name not in IMPORTED}
    # Every kind is there: the operations, the drivers, the classes.
    assert {"calc_iso_dist", "run_single_file", "main", "isotope_peaks", "plot_isotopes", "Composition",
            "IsotopeInputWarning", "MyParser"} <= set(own)
    for name, obj in own.items():
        assert round_trip(pickler, obj) is obj, name


@pytest.mark.parametrize("pickler", PICKLERS, ids=lambda p: p.__name__)
def test_values_keep_their_type_order_and_content(iso, pickler):
    # Insertion order, labelled isotopes and negative counts (a loss) survive.
    comp = iso.Composition({"O": 1, "C[13]": 4, "H": -2, "C": 3})
    back = round_trip(pickler, comp)
    assert type(back) is iso.Composition and list(back.items()) == [("O", 1), ("C[13]", 4), ("H", -2), ("C", 3)]
    assert round_trip(pickler, iso.mass_d) == iso.mass_d

    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        warnings.warn("row 3: guessed", iso.IsotopeInputWarning)
    warning = round_trip(pickler, caught[0].message)
    assert type(warning) is iso.IsotopeInputWarning and warning.args == ("row 3: guessed",)
