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


def run(*args, cwd=None):
    """Run `python -m ternavik` and return (status, stdout, stderr)."""
    done = subprocess.run([sys.executable, "-m", "ternavik", *args], cwd=cwd,
                          capture_output=True, text=True, timeout=120)
    return done.returncode, done.stdout, done.stderr


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
    data = [[250, 16, 12], [200, 16, 8], [300, 32, 16]]
    weights, _ = ternavik.entropy_weight(data, "-++")
    assert status == 0
    assert [float(r[1]) for r in list(csv.reader(io.StringIO(out)))[1:]] == \
        ternavik.topsis(data, weights, "-++").tolist()


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
    (["entropy", "--kinds", "+++"], None, "either a CSV file or --example"),
    (["entropy", "{file}", "--kinds", "+++", "--delimiter", ";;"], GOOD, "one character"),
    (["optimize", "himmelblau"], None, "unknown function 'himmelblau'"),
    (["optimize", "sphere", "--pop", "3"], None, "--pop must be at least 4"),
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


def test_console_script_is_installed():
    script = shutil.which("ternavik", path=os.path.dirname(sys.executable))
    if script is None:
        pytest.skip("ternavik is not installed as a console script here")
    done = subprocess.run([script, "entropy", "--example", "--csv"], capture_output=True,
                          text=True, timeout=120)
    assert done.returncode == 0 and done.stdout.startswith("alternative,score,rank")
