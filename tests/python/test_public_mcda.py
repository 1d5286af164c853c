"""The friendly MCDA front ends give exactly what the native functions give."""

import numpy as np
import pytest

import _ternavik
import ternavik
from ternavik import InputError

DATA = [[250.0, 16.0, 12.0, 5.0], [200.0, 16.0, 8.0, 3.0], [300.0, 32.0, 16.0, 4.0],
        [275.0, 32.0, 8.0, 4.0], [225.0, 16.0, 16.0, 2.0]]
CODES = np.array([0, 1, 1, 1], dtype=np.int64)
NAMES = ["price", "storage", "camera", "looks"]
WEIGHTS = [0.25, 0.25, 0.25, 0.25]


def same(a, b):
    """Bit-for-bit equality of two float arrays."""
    a, b = np.asarray(a), np.asarray(b)
    return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()


@pytest.mark.parametrize("kinds", [
    [0, 1, 1, 1], [-1, 1, 1, 1], np.array([0, 1, 1, 1]), ["cost", "benefit", "Benefit", "max"],
    ["min", "max", "max", "max"], ["-", "+", "+", "+"], "-+++",
    {"price": "min", "storage": "max", "camera": "+", "looks": 1},
])
@pytest.mark.parametrize("form", ["list", "fortran", "frame"])
def test_matches_native_bit_for_bit(kinds, form):
    if form == "frame":
        pd = pytest.importorskip("pandas")
        data = pd.DataFrame(DATA, columns=NAMES, index=list("ABCDE"))
    else:
        data = DATA if form == "list" else np.asfortranarray(DATA)
        if isinstance(kinds, dict):
            kinds = list(kinds.values())
    matrix = np.array(DATA)
    w, s = ternavik.entropy_weight(data, kinds)
    nw, ns = _ternavik.entropy_weight(matrix, CODES)
    assert same(np.asarray(w), nw) and same(np.asarray(s), ns)
    weights = dict(zip(NAMES, WEIGHTS)) if form == "frame" else WEIGHTS
    assert same(np.asarray(ternavik.topsis(data, weights, kinds)),
                _ternavik.topsis(matrix, np.array(WEIGHTS), CODES))
    assert same(np.asarray(ternavik.topsis(data, "entropy", kinds)),
                _ternavik.topsis(matrix, nw, CODES))
    assert same(np.asarray(ternavik.topsis(data, "equal", kinds)),
                _ternavik.topsis(matrix, np.full(4, 0.25), CODES))


def test_dataframe_results_are_labelled():
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame(DATA, columns=NAMES, index=list("ABCDE"))
    weights, scores = ternavik.entropy_weight(frame, "-+++")
    closeness = ternavik.topsis(frame, weights, "-+++")
    assert list(weights.index) == NAMES and list(scores.index) == list("ABCDE")
    assert list(closeness.index) == list("ABCDE")
    ranks = ternavik.rank(closeness)
    assert list(ranks.index) == list("ABCDE") and sorted(ranks) == [1, 2, 3, 4, 5]


def test_frame_with_text_column_names_it():
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame({"price": [1.0, 2.0], "colour": ["red", "blue"]})
    with pytest.raises(InputError, match="criterion 'colour' has a non-numeric value 'red'"):
        ternavik.topsis(frame, "equal", "-+")


@pytest.mark.parametrize("call, message", [
    (lambda: ternavik.topsis(DATA, WEIGHTS, [0, 1, 1]), "kinds has 3 entries but data has 4"),
    (lambda: ternavik.topsis(DATA, [1.0], CODES), "weights has 1 entries but data has 4"),
    (lambda: ternavik.topsis(DATA, WEIGHTS, [0, 1, 2, 1]), "kind 2 of criterion #2"),
    (lambda: ternavik.topsis(DATA, WEIGHTS, [0, 1, "most", 1]), "kind 'most' of criterion #2"),
    (lambda: ternavik.topsis(DATA, WEIGHTS, [0, 1, True, 1]), "kind True"),
    (lambda: ternavik.topsis(DATA, WEIGHTS, "+-x+"), r"'\+'/'-' signs"),
    (lambda: ternavik.topsis(DATA, [1, "a", 1, 1], CODES), "weight 'a' of criterion #1"),
    (lambda: ternavik.topsis(DATA, [1, np.nan, 1, 1], CODES), "criterion #1 is nan"),
    (lambda: ternavik.topsis(DATA, "heavy", CODES), "'entropy' or 'equal'"),
    (lambda: ternavik.topsis(DATA, {0: 1, 1: 1, 2: 1, 9: 1}, CODES), "unknown criterion 9"),
    (lambda: ternavik.topsis(DATA, {0: 1, 1: 1, 2: 1}, CODES), "no entry for criterion 3"),
    (lambda: ternavik.topsis([[1, 2], [3]], [1, 1], [1, 1]), "rectangular"),
    (lambda: ternavik.topsis([[1, 2], [3, "x"]], [1, 1], [1, 1]), "criterion #1 .* 'x'"),
    (lambda: ternavik.entropy_weight([[1.0, 2.0]], [1, 1]), "at least two alternatives"),
    (lambda: ternavik.entropy_weight([1.0, 2.0], [1, 1]), "two-dimensional"),
])
def test_input_errors_name_the_culprit(call, message):
    with pytest.raises(InputError, match=message):
        call()


@pytest.mark.parametrize("scores, expected", [
    ([0.5, 0.9, 0.7, 0.7], [4, 1, 2, 2]),           # ties share the best rank, then a gap
    ([0.2, np.nan, 0.8, np.nan], [2, 3, 1, 3]),     # NaN ranks last, all NaN together
    ([1.0, 1.0, 1.0], [1, 1, 1]),
    ([-np.inf, np.inf, 0.0, -0.0], [4, 1, 2, 2]),
    ([], []),
])
def test_rank(scores, expected):
    ranks = ternavik.rank(scores)
    assert ranks.dtype == np.int64 and ranks.tolist() == expected


def test_native_tools_are_reexported_unchanged():
    assert ternavik.core is _ternavik and ternavik._DE is _ternavik._DE
