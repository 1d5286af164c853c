"""The command line's decision commands on the inputs analysts actually have:
cost criteria first, European decimal commas, empty name columns, extreme
weights, full disks and folders given as file names."""
import csv
import io
import os
import subprocess
import sys

import numpy as np
import pytest

import ternavik
from ternavik.cli import build_parser, main

GOOD = "phone,price,storage,camera\nAster,250,16,12\nBirch,200,16,8\nCedar,300,32,16\n"
GOOD_DATA = [[250, 16, 12], [200, 16, 8], [300, 32, 16]]


def write(tmp_path, text, name="m.csv"):
    path = tmp_path / name
    path.write_text(text)
    return str(path)


def closeness(out):
    return [float(r[1]) for r in list(csv.reader(io.StringIO(out)))[1:]]


def run_main(capsys, *args):
    status = main(list(args))
    out, err = capsys.readouterr()
    return status, out, err


@pytest.mark.parametrize("kinds, expected", [("--+", "--+"), ("---", "---"), ("-+-", "-+-")])
def test_kinds_may_start_with_two_cost_signs(tmp_path, capsys, kinds, expected):
    status, out, err = run_main(capsys, "topsis", write(tmp_path, GOOD), "--kinds", kinds,
                                "--csv")
    assert status == 0, err
    assert closeness(out) == ternavik.topsis(GOOD_DATA, "equal", expected).tolist()


def test_decimal_commas_with_semicolons(tmp_path, capsys):
    text = "phone;price;storage;camera\nAster;250,5;16;12,25\nBirch;200;16;8\nCedar;300;32;16\n"
    status, out, err = run_main(capsys, "topsis", write(tmp_path, text), "--kinds", "-++",
                                "--decimal", ",", "--csv")
    assert status == 0, err
    data = [[250.5, 16, 12.25], [200, 16, 8], [300, 32, 16]]
    assert closeness(out) == ternavik.topsis(data, "equal", "-++").tolist()
    # Without the option the same file is refused, naming the cell.
    status, out, err = run_main(capsys, "topsis", write(tmp_path, text), "--kinds", "-++")
    assert status == 2 and "'250,5' is not a number" in err


@pytest.mark.parametrize("args, message", [
    (["--weights", "price=1,price=2,storage=1,camera=1"], "more than one weight for 'price'"),
    (["--decimal", ",", "--delimiter", ","], "both ','"),
])
def test_ambiguous_options_are_refused(tmp_path, capsys, args, message):
    status, out, err = run_main(capsys, "topsis", write(tmp_path, GOOD), "--kinds", "-++",
                                *args)
    assert status == 2 and message in err and err.count("\n") == 1


def test_an_all_missing_first_column_is_a_criterion_not_names(tmp_path, capsys):
    text = "score,price,storage\nNA,250,16\nNA,200,16\nNA,300,32\n"
    status, out, err = run_main(capsys, "topsis", write(tmp_path, text), "--kinds", "+-+")
    assert status == 2
    assert "criterion 'score'" in err and "--nan-policy omit" in err
    assert "nan_policy" not in err


def test_extreme_weights_rank_like_ordinary_ones(tmp_path, capsys):
    path = write(tmp_path, GOOD)
    status, base, _ = run_main(capsys, "topsis", path, "--kinds", "-++", "--weights",
                               "1,1,1", "--csv")
    for weights in ("1e160,1e160,1e160", "1e-170,1e-170,1e-170"):
        status, out, err = run_main(capsys, "topsis", path, "--kinds", "-++", "--weights",
                                    weights, "--csv")
        assert status == 0 and "omitted" not in out
        np.testing.assert_allclose(closeness(out), closeness(base), rtol=1e-13)


def test_bounds_take_exponents_and_negative_values(capsys):
    status, out, err = run_main(capsys, "optimize", "sphere", "--dims", "2", "--pop", "8",
                                "--iters", "5", "--seed", "1", "--bounds", "-1e3", "1e3")
    assert status == 0, err
    assert "[-1000, 1000]" in out


def test_plot_into_a_folder_is_refused_and_a_bare_name_is_kept(tmp_path, capsys):
    pytest.importorskip("matplotlib")
    status, out, err = run_main(capsys, "compare", "--example", "--plot", str(tmp_path))
    assert status == 2 and "is a folder" in err
    assert not os.path.exists(str(tmp_path) + ".png")
    bare = tmp_path / "ranks"
    status, out, err = run_main(capsys, "compare", "--example", "--plot", str(bare))
    assert status == 0 and bare.read_bytes()[:4] == b"\x89PNG"


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
@pytest.mark.parametrize("command", ["topsis", "compare", "entropy"])
def test_a_full_disk_is_one_line_not_a_traceback(command):
    with open("/dev/full", "w") as full:
        done = subprocess.run([sys.executable, "-m", "ternavik", command, "--example"],
                              stdout=full, stderr=subprocess.PIPE, text=True, timeout=120)
    assert done.returncode == 1
    assert "Traceback" not in done.stderr and done.stderr.count("\n") == 1
    assert "cannot write the output" in done.stderr


def _help_texts():
    parser = build_parser()
    texts = {"ternavik": parser.format_help()}
    for action in parser._subparsers._group_actions:  # the subcommands' own parsers
        for name, sub in action.choices.items():
            texts[name] = sub.format_help()
    return texts


@pytest.mark.parametrize("name, text", sorted(_help_texts().items()),
                         ids=sorted(_help_texts()))
def test_help_reads_cleanly(name, text):
    assert "``" not in text and ":func:" not in text, name
    description = text.split("\n\n")[1].strip()
    assert description.endswith("."), (name, description)


def test_compare_command_takes_the_new_order(capsys):
    status, out, err = run_main(capsys, "compare", "--example", "--methods", "topsis,mairca",
                                "--csv")
    assert status == 0, err
    rows = list(csv.reader(io.StringIO(out)))
    assert rows[0] == ["alternative", "topsis", "mairca", "rank_topsis", "rank_mairca"]
