"""Helpers shared by the morvandel plug-ins."""

import os


def path_full_split(path):
    """Split a path into (folder, base name, extension).

    os.path.split, then os.path.splitext of the name:
    "data/s-01.glyco.txt" gives ("data", "s-01.glyco", ".txt").
    """
    folder, name = os.path.split(path)
    base, ext = os.path.splitext(name)
    return folder, base, ext
