"""The analyst's page in a real browser: what a person does on it, and that the
numbers it shows are exactly those of ``ternavik.compare``.

Runs Debian's chromium through Playwright against a `ternavik serve` child
process on a loopback port.
"""

import csv
import io
import os

import numpy as np
import pytest

pytest.importorskip("starlette", reason="the web extra (starlette) is not installed")
pytest.importorskip("playwright.sync_api", reason="playwright is not installed")
pandas = pytest.importorskip("pandas", reason="the page's results need pandas")
CHROMIUM = "/usr/bin/chromium"
if not os.access(CHROMIUM, os.X_OK):
    pytest.skip(f"no chromium at {CHROMIUM} (apt-get install chromium)",
                allow_module_level=True)

from playwright.sync_api import sync_playwright  # noqa: E402

import ternavik  # noqa: E402
from test_serve import EXAMPLE, Server  # noqa: E402

READY = "[data-testid=results][data-state=ready]"
DEFAULT_METHODS = ["topsis", "vikor", "promethee2"]


@pytest.fixture(scope="module")
def server():
    running = Server()
    yield running
    running.stop()


@pytest.fixture(scope="module")
def browser():
    with sync_playwright() as playwright:
        launched = playwright.chromium.launch(executable_path=CHROMIUM)
        yield launched
        launched.close()


@pytest.fixture
def page(browser, server):
    context = browser.new_context(accept_downloads=True, viewport={"width": 1400, "height": 1000})
    opened = context.new_page()
    errors = []
    opened.on("pageerror", lambda error: errors.append(str(error)))
    opened.goto(server.url)
    opened.wait_for_selector(READY)
    yield opened
    context.close()
    assert errors == []


def table(page, testid):
    return page.eval_on_selector_all(
        f"[data-testid={testid}] tbody tr",
        "rows => rows.map(r => [...r.cells].map(c => c.textContent))")


def frame(cells, alternatives, criteria):
    return pandas.DataFrame(np.array([[float(c) if c else np.nan for c in row] for row in cells]),
                            index=alternatives, columns=criteria)


def assert_shows(page, data, kinds, weights, methods):
    """The ranks and scores tables hold exactly what compare returns."""
    want = ternavik.compare(data=data, kinds=kinds, weights=weights, methods=methods)
    ranks = table(page, "ranks-table")
    assert [r[0] for r in ranks] == [str(a) for a in data.index]
    assert [[int(v) for v in r[1:]] for r in ranks] == want.ranks.to_numpy().tolist()
    scores = table(page, "scores-table")
    assert [[float(v) for v in r[1:]] for r in scores] == want.scores.to_numpy().tolist()


def example_frame():
    return frame(EXAMPLE["cells"], EXAMPLE["alternatives"], EXAMPLE["criteria"])


EXAMPLE_WEIGHTS = [float(w) for w in EXAMPLE["weights"]]


def test_the_example_shows_the_library_numbers(page):
    assert_shows(page, example_frame(), EXAMPLE["kinds"], EXAMPLE_WEIGHTS, DEFAULT_METHODS)
    headers = page.eval_on_selector_all("[data-testid=scores-table] thead th",
                                        "cells => cells.map(c => c.textContent)")
    assert "↓" in headers[2]  # VIKOR's lower-is-better shown beside its scores
    assert page.locator("#rank-chart").is_visible()


@pytest.mark.parametrize("action", ["kind", "cell", "method", "weighting", "coefficient"])
def test_each_change_shows_the_new_ranking(page, action):
    kinds, weights, methods = list(EXAMPLE["kinds"]), list(EXAMPLE_WEIGHTS), list(DEFAULT_METHODS)
    data = example_frame()
    if action == "kind":
        page.select_option("[data-testid=kind-0]", "max")
        kinds[0] = "max"
    elif action == "cell":
        page.fill("[data-r='3'][data-c='2']", "0.25")
        data.iloc[3, 2] = 0.25
    elif action == "method":
        page.select_option("[data-testid=method-select]", "edas")
        methods.append("edas")
    elif action == "weighting":
        page.select_option("[data-testid=weighting]", "merec")
        weights = "merec"
    else:
        page.select_option("#coefficient", "kendall_tau")
    page.wait_for_selector(READY)
    assert_shows(page, data, kinds, weights, methods)
    if action == "coefficient":
        want = ternavik.compare(data=data, kinds=kinds, weights=weights, methods=methods,
                                coefficient="kendall_tau").correlation.to_numpy()
        shown = table(page, "correlation-table")
        assert [[float(v) for v in r[1:]] for r in shown] == want.tolist()


