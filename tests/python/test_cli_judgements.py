"""The `ahp` and `smaa` subcommands, driven in-process through main()."""

import csv
import io

import numpy as np
import pytest

from ternavik.cli import main
from ternavik.subjective import ahp

PAIRWISE = ",price,storage,camera\nprice,1,3,5\nstorage,1/3,1,2\ncamera,1/5,1/2,1\n"
PHONES = "phone,price,storage,camera\nAster,250,16,12\nBirch,200,16,8\nCedar,300,32,16\n"


def write(tmp_path, text, name="m.csv"):
    path = tmp_path / name
    path.write_text(text)
    return str(path)


@pytest.mark.parametrize("text", [PAIRWISE, PAIRWISE.split("\n", 1)[0].lstrip(",") + "\n"
                                  + "\n".join(r.split(",", 1)[1] for r in
                                              PAIRWISE.strip().split("\n")[1:]) + "\n"])
def test_ahp_reads_fractions_with_or_without_a_name_column(tmp_path, capsys, text):
    assert main(["ahp", "--csv", write(tmp_path, text)]) == 0
    rows = list(csv.reader(io.StringIO(capsys.readouterr().out)))
    want = ahp([[1, 3, 5], [1 / 3, 1, 2], [1 / 5, 1 / 2, 1]]).weights
    assert [r[0] for r in rows[1:]] == ["price", "storage", "camera"]
    np.testing.assert_array_equal([float(r[1]) for r in rows[1:]], want)


def test_ahp_table_says_whether_the_judgements_are_consistent(tmp_path, capsys):
    assert main(["ahp", write(tmp_path, PAIRWISE)]) == 0
    assert "(consistent)" in capsys.readouterr().out
    bad = ",a,b,c\na,1,9,1/9\nb,1/9,1,9\nc,9,1/9,1\n"
    assert main(["ahp", write(tmp_path, bad)]) == 0
    assert "INCONSISTENT" in capsys.readouterr().out


@pytest.mark.parametrize("text, message", [
    (",a,b\na,1,2\n", "not square"),
    (",a,b\na,1,x\nb,1,1\n", "not a number or a fraction"),
    (",a,b\na,1,1/0\nb,1,1\n", "not a number or a fraction"),
    (",a,b\na,1,2\nb,2,1\n", "not reciprocal: ('a', 'b') is 2.0 but ('b', 'a') is 2.0"),
    ("a,b\n2,1/2\n2,1\n", "comparison ('a', 'a') is 2.0"),
    # Row names must be the header's criteria, in its order.
    (",a,b,c\na,1,2,4\nb,1/2,1,2\nd,1/4,1/2,1\n", "names its rows a, b, d"),
    (",a,b\nb,1/2,1\na,1,2\n", "names its rows b, a"),
    (",a,a\na,1,1\na,1,1\n", "'a' occurs more than once"),
    (",a,b,c\na,1,2\nb,1/2,1,2\nc,1/4,1/2,1\n", "row 2 has 3 cells, the header has 4"),
    (",a,b\na,1,2\nb,1/2,1\nc,1,1\n", "2 criteria in the header, 3 rows"),
    ("a,b,c\n1,2,4\n1/2,1,2\n", "3 criteria in the header, 2 rows"),
])
def test_ahp_mistakes_are_one_line_and_status_two(tmp_path, capsys, text, message):
    assert main(["ahp", write(tmp_path, text)]) == 2
    err = capsys.readouterr().err
    assert message in err and err.count("\n") == 1


def test_smaa_csv_rows_are_shares_and_the_plot_is_written(tmp_path, capsys):
    pytest.importorskip("matplotlib")
    picture = tmp_path / "chart.png"
    argv = ["smaa", write(tmp_path, PHONES), "--kinds", "-++", "--samples", "500",
            "--seed", "3", "--csv", "--plot", str(picture)]
    assert main(argv) == 0
    rows = list(csv.reader(io.StringIO(capsys.readouterr().out)))
    assert rows[0] == ["alternative", "rank_1", "rank_2", "rank_3", "confidence"]
    shares = np.array([[float(v) for v in r[1:4]] for r in rows[1:]])
    np.testing.assert_allclose(shares.sum(axis=1), 1.0)
    assert picture.stat().st_size > 0
    assert main(argv[:-2]) == 0
    assert capsys.readouterr().out == "\n".join(",".join(r) for r in rows) + "\n"


def test_smaa_plot_goes_to_exactly_the_path_given(tmp_path, capsys):
    pytest.importorskip("matplotlib")
    argv = ["smaa", write(tmp_path, PHONES), "--kinds", "-++", "--samples", "50", "--plot"]
    assert main([*argv, str(tmp_path / "chart")]) == 0
    assert (tmp_path / "chart").stat().st_size > 0 and not (tmp_path / "chart.png").exists()
    folder = tmp_path / "pictures"
    folder.mkdir()
    capsys.readouterr()
    assert main([*argv, str(folder)]) == 2
    assert "is a folder" in capsys.readouterr().err
    assert not (tmp_path / "pictures.png").exists()


def test_smaa_table_and_refusals(tmp_path, capsys):
    path = write(tmp_path, PHONES)
    assert main(["smaa", path, "--kinds", "-++", "--samples", "200", "--seed", "1",
                 "--method", "vikor"]) == 0
    out = capsys.readouterr().out
    assert "Rank acceptability" in out and "Central weights and confidence" in out
    assert main(["smaa", path, "--kinds", "-++", "--samples", "0"]) == 2
    assert main(["smaa", path, "--kinds", "-++", "--method", "nope"]) == 2
    assert "method must be one of" in capsys.readouterr().err
    # A missing value cannot be passed on to sampled ranks: refused by name.
    holed = write(tmp_path, PHONES.replace("Birch,200,", "Birch,,"), "holed.csv")
    assert main(["smaa", holed, "--kinds", "-++", "--nan-policy", "propagate"]) == 2
    assert "alternative 'Birch', criterion 'price'" in capsys.readouterr().err
