"""The command line, driven as a user would: real files, a real process."""

import csv
import io
import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

import ternavik

GOOD = "phone,price,storage,camera\nAster,250,16,12\nBirch,200,16,8\nCedar,300,32,16\n"


def run(*args, cwd=None, stdin=None):
    """Run `python -m ternavik` and return (status, stdout, stderr)."""
    done = subprocess.run([sys.executable, "-m", "ternavik", *args], cwd=cwd, input=stdin,
                          capture_output=True, text=True, timeout=120)
    return done.returncode, done.stdout, done.stderr


def closeness_column(out):
    return [float(r[1]) for r in list(csv.reader(io.StringIO(out)))[1:]]


GOOD_DATA = [[250, 16, 12], [200, 16, 8], [300, 32, 16]]


def write(tmp_path, text, name="m.csv"):
    path = tmp_path / name
    path.write_text(text)
    return str(path)


@pytest.mark.parametrize("command", ["topsis", "entropy"])
def test_example_runs(command):
    status, out, err = run(command, "--example")
    assert status == 0 and err == ""
    assert "Harrowgate Alloys" in out and "rank" in out and "capacity" in out


@pytest.mark.parametrize("text, names", [
    (GOOD, ["Aster", "Birch", "Cedar"]),                                  # name column
    (",price,storage,camera\n1,250,16,12\n2,200,16,8\n3,300,32,16\n", ["1", "2", "3"]),
    ("price,storage,camera\n250,16,12\n200,16,8\n\n300,32,16\n", ["1", "2", "3"]),
])
def test_csv_output_matches_the_library(tmp_path, text, names):
    status, out, err = run("topsis", write(tmp_path, text), "--kinds", "min,max,max",
                           "--weights", "price=2,storage=1,camera=1", "--csv")
    assert status == 0 and err == ""
    rows = list(csv.reader(io.StringIO(out)))
    assert rows[0] == ["alternative", "closeness", "rank"]
    expected = ternavik.topsis([[250, 16, 12], [200, 16, 8], [300, 32, 16]], [2.0, 1.0, 1.0],
                               "-++")
    assert [r[0] for r in rows[1:]] == names
    assert [float(r[1]) for r in rows[1:]] == expected.tolist()      # repr round-trips
    assert [int(r[2]) for r in rows[1:]] == ternavik.rank(expected).tolist()


def test_entropy_weights_feed_topsis(tmp_path):
    path = write(tmp_path, GOOD)
    status, out, _ = run("topsis", path, "--kinds=-,+,+", "--weights", "entropy", "--csv")
    weights, _ = ternavik.entropy_weight(GOOD_DATA, "-++")
    assert status == 0
    assert closeness_column(out) == ternavik.topsis(GOOD_DATA, weights, "-++").tolist()


@pytest.mark.parametrize("args, text, message", [
    (["topsis", "{missing}", "--kinds", "+++"], None, "cannot read"),
    (["topsis", "{file}", "--kinds", "+++"], GOOD + "Dogwood,1,2\n", "row 5 has 3 cells"),
    (["topsis", "{file}", "--kinds", "+++"], GOOD.replace("300", "3OO"),
     "criterion 'price': '3OO' is not a number"),
    (["topsis", "{file}", "--kinds", "+,+"], GOOD, "kinds has 2 entries but data has 3"),
    (["topsis", "{file}", "--kinds", "+++", "--weights", "1,2"], GOOD,
     "weights has 2 entries but data has 3"),
    (["topsis", "{file}", "--kinds", "+++", "--weights", "1,x,1"], GOOD,
     "weight 'x' of criterion 'storage'"),
    (["topsis", "{file}", "--kinds", "+,+,best"], GOOD, "kind 'best' of criterion 'camera'"),
    (["entropy", "{file}"], GOOD, "--kinds is required"),
    (["entropy", "{file}", "--kinds", "+++"], "a,b,c\n1,2,3\n", "at least two alternatives"),
    (["entropy", "{file}", "--kinds", "+++"], "a,b,c\n", "at least one row"),
    (["entropy", "{file}", "--kinds", "+++"], "a,b,c\n1,2,3\n4,5,6\n7,8\n", "row 4"),
    (["entropy", "--kinds", "+++"], None, "either a CSV file"),
    (["entropy", "{file}", "--kinds", "+++", "--delimiter", ";;"], GOOD, "one character"),
    (["topsis", "{file}", "--kinds", "-++", "--weights", "0,0,0"], GOOD, "all zero"),
    (["topsis", "{file}", "--kinds", "-++", "--weights", "-1,1,1"], GOOD, "must not be negative"),
    (["topsis", "{file}", "--kinds", "-++", "--weights", "heavy"], GOOD, "got 'heavy'"),
    (["topsis", "{file}", "--kinds", "-++"], GOOD.replace("200", ""),
     "alternative 'Birch', criterion 'price' is missing"),
    (["entropy", "{file}", "--kinds", "-++"], GOOD.replace("200", "inf"),
     "alternative 'Birch', criterion 'price' is infinite"),
    (["topsis", "{file}", "--kinds", "-++", "--nan-policy", "omit"],
     GOOD.replace("200", "NA").replace("300", "nan"), "only 1 of 3 alternatives"),
    (["topsis", "{file}", "--kinds", "-++", "--nan-policy", "drop"], GOOD, "invalid choice"),
    (["topsis", "{file}", "--kinds", "-++"], GOOD.replace("camera", "price"),
     "criterion 'price' occurs more than once"),
    (["optimize", "sphere", "--pop", "4611686018427387904"], None, "too large"),
    (["optimize", "sphere", "--iters", "99999999999999999999"], None, "iters must be"),
    (["optimize", "sphere", "--pop", "100000000", "--dims", "100"], None, "GiB"),
    (["optimize", "sphere", "--pop", "4", "--dims", "100000000000"], None, "GiB"),
    (["optimize", "sphere", "--F", "3"], None, "F must lie in (0, 2]"),
    (["optimize", "sphere", "--CR", "nan"], None, "CR must lie in [0, 1]"),
    (["optimize", "himmelblau"], None, "unknown function 'himmelblau'"),
    (["optimize", "sphere", "--pop", "3"], None, "pop must be at least 4"),
    (["optimize", "sphere", "--bounds", "1", "-1"], None, "dimension 0"),
    (["optimize", "sphere", "--dims", "two"], None, "invalid int value"),
    (["frobnicate"], None, "invalid choice"),
])
def test_bad_input_is_one_line_and_status_2(tmp_path, args, text, message):
    path = write(tmp_path, text) if text is not None else None
    args = [a.format(file=path, missing=str(tmp_path / "nope.csv")) for a in args]
    status, out, err = run(*args)
    assert status == 2, err
    assert out == "" and "Traceback" not in err
    assert err.count("\n") == 1 and err.startswith("ternavik: error: ")
    assert message in err


