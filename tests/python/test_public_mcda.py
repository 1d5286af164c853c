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


PHONES = {"price": [250, 200, 300, 275], "storage": [16, 16, 32, 32], "camera": [12, 8, 16, 8]}
PHONE_KINDS = {"camera": "max", "price": "min", "storage": "max"}  # not in column order


@pytest.mark.parametrize("keyed", ["dict", "series", "reordered frame"])
def test_keyed_kinds_and_weights_align_by_label(keyed):
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame(PHONES)
    expected = ternavik.topsis(frame, [0.5, 0.3, 0.2], "-++")
    weights = {"camera": 0.2, "storage": 0.3, "price": 0.5}
    if keyed == "series":
        weights, kinds = pd.Series(weights), pd.Series(PHONE_KINDS)
    elif keyed == "reordered frame":
        frame, kinds = frame[["camera", "storage", "price"]], PHONE_KINDS
    else:
        kinds = PHONE_KINDS
    assert same(np.asarray(ternavik.topsis(frame, weights, kinds)), np.asarray(expected))
    assert ternavik.rank(ternavik.topsis(pd.DataFrame(PHONES), "equal", pd.Series(kinds)))\
        .tolist() == [3, 4, 1, 2]


def test_entropy_weights_fed_back_after_reordering_columns():
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame(PHONES)
    weights, _ = ternavik.entropy_weight(frame, PHONE_KINDS)
    reordered = frame[["camera", "price", "storage"]]
    assert same(np.asarray(ternavik.topsis(reordered, weights, PHONE_KINDS)),
                np.asarray(ternavik.topsis(frame, "entropy", PHONE_KINDS)))


@pytest.mark.parametrize("given, message", [
    ({"price": 1, "storage": 1, "camera": 1, "colour": 1}, "unknown criteria 'colour'"),
    ({"price": 1}, "no entry for criteria 'storage', 'camera'"),
])
@pytest.mark.parametrize("form", ["dict", "series"])
def test_keyed_labels_that_do_not_match_are_named(given, message, form):
    pd = pytest.importorskip("pandas")
    given = pd.Series(given) if form == "series" else given
    with pytest.raises(InputError, match=message):
        ternavik.topsis(pd.DataFrame(PHONES), given, "-++")
    kinds = {k: "max" for k in given.keys()}
    with pytest.raises(InputError, match=message):
        ternavik.entropy_weight(pd.DataFrame(PHONES), pd.Series(kinds) if form == "series"
                                else kinds)


def test_duplicate_column_names_are_named():
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame([[1.0, 2.0, 3.0], [2.0, 1.0, 3.5]], columns=["a", "b", "a"])
    with pytest.raises(InputError, match="criterion 'a' occurs more than once"):
        ternavik.topsis(frame, "equal", "+++")
    with pytest.raises(InputError, match="criterion 'a' occurs more than once"):
        ternavik.entropy_weight(frame, [1, 1, 1])
    twice = pd.Series([1.0, 2.0, 3.0], index=["price", "price", "camera"])
    with pytest.raises(InputError, match="weights has more than one entry for 'price'"):
        ternavik.topsis(pd.DataFrame(PHONES), twice, "-++")


def _frame_with(cell, pd):
    frame = pd.DataFrame(PHONES, index=list("ABCD")).astype(object)
    frame.loc["C", "storage"] = cell
    return frame


MISSING = [np.nan, np.inf, -np.inf, None, "pd.NA"]


@pytest.mark.parametrize("cell", MISSING)
@pytest.mark.parametrize("form", ["frame", "list", "array"])
def test_missing_and_infinite_values_raise_by_default(cell, form):
    pd = pytest.importorskip("pandas")
    cell = pd.NA if cell == "pd.NA" else cell
    frame = _frame_with(cell, pd)
    data = frame if form == "frame" else frame.values.tolist()
    if form == "array":
        if cell is pd.NA or cell is None:
            pytest.skip("a float array holds no None or pd.NA")
        data = np.array(data, dtype=np.float64)
    where = "alternative 'C', criterion 'storage'" if form == "frame" else \
        "alternative #2, criterion #1"
    for call in (lambda: ternavik.topsis(data, "equal", "-++"),
                 lambda: ternavik.entropy_weight(data, "-++"),
                 lambda: ternavik.topsis(data, "entropy", "-++", nan_policy="raise")):
        with pytest.raises(InputError, match=where + " is (missing|infinite)"):
            call()


@pytest.mark.parametrize("cell", MISSING)
def test_omit_computes_on_the_rest_and_ranks_the_left_out_last(cell):
    pd = pytest.importorskip("pandas")
    cell = pd.NA if cell == "pd.NA" else cell
    frame = _frame_with(cell, pd)
    kept = np.array(pd.DataFrame(PHONES).drop(index=2), dtype=np.float64)
    closeness = ternavik.topsis(frame, "entropy", "-++", nan_policy="omit")
    weights, scores = ternavik.entropy_weight(frame, "-++", nan_policy="omit")
    native_w, native_s = _ternavik.entropy_weight(kept, np.array([0, 1, 1]))
    native_c = _ternavik.topsis(kept, native_w, np.array([0, 1, 1]))
    assert same(closeness.drop("C").to_numpy(), native_c) and np.isnan(closeness["C"])
    assert same(weights.to_numpy(), native_w)
    assert same(scores.drop("C").to_numpy(), native_s) and np.isnan(scores["C"])
    assert ternavik.rank(closeness)["C"] == 4


