"""Sphinx configuration of the quorlax package's reference, built from the
docstrings of the installed package:

    python -m sphinx -W --keep-going -b html docs/python build/docs/python
"""
import quorlax

project = "quorlax"
version = release = quorlax.__version__  # the library's own, as the package reports it
extensions = ["sphinx.ext.autodoc", "sphinx.ext.napoleon"]
napoleon_google_docstring = False
napoleon_numpy_docstring = True
napoleon_use_rtype = False
autodoc_member_order = "bysource"
autodoc_typehints = "signature"
# Shown by the names a caller writes, not NumPy's expansions of them.
autodoc_type_aliases = {"npt.ArrayLike": "numpy.typing.ArrayLike"}
default_role = "py:obj"
html_theme = "alabaster"
html_title = f"quorlax {release}"
