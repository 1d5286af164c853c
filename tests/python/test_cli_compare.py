"""`ternavik compare` with AHP weights and an SMAA column, driven in-process
through main(), and the same choices through ternavik.compare."""

import csv
import io

import numpy as np
import pytest

import ternavik
from ternavik.cli import main
from ternavik.subjective import ahp

pd = pytest.importorskip("pandas")

# The judgements name the criteria in another order than the data: they are
# matched by name.
PAIRWISE = ",storage,price,camera\nstorage,1,1/3,2\nprice,3,1,5\ncamera,1/2,1/5,1\n"
PHONES = ("phone,price,storage,camera\nAster,250,16,12\nBirch,200,16,8\nCedar,300,32,16\n"
          "Dune,275,32,8\n")
JUDGED = ahp(pd.DataFrame([[1, 1 / 3, 2], [3, 1, 5], [1 / 2, 1 / 5, 1]],
                          index=["storage", "price", "camera"],
                          columns=["storage", "price", "camera"]))


def write(tmp_path, text, name):
    path = tmp_path / name
    path.write_text(text)
    return str(path)


def run_csv(capsys, argv):
    assert main(argv) == 0
    return list(csv.reader(io.StringIO(capsys.readouterr().out)))


@pytest.fixture
def files(tmp_path):
    return write(tmp_path, PHONES, "phones.csv"), write(tmp_path, PAIRWISE, "judged.csv")


def frame():
    return pd.read_csv(io.StringIO(PHONES), index_col=0)


def test_ahp_weights_rank_as_the_library_does_with_the_ahp_result(files, capsys):
    phones, judged = files
    rows = run_csv(capsys, ["compare", phones, "--kinds", "-++", "--methods", "topsis,vikor",
                            "--weights-ahp", judged, "--csv"])
    want = ternavik.compare(frame(), JUDGED, "-++", methods="topsis,vikor")
    assert rows[0] == ["alternative", "topsis", "vikor", "rank_topsis", "rank_vikor"]
    got = np.array([[float(v) for v in r[1:3]] for r in rows[1:]])
    assert got.tobytes() == want.scores.to_numpy().tobytes()
    same = ternavik.compare(frame(), JUDGED.weights, "-++", methods="topsis,vikor")
    assert same.scores.equals(want.scores)
    assert main(["compare", phones, "--kinds", "-++", "--weights-ahp", judged]) == 0
    out = capsys.readouterr().out
    assert "AHP judgements" in out and "(consistent)" in out
    assert f"{JUDGED.weights['price']:.6f}" in out


def test_smaa_column_is_the_expected_rank_and_repeats_with_a_seed(files, capsys):
    phones, _ = files
    argv = ["compare", phones, "--kinds", "-++", "--methods", "topsis,vikor", "--weights",
            "1,1,1", "--smaa", "3000", "--seed", "7", "--csv"]
    rows = run_csv(capsys, argv)
    assert rows[0] == ["alternative", "topsis", "vikor", "smaa", "rank_topsis", "rank_vikor",
                       "rank_smaa"]
    shares = ternavik.smaa(frame().to_numpy(), "-++", samples=3000, seed=7).acceptability
    expected = shares @ np.arange(1, 5)
    np.testing.assert_allclose([float(r[3]) for r in rows[1:]], expected, rtol=1e-15)
    assert [int(r[6]) for r in rows[1:]] == ternavik.rank(
        ternavik.Scores(expected, False)).tolist()
    assert run_csv(capsys, argv) == rows
    # The other columns are what they are without --smaa.
    plain = run_csv(capsys, argv[:8] + ["--csv"])
    assert [r[:3] + r[4:6] for r in rows] == plain
    assert main(argv[:-1] + ["--smaa-method", "vikor"]) == 0
    assert "expected rank by vikor over 3000" in capsys.readouterr().out