def test_ahp_judgements_give_weights_and_their_consistency(page):
    subjective = pytest.importorskip("ternavik.subjective", reason="no AHP in this version")
    if not hasattr(subjective, "ahp") or page.locator("#ahp-choice").is_hidden():
        pytest.skip("no AHP in this version")
    page.check("[data-testid=ahp-mode]")
    judgements = {(0, 1): "3", (0, 2): "1/2", (1, 4): "5", (2, 3): "7"}
    for (i, j), value in judgements.items():
        page.fill(f"[data-testid=ahp-{i}-{j}]", value)
    page.wait_for_selector(READY)
    matrix = np.ones((5, 5))
    for (i, j), value in judgements.items():
        top, _, bottom = value.partition("/")
        matrix[i, j] = float(top) / float(bottom or 1)
        matrix[j, i] = 1.0 / matrix[i, j]
    with pytest.warns(subjective.ConsistencyWarning):  # these judgements disagree on purpose
        judged = subjective.ahp(matrix)
    assert judged.consistency_ratio > 0.1
    page.wait_for_function(
        "want => document.querySelector('[data-testid=ahp-cr]').textContent === want",
        arg=str(float(judged.consistency_ratio)))
    assert "inconsistent" in page.text_content("#ahp-verdict")
    assert_shows(page, example_frame(), EXAMPLE["kinds"], list(np.asarray(judged.weights)),
                 DEFAULT_METHODS)


@pytest.mark.parametrize("kind", ["csv", "xlsx", "paste"])
def test_an_uploaded_or_pasted_table_is_ranked(page, tmp_path, kind):
    rng = np.random.default_rng(11)
    values = np.round(rng.uniform(1, 50, size=(7, 4)), 3)
    names = [f"plant {i}" for i in range(7)]
    criteria = ["cost", "speed", "noise", "life"]
    rows = [["site", *criteria]] + [[n, *map(repr, row)] for n, row in zip(names,
                                                                           values.tolist())]
    if kind == "paste":
        page.click("#paste-box summary")
        page.fill("[data-testid=paste]", "\n".join("\t".join(r) for r in rows))
        page.click("[data-testid=read-paste]")
    else:
        path = tmp_path / f"plants.{kind}"
        if kind == "csv":
            with open(path, "w", newline="") as handle:
                csv.writer(handle).writerows(rows)
        else:
            openpyxl = pytest.importorskip("openpyxl")
            book = openpyxl.Workbook()
            for r, row in enumerate(rows):
                book.active.append(row if r == 0 else [row[0], *values[r - 1].tolist()])
            book.save(path)
        page.set_input_files("[data-testid=file-input]", str(path))
    page.wait_for_selector(READY)
    assert_shows(page, pandas.DataFrame(values, index=names, columns=criteria), ["max"] * 4,
                 [1.0] * 4, DEFAULT_METHODS)


def test_a_malformed_file_is_a_message_and_the_page_goes_on(page, tmp_path):
    path = tmp_path / "broken.csv"
    path.write_text("a,b,c\n1,2,3\n4,five,6\n")
    page.set_input_files("[data-testid=file-input]", str(path))
    message = page.locator("[data-testid=message]")
    message.wait_for(state="visible")
    assert "'five' is not a number" in message.text_content()
    page.select_option("[data-testid=kind-1]", "max")
    page.wait_for_selector(READY)
    assert_shows(page, example_frame(), ["min", "max", "min", "max", "max"], EXAMPLE_WEIGHTS,
                 DEFAULT_METHODS)
    assert message.is_hidden()


def _download(page, selector):
    with page.expect_download() as info:
        page.click(selector)
    return open(info.value.path(), "rb").read()


def test_exports_hold_the_library_numbers(page):
    want = ternavik.compare(data=example_frame(), kinds=EXAMPLE["kinds"],
                            weights=EXAMPLE_WEIGHTS, methods=DEFAULT_METHODS)
    rows = list(csv.reader(io.StringIO(_download(page, "[data-testid=export-csv]").decode())))
    assert rows[0][:4] == ["alternative", *DEFAULT_METHODS]
    assert [[float(v) for v in r[1:4]] for r in rows[1:]] == want.scores.to_numpy().tolist()
    report = _download(page, "[data-testid=export-report]").decode()
    assert report.startswith("<!DOCTYPE html>") and "<svg" in report
    assert "<script" not in report and "http://" not in report.split("<svg", 1)[0]
    assert repr(float(want.scores.iloc[0, 0])) in report
    assert _download(page, "button[data-chart=ranks][data-format=png]")[:8] == b"\x89PNG\r\n\x1a\n"
    assert b"<svg" in _download(page, "button[data-chart=sensitivity][data-format=svg]")


def test_smaa_acceptability_is_the_library_s(page):
    if page.locator("#smaa-box").is_hidden():
        pytest.skip("no SMAA in this version")
    page.fill("#smaa-samples", "500")
    page.dispatch_event("#smaa-samples", "change")
    page.wait_for_selector("#smaa-box[data-state=ready]")
    want = ternavik.smaa(example_frame(), kinds=EXAMPLE["kinds"], method="topsis", samples=500,
                         seed=1).acceptability
    for row in table(page, "smaa-table"):
        assert [float(v) for v in row[1:]] == want.loc[row[0]].tolist()[:len(row) - 1]
