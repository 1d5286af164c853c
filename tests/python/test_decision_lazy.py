"""Dask and xarray inputs to the decision front ends: named weightings, labels,
dimension names and non-numeric columns handled up front."""
import warnings

import numpy as np
import pytest

import ternavik
from ternavik import InputError
from ternavik.weighting import objective_weights

da = pytest.importorskip("dask.array")
dd = pytest.importorskip("dask.dataframe")
pd = pytest.importorskip("pandas")

X = np.random.default_rng(11).uniform(1.0, 9.0, (40, 4))
COLUMNS = ["price", "speed", "size", "range"]


def frame():
    return pd.DataFrame(X, columns=COLUMNS, index=[f"a{i}" for i in range(40)])


@pytest.mark.parametrize("weights", ["critic", "sum_entropy", "gini", "merec", "equal"])
@pytest.mark.parametrize("kind", ["array", "frame"])
def test_every_named_weighting_works_on_dask_input(weights, kind):
    lazy = da.from_array(X, chunks=(7, 4)) if kind == "array" else \
        dd.from_pandas(frame(), npartitions=3, sort=False)
    got = np.asarray(ternavik.topsis(lazy, weights, "-+-+").compute())
    want = ternavik.topsis(X, weights, "-+-+")
    assert got.tobytes() == np.asarray(want).tobytes()


def test_dask_frames_keep_their_labels_in_weights_and_compare():
    lazy = dd.from_pandas(frame(), npartitions=4, sort=False)
    w = objective_weights(lazy, "critic", "-+-+")
    assert list(w.index) == COLUMNS
    eager = objective_weights(frame(), "critic", "-+-+")
    assert w.to_numpy().tobytes() == eager.to_numpy().tobytes()
    result = ternavik.compare(lazy, "critic", "-+-+", methods=["topsis", "vikor"])
    assert list(result.scores.index) == list(frame().index)


def test_a_text_column_in_a_dask_frame_is_refused_at_once():
    text = frame().assign(size=["big"] * 40)
    with pytest.raises(InputError, match="criterion 'size' is not numeric"):
        ternavik.topsis(dd.from_pandas(text, npartitions=2), "equal", "-+-+")


def test_a_wrong_criteria_dimension_is_an_input_error():
    xr = pytest.importorskip("xarray")
    lazy = xr.DataArray(da.from_array(X, chunks=(10, 4)), dims=("alt", "crit"))
    with pytest.raises(InputError, match="criteria_dim 'band'"):
        ternavik.topsis(lazy, "equal", "-+-+", criteria_dim="band")


def test_in_memory_xarray_follows_its_criteria_dimension():
    xr = pytest.importorskip("xarray")
    cube = xr.DataArray(X.T, dims=("crit", "alt"), coords={"crit": COLUMNS})
    got = ternavik.topsis(cube, {"price": 1, "speed": 2, "size": 1, "range": 1},
                          "-+-+", criteria_dim="crit")
    want = ternavik.topsis(X, [1, 2, 1, 1], "-+-+")
    assert got.dims == ("alt",)
    assert np.asarray(got).tobytes() == np.asarray(want).tobytes()
    weights, scores = ternavik.entropy_weight(cube, "-+-+", criteria_dim="crit")
    assert list(weights.index) == COLUMNS and scores.dims == ("alt",)
    with pytest.raises(InputError, match="criteria_dim"):
        ternavik.topsis(cube, "equal", "-+-+", criteria_dim="band")


@pytest.mark.parametrize("column, weight", [(1e200, 1.0), (1e-200, 1.0), (1.0, 1e160),
                                            (1.0, 1e-170)])
@pytest.mark.parametrize("chunk", [7, 40])
def test_lazy_topsis_matches_eager_bits_at_extreme_magnitudes(column, weight, chunk):
    # The block that first holds the largest value comes in the middle, so the
    # scan changes its scale part way through the rows.
    x = np.random.default_rng(0).uniform(1.0, 10.0, (40, 3))
    x[:, 1] *= column
    x[20, 1] *= 1e50 if column != 1.0 else 1.0
    w = np.array([0.3, 0.3, 0.4]) * weight
    eager = ternavik.topsis(x, w, "+-+")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        lazy = ternavik.topsis(da.from_array(x, chunks=(chunk, 3)), w, "+-+").compute()
    assert np.isfinite(lazy).all()
    assert lazy.tobytes() == eager.tobytes()
