"""compare, sensitivity and their pictures."""
import sys

import numpy as np
import pytest

import ternavik
from ternavik.methods import topsis
from ternavik.compare import METHODS, Method, compare, rank_rows
from ternavik.sensitivity import sensitivity, weight_grid

pd = pytest.importorskip("pandas")


@pytest.fixture
def suppliers():
    frame = pd.read_csv(f"{ternavik.__path__[0]}/data/suppliers.csv", index_col=0)
    return frame, ["min", "min", "min", "max", "max"]


@pytest.fixture
def reversed_topsis():
    """A second method whose smaller scores are better, registered for one test."""
    METHODS["lower"] = Method(lambda v, w, c: -topsis(v, w, c), False)
    yield "lower"
    del METHODS["lower"]


def test_compare_tables(suppliers, reversed_topsis):
    frame, kinds = suppliers
    result = compare(frame, "critic", kinds, methods="topsis," + reversed_topsis,
                     coefficient="weighted_spearman")
    codes = np.array([0, 0, 0, 1, 1], dtype=np.int64)
    weights = ternavik.weighting.objective_weights(frame.to_numpy(), "critic", codes)
    expected = topsis(frame.to_numpy(), weights, codes)
    assert result.scores["topsis"].to_numpy().tobytes() == expected.tobytes()
    assert list(result.scores.index) == list(frame.index)
    # A method whose smaller scores are better ranks its best first too.
    assert (result.ranks["topsis"] == result.ranks["lower"]).all()
    assert (result.ranks["topsis"].to_numpy() == ternavik.rank(expected)).all()
    assert result.correlation.to_numpy().tolist() == [[1.0, 1.0], [1.0, 1.0]]


@pytest.mark.parametrize("coefficient", ["spearman", "ws", "kendall_tau"])
def test_compare_coefficient_matches_peer(suppliers, coefficient):
    pm_corr = pytest.importorskip("pymcdm.correlations")
    frame, kinds = suppliers
    METHODS["equal_topsis"] = Method(lambda v, w, c: topsis(v, np.full(v.shape[1], 0.2), c))
    try:
        result = compare(frame, "entropy", kinds, ["topsis", "equal_topsis"],
                         coefficient=coefficient)
    finally:
        del METHODS["equal_topsis"]
    peer = {"spearman": pm_corr.spearman, "ws": pm_corr.ws,
            "kendall_tau": pm_corr.kendall_tau}[coefficient]
    a, b = (result.ranks[c].to_numpy(dtype=float) for c in result.ranks.columns)
    assert result.correlation.iloc[0, 1] == pytest.approx(peer(a, b), rel=1e-12)


@pytest.mark.parametrize("call, message", [
    (lambda d, k: compare(d, "critic", k, methods=["topsis", "nope"]), "unknown method"),
    (lambda d, k: compare(d, "critic", k, methods=[]), "at least one method"),
    (lambda d, k: compare(d, "critic", k, methods="topsis,topsis"), "twice"),
    (lambda d, k: compare(d, "critic", k, coefficient="pearson"), "unknown coefficient"),
    (lambda d, k: sensitivity(d, "equal", k, span=(0.5, 0.2)), "span"),
    (lambda d, k: sensitivity(d, "equal", k, criteria=["colour"]), "unknown criterion"),
])
def test_refuses_bad_requests(suppliers, call, message):
    with pytest.raises(ValueError, match=message):
        call(*suppliers)


def test_rank_rows_matches_rank():
    rng = np.random.default_rng(3)
    scores = np.round(rng.random((40, 9)), 1)  # ties
    scores[::7, 2] = np.nan
    ranks = rank_rows(scores)
    for row, got in zip(scores, ranks):
        assert (got == ternavik.rank(row)).all()


def test_weight_grid_keeps_proportions():
    base = np.array([0.5, 0.3, 0.2])
    grid = np.linspace(0, 1, 5)
    rows = weight_grid(base, [1], grid)
    np.testing.assert_allclose(rows.sum(axis=1), 1.0)
    assert (rows[:, 1] == grid).all()
    np.testing.assert_allclose(rows[:-1, 0] / rows[:-1, 2], 2.5)  # t = 1 leaves nothing
    lone = weight_grid(np.array([1.0, 0.0, 0.0]), [0], grid)
    np.testing.assert_allclose(lone[:, 1:], np.outer(1 - grid, [0.5, 0.5]))


def test_sensitivity_against_one_call_per_weight(suppliers):
    frame, kinds = suppliers
    result = sensitivity(frame, "critic", kinds, points=11)
    values = frame.to_numpy()
    codes = np.array([0, 0, 0, 1, 1], dtype=np.int64)
    grid_rows = weight_grid(result.weights, range(5), result.grid)
    expected = np.array([topsis(values, w, codes) for w in grid_rows])
    assert result.scores.reshape(-1, len(frame)).tobytes() == expected.tobytes()
    base = topsis(values, result.weights, codes)
    assert (result.base_ranks == ternavik.rank(base)).all()
    winner = np.argmax(base)
    for c in range(5):
        changed = result.grid[np.argmax(expected.reshape(5, 11, -1)[c], axis=1) != winner]
        if changed.size == 0:
            assert np.isnan(result.switch_weight[c])
        else:
            nearest = changed[np.argmin(np.abs(changed - result.weights[c]))]
            assert result.switch_weight[c] == nearest
            at = list(result.grid).index(nearest)
            new_top = frame.index[np.argmax(expected.reshape(5, 11, -1)[c, at])]
            assert result.summary().loc[frame.columns[c], "top_at_switch"] == new_top