@pytest.mark.parametrize("name", ["sphere", "rastrigin", "rosenbrock", "ackley"])
def test_optimize_prints_best_value_and_position(name):
    status, out, err = run("optimize", name, "--dims", "2", "--pop", "10", "--iters", "30")
    assert status == 0 and err == ""
    lines = dict(line.split(None, 1) for line in out.splitlines())
    assert lines["evaluations"].startswith("310 ")
    position = np.array(lines["position"].split(), dtype=float)
    value = getattr(ternavik.functions, name)(position[None, :])[0]
    assert float(lines["best"].split()[-1]) == pytest.approx(value, rel=1e-6, abs=1e-9)


@pytest.mark.parametrize("delimiter, option", [
    (";", []), ("\t", []), ("|", []), ("\t", ["--delimiter", "tab"]),
    ("\t", ["--delimiter", "\\t"]), ("\t", ["--delimiter", "\t"]), (";", ["--delimiter", ";"]),
])
@pytest.mark.parametrize("source", ["file", "stdin"])
def test_separators_and_standard_input(tmp_path, delimiter, option, source):
    text = GOOD.replace(",", delimiter)
    args = [write(tmp_path, text) if source == "file" else "-"]
    status, out, err = run("topsis", *args, "--kinds", "-++", "--csv", *option,
                           stdin=text if source == "stdin" else None)
    assert status == 0 and err == ""
    assert closeness_column(out) == ternavik.topsis(GOOD_DATA, "equal", "-++").tolist()


@pytest.mark.parametrize("kinds", [["--kinds", "-,+,+"], ["--kinds", "-++"], ["--kinds=-,+,+"],
                                   ["--kinds", "min,max,max"]])
def test_kinds_starting_with_a_minus(tmp_path, kinds):
    status, out, err = run("topsis", write(tmp_path, GOOD), *kinds, "--csv")
    assert status == 0 and err == ""
    assert closeness_column(out) == ternavik.topsis(GOOD_DATA, "equal", "-++").tolist()


@pytest.mark.parametrize("policy", ["omit", "propagate"])
def test_nan_policy_option(tmp_path, policy):
    text = GOOD + "Dogwood,275,,8\n"
    status, out, err = run("topsis", write(tmp_path, text), "--kinds", "-++", "--csv",
                           "--nan-policy", policy)
    data = GOOD_DATA + [[275, np.nan, 8]]
    expected = ternavik.topsis(data, "equal", "-++", nan_policy=policy)
    assert status == 0 and err == ""
    assert np.array_equal(closeness_column(out), expected, equal_nan=True)
    status, out, _ = run("topsis", write(tmp_path, text), "--kinds", "-++",
                         "--nan-policy", policy)
    if policy == "omit":
        assert "(1 left out for missing or infinite values)" in out
        assert out.rstrip().splitlines()[-1].split() == ["-", "Dogwood", "omitted"]


def test_entropy_csv_has_weights_and_scores(tmp_path):
    status, out, err = run("entropy", write(tmp_path, GOOD), "--kinds", "-++", "--csv")
    weights, scores = ternavik.entropy_weight(GOOD_DATA, "-++")
    rows = list(csv.reader(io.StringIO(out)))
    assert status == 0 and err == "" and rows[0] == ["section", "name", "value", "rank"]
    assert rows[1:4] == [["weight", name, repr(float(w)), ""]
                         for name, w in zip(["price", "storage", "camera"], weights)]
    assert rows[4:] == [["score", name, repr(float(s)), str(r)] for name, s, r in
                        zip(["Aster", "Birch", "Cedar"], scores, ternavik.rank(scores))]


def test_example_table_is_sorted_by_rank():
    status, out, _ = run("topsis", "--example")
    ranks = [int(line.split()[0]) for line in out.splitlines()
             if line[:4].strip().isdigit()]
    assert status == 0 and ranks == list(range(1, 11))


def test_version():
    status, out, err = run("--version")
    assert status == 0 and out == f"ternavik {ternavik.__version__}\n"


def test_console_script_is_installed():
    script = shutil.which("ternavik", path=os.path.dirname(sys.executable))
    if script is None:
        pytest.skip("ternavik is not installed as a console script here")
    done = subprocess.run([script, "entropy", "--example", "--csv"], capture_output=True,
                          text=True, timeout=120)
    assert done.returncode == 0 and done.stdout.startswith("section,name,value,rank")
