"""The Examples sections of the decision functions run as written."""
import doctest
import importlib

import pytest

MODULES = ["ternavik.methods", "ternavik.compare", "ternavik.sensitivity", "ternavik.mcda",
           "ternavik.weighting"]


@pytest.mark.parametrize("name", MODULES)
def test_examples_run(name):
    pytest.importorskip("pandas")
    module = importlib.import_module(name)
    failed, tried = doctest.testmod(module, optionflags=doctest.NORMALIZE_WHITESPACE)
    assert tried > 0 and failed == 0