def test_propagate_passes_values_to_the_native_functions():
    data = np.array(DATA)
    data[1, 2] = np.nan
    data[3, 0] = np.inf
    w, s = ternavik.entropy_weight(data, CODES, nan_policy="propagate")
    nw, ns = _ternavik.entropy_weight(data, CODES)
    assert same(w, nw) and same(s, ns)
    got = ternavik.topsis(data, WEIGHTS, CODES, nan_policy="propagate")
    assert same(got, _ternavik.topsis(data, np.array(WEIGHTS), CODES))
    assert np.all(np.isnan(got))


@pytest.mark.parametrize("call, message", [
    (lambda d: ternavik.topsis(d, "equal", CODES, nan_policy="omit"), "only 1 of 5"),
    (lambda d: ternavik.topsis(d, "equal", CODES, nan_policy="ignore"), "nan_policy must be"),
    (lambda d: ternavik.entropy_weight(d, CODES, nan_policy=None), "nan_policy must be"),
])
def test_nan_policy_mistakes(call, message):
    data = np.array(DATA)
    data[1:, 0] = np.nan
    with pytest.raises(InputError, match=message):
        call(data)


@pytest.mark.parametrize("column, word", [
    ("colour", "text"), ("when", "datetime"), ("took", "timedelta"), ("size", "category"),
    ("z", "complex"), ("objects", "non-numeric value 'red'"),
])
def test_columns_that_are_not_numbers_are_named(column, word):
    pd = pytest.importorskip("pandas")
    columns = {
        "colour": pd.Series(["red", "blue"], dtype="string"),
        "when": pd.to_datetime(["2024-01-01", "2024-02-01"]),
        "took": pd.to_timedelta([1, 2], unit="s"),
        "size": pd.Categorical([1, 2]),
        "z": [1 + 1j, 2 + 0j],
        "objects": pd.Series([1.5, "red"], dtype=object),
    }
    frame = pd.DataFrame({"price": [1.0, 2.0], column: columns[column]})
    with pytest.raises(InputError, match=f"criterion '{column}' .*{word}"):
        ternavik.topsis(frame, "equal", "-+")


@pytest.mark.parametrize("data, message", [
    (np.array([["2024-01-01", "2024-02-01"]] * 2, dtype="datetime64[D]"), "datetime"),
    (np.array([[1, 2], [3, 4]], dtype="timedelta64[s]"), "timedelta"),
    ([[1.0, np.timedelta64(1, "s")], [2.0, 3.0]], "criterion #1 has a non-numeric"),
    ([[1.0, "2"], [2.0, 3.0]], "criterion #1 has a non-numeric value '2'"),
])
def test_arrays_that_are_not_numbers_are_refused(data, message):
    with pytest.raises(InputError, match=message):
        ternavik.entropy_weight(data, "++")


def test_booleans_and_nullable_numbers_read_as_numbers():
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame({"ok": [True, False, True], "n": pd.array([3, 1, 2], dtype="Int64"),
                          "f": pd.array([0.5, 1.5, 1.0], dtype="Float64")})
    native = _ternavik.entropy_weight(np.array([[1, 3, .5], [0, 1, 1.5], [1, 2, 1.]]),
                                      np.array([1, 1, 0]))
    got = ternavik.entropy_weight(frame, "++-")
    assert same(got[0].to_numpy(), native[0]) and same(got[1].to_numpy(), native[1])


@pytest.mark.parametrize("call, message", [
    (lambda: ternavik.topsis(DATA, WEIGHTS, [0, 1, 1]), "kinds has 3 entries but data has 4"),
    (lambda: ternavik.topsis(DATA, [1.0], CODES), "weights has 1 entries but data has 4"),
    (lambda: ternavik.topsis(DATA, WEIGHTS, [0, 1, 2, 1]), "kind 2 of criterion #2"),
    (lambda: ternavik.topsis(DATA, WEIGHTS, [0, 1, "most", 1]), "kind 'most' of criterion #2"),
    (lambda: ternavik.topsis(DATA, WEIGHTS, [0, 1, True, 1]), "kind True"),
    (lambda: ternavik.topsis(DATA, WEIGHTS, "+-x+"), r"'\+'/'-' signs"),
    (lambda: ternavik.topsis(DATA, [1, "a", 1, 1], CODES), "weight 'a' of criterion #1"),
    (lambda: ternavik.topsis(DATA, [1, np.nan, 1, 1], CODES), "criterion #1 is nan"),
    (lambda: ternavik.topsis(DATA, "heavy", CODES), "'equal', .* or 'entropy', got 'heavy'"),
    (lambda: ternavik.topsis(DATA, [1, -1, 1, 1], CODES), "criterion #1 is -1.0; .* negative"),
    (lambda: ternavik.topsis(DATA, [0, 0.0, 0, 0], CODES), "weights are all zero"),
    (lambda: ternavik.topsis(np.ones((3, 0)), [], []), "no criteria"),
    (lambda: ternavik.topsis(DATA, {0: 1, 1: 1, 2: 1, 9: 1}, CODES), "unknown criteria 9"),
    (lambda: ternavik.topsis(DATA, {0: 1, 1: 1, 2: 1}, CODES), "no entry for criteria 3"),
    (lambda: ternavik.topsis([[1, 2], [3]], [1, 1], [1, 1]), "rectangular"),
    (lambda: ternavik.topsis([[1, 2], [3, "x"]], [1, 1], [1, 1]), "criterion #1 .* 'x' "
     r"\(alternative #1\)"),
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
