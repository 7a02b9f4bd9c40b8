"""The morvandel tools for proteomics."""

# The package may be spread over several folders (the source tree holds the
# pure-Python parts, a build tree or an install adds the compiled ones):
# every folder of this name on sys.path contributes, so a compiled module in
# a later folder is found even when an earlier one lacks it.
__path__ = __import__("pkgutil").extend_path(__path__, __name__)
