"""Sphinx configuration for ternavik's documentation.

Build from the repository root with the package importable (installed, or
PYTHONPATH=build/dev:python for an in-tree build):

    sphinx-build -W --keep-going -b html docs docs/_build/html
"""

import os
import sys
import warnings

# The local directive that prints the command line's help texts.
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "_ext"))

import ternavik  # noqa: E402  (fails early, with a clear message, if not importable)
from ternavik_docs import FigureScraper, OutputArguments  # noqa: E402

project = "ternavik"
author = "the ternavik developers"
copyright = "2026, the ternavik developers"
release = ternavik.__version__
version = ".".join(release.split(".")[:2])

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "sphinx.ext.mathjax",
    "numpydoc",
    "myst_parser",
    "sphinx_gallery.gen_gallery",
    # MathJax shipped with the site: the pages render formulas with no network.
    "sphinx-mathjax-offline",
    "ternavik_docs",
]

source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
root_doc = "index"
exclude_patterns = ["_build", "generated/*.examples", "auto_examples/*.ipynb",
                    "auto_examples/*.py", "auto_examples/*.zip", "auto_examples/*.md5",
                    "auto_examples/*.codeobj.json", "sg_execution_times.rst"]
templates_path = ["_templates"]

myst_enable_extensions = ["dollarmath", "amsmath", "colon_fence", "deflist"]
myst_heading_anchors = 3

# The reference: one page per public name, signatures without the overloads'
# type noise (the parameters section says what each accepts).
autosummary_generate = True
autosummary_imported_members = True
autodoc_typehints = "none"
autodoc_default_options = {"members": False}
numpydoc_show_class_members = False
numpydoc_class_members_toctree = False
numpydoc_xref_param_type = False
numpydoc_validation_checks = set()

html_theme = "pydata_sphinx_theme"
html_title = f"ternavik {release}"
html_static_path = ["_static"]
html_css_files = ["ternavik.css"]
html_show_sourcelink = False
html_theme_options = {
    "navbar_align": "left",
    "show_toc_level": 2,
    "navigation_depth": 3,
    "footer_start": ["copyright"],
    "footer_end": ["sphinx-version"],
    "secondary_sidebar_items": ["page-toc"],
}
html_sidebars = {"index": [], "getting-started": [], "performance": []}

sphinx_gallery_conf = {
    "examples_dirs": "../examples",
    "gallery_dirs": "auto_examples",
    # Every script runs at build time, so every picture is the code's own.
    "filename_pattern": r"\.py$",
    "within_subsection_order": "FileNameSortKey",
    "abort_on_example_error": True,
    "download_all_examples": False,
    "remove_config_comments": True,
    "show_memory": False,
    "reset_modules": ("matplotlib",),
    "capture_repr": (),
    "promote_jupyter_magic": False,
    "image_scrapers": (FigureScraper(), "matplotlib"),
    # Scripts that save a picture where their first argument says: not in the tree.
    "reset_argv": OutputArguments(),
}

# Agg needs no display; the gallery draws off screen.
os.environ.setdefault("MPLBACKEND", "Agg")
warnings.filterwarnings("ignore", category=UserWarning,
                        message="Matplotlib is currently using agg")