def test_pictures(suppliers, tmp_path):
    pytest.importorskip("matplotlib")
    from ternavik import plots

    frame, kinds = suppliers
    ranks = plots.plot_ranks(compare(frame, "critic", kinds))
    sens = plots.plot_sensitivity(sensitivity(frame, "critic", kinds, points=11))
    assert len(sens.axes) == 6 and sum(a.get_visible() for a in sens.axes) == 5
    for fig, name in [(ranks, "ranks.png"), (sens, "sens.png")]:
        fig.savefig(tmp_path / name)
        assert (tmp_path / name).read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_pictures_name_the_extra(suppliers, monkeypatch):
    from ternavik import plots

    monkeypatch.setitem(sys.modules, "matplotlib", None)
    monkeypatch.setitem(sys.modules, "matplotlib.figure", None)
    with pytest.raises(ImportError, match=r'ternavik\[plot\]'):
        plots.plot_ranks(compare(suppliers[0], "equal", suppliers[1]).ranks)


def test_registry_methods_side_by_side(suppliers):
    from ternavik import methods

    frame, kinds = suppliers
    result = compare(frame, "entropy", kinds, "topsis,vikor,promethee2", coefficient="rw")
    weights = ternavik.weighting.objective_weights(frame, "entropy", kinds)
    q = methods.vikor(frame, weights, kinds).Q
    assert result.scores["vikor"].to_numpy().tobytes() == q.to_numpy().tobytes()
    assert (result.ranks["vikor"].to_numpy() == ternavik.rank(-q.to_numpy())).all()
    # The batched grid of a lower-is-better method ranks like one call per row.
    sens = sensitivity(frame, weights.to_numpy(), kinds, "vikor", criteria=["price"],
                       points=6)
    for t, ranks in zip(sens.grid, sens.ranks[0]):
        w = weight_grid(sens.weights, [0], np.array([t]))[0]
        assert (ranks == ternavik.rank(-methods.vikor(frame.to_numpy(), w, kinds).Q)).all()


def test_command_line_prints_both_tables_and_draws(suppliers, capsys, tmp_path):
    from ternavik.cli import main

    pytest.importorskip("matplotlib")
    frame, kinds = suppliers
    picture = tmp_path / "ranks.png"
    args = ["compare", "--example", "--kinds", "-,-,-,+,+", "--weights", "critic",
            "--methods", "topsis,vikor,promethee2", "--coefficient", "kendall_tau",
            "--plot", str(picture)]
    assert main(args) == 0
    out = capsys.readouterr().out
    assert "Scores" in out and "Ranks (1 = best)" in out and "kendall_tau" in out
    assert picture.read_bytes()[:4] == b"\x89PNG"
    assert main(args[:-2] + ["--csv"]) == 0
    rows = [line.split(",") for line in capsys.readouterr().out.splitlines()]
    expected = compare(frame, "critic", kinds, "topsis,vikor,promethee2")
    assert rows[0] == ["alternative", "topsis", "vikor", "promethee2",
                       "rank_topsis", "rank_vikor", "rank_promethee2"]
    got = np.array([[float(v) for v in row[1:4]] for row in rows[1:]])
    assert got.tobytes() == expected.scores.to_numpy().tobytes()
    assert [[int(v) for v in row[4:]] for row in rows[1:]] == expected.ranks.to_numpy().tolist()


@pytest.mark.parametrize("extra, message", [
    (["--methods", "topsis,nope"], "unknown method 'nope'"),
    (["--coefficient", "pearson"], "unknown coefficient 'pearson'"),
    (["--weights", "heavy"], "got 'heavy'"),
    (["--plot", "/no/such/folder/r.png"], "cannot write the plot"),
])
def test_command_line_mistakes_are_one_line(capsys, extra, message):
    from ternavik.cli import main

    if extra[0] == "--plot":
        pytest.importorskip("matplotlib")
    assert main(["compare", "--example", *extra]) == 2
    err = capsys.readouterr().err
    assert message in err and err.count("\n") == 1


@pytest.mark.parametrize("labelled", [False, True])
def test_propagate_names_the_hole_it_cannot_rank(labelled):
    values = [[1.0, 2.0], [np.nan, 3.0], [2.0, 1.0]]
    data = pd.DataFrame(values, columns=["x", "y"], index=["a", "b", "c"]) if labelled \
        else values
    where = "alternative 'b', criterion 'x'" if labelled else "alternative #1, criterion #0"
    with pytest.raises(ternavik.InputError, match=where + " is missing"):
        ternavik.compare(data, [1, 1], "++", methods=["topsis", "vikor"],
                         nan_policy="propagate")