@pytest.mark.parametrize("extra, message", [
    (["--weights", "1,1,1", "--weights-ahp", "JUDGED"], "not both"),
    (["--smaa", "0"], "--smaa must be at least 1"),
    (["--smaa-method", "vikor"], "--smaa-method needs --smaa"),
    (["--smaa", "10", "--smaa-method", "nope"], "unknown method 'nope'"),
    (["--smaa", "10", "--smaa-method", "smaa"], "not by smaa itself"),
    (["--weights-ahp", "MISSING"], "cannot read"),
])
def test_mistakes_are_one_line_and_status_two(files, capsys, extra, message):
    phones, judged = files
    extra = [judged if a == "JUDGED" else a + "-missing.csv" if a == "MISSING" else a
             for a in extra]
    assert main(["compare", phones, "--kinds", "-++", *extra]) == 2
    err = capsys.readouterr().err
    assert message in err and err.count("\n") == 1


def test_data_and_judgements_cannot_both_come_from_standard_input(capsys, monkeypatch):
    monkeypatch.setattr("sys.stdin", io.StringIO(PHONES))
    assert main(["compare", "-", "--kinds", "-++", "--weights-ahp", "-"]) == 2
    assert "cannot both be read from standard input" in capsys.readouterr().err


def test_judgements_must_name_the_data_criteria_and_inconsistency_is_warned(tmp_path, capsys):
    phones = write(tmp_path, PHONES, "phones.csv")
    other = write(tmp_path, ",price,size\nprice,1,2\nsize,1/2,1\n", "other.csv")
    assert main(["compare", phones, "--kinds", "-++", "--weights-ahp", other]) == 2
    assert "size" in capsys.readouterr().err
    wild = write(tmp_path, ",price,storage,camera\nprice,1,9,1/9\nstorage,1/9,1,9\n"
                           "camera,9,1/9,1\n", "wild.csv")
    assert main(["compare", phones, "--kinds", "-++", "--weights-ahp", wild, "--csv"]) == 0
    captured = capsys.readouterr()
    assert "warning: the AHP judgements" in captured.err
    assert captured.out.startswith("alternative,topsis")


def test_compare_takes_smaa_variants_and_refuses_bad_options():
    result = ternavik.compare(frame(), "equal", "-++", methods={
        "ranked": ("smaa", {"samples": 500, "seed": 2}),
        "first": ("smaa", {"samples": 500, "seed": 2, "measure": "first_rank",
                           "normalization": "minmax"})})
    assert result.higher_is_better.tolist() == [False, True]
    assert result.scores["ranked"].between(1, 4).all()
    assert result.scores["first"].sum() == pytest.approx(1.0)
    # SMAA's weights by label on labelled data: put in the criteria's order.
    by_label, by_position = ({"samples": 300, "seed": 4, "weights": w} for w in
                             ({"camera": 3, "price": 1, "storage": 2}, [1, 2, 3]))
    assert ternavik.compare(frame(), "equal", "-++", methods=[("smaa", by_label)]).scores \
        .to_numpy().tolist() == ternavik.compare(frame(), "equal", "-++", methods=[
            ("smaa", by_position)]).scores.to_numpy().tolist()
    for options, message in [({"measure": "mean"}, "measure"),
                             ({"method": "nope"}, "unknown method"),
                             ({"normalisation": "minmax"}, "takes the options")]:
        with pytest.raises(ternavik.InputError, match=message):
            ternavik.compare(frame(), "equal", "-++", methods=[("smaa", options)])
    sweep = ternavik.sensitivity(frame(), "equal", "-++", ("smaa", {"samples": 200, "seed": 1}),
                                 points=3)
    assert np.ptp(sweep.ranks, axis=(0, 1)).max() == 0  # SMAA draws its own weights


def test_propagate_names_the_hole_by_the_file_s_labels(tmp_path, capsys):
    holes = write(tmp_path, "name,x,y\na,1,2\nb,,3\nc,2,1\n", "holes.csv")
    assert main(["compare", str(holes), "--kinds", "++", "--methods", "topsis,vikor",
                 "--nan-policy", "propagate"]) == 2
    assert "alternative 'b', criterion 'x' is missing" in capsys.readouterr().err
