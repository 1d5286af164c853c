"""The analyst's page server: its access guard, its answers under load, and
that every number it sends is the library's.

A real server runs in a child process on a free loopback port, started the
way a person starts it; requests go to 127.0.0.1 only.
"""

import csv
import http.client
import io
import json
import os
import queue
import subprocess
import sys
import threading
import urllib.parse

import numpy as np
import pytest

pytest.importorskip("starlette", reason="the web extra (starlette) is not installed")
pytest.importorskip("uvicorn", reason="the web extra (uvicorn) is not installed")
pytest.importorskip("multipart", reason="the web extra (python-multipart) is not installed")
pandas = pytest.importorskip("pandas", reason="the page's results need pandas")

import ternavik  # noqa: E402
from ternavik import cli  # noqa: E402
from ternavik._errors import InputError  # noqa: E402
from ternavik.compare import rank_rows  # noqa: E402
from ternavik.web import _library  # noqa: E402

EXAMPLE = _library.example()


class Server:
    """A `ternavik serve` child process and what it printed."""

    def __init__(self, *args: str) -> None:
        self.process = subprocess.Popen(
            [sys.executable, "-m", "ternavik", "serve", "--port", "0", "--no-browser", *args],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        lines: "queue.Queue[str]" = queue.Queue()
        threading.Thread(target=lambda: lines.put(self.process.stdout.readline()),
                         daemon=True).start()
        try:
            self.url = lines.get(timeout=120).strip()
        except queue.Empty:
            self.stop()
            raise RuntimeError("the server printed no address")
        if not self.url:
            raise RuntimeError("the server stopped: " + self.process.stderr.read())
        parts = urllib.parse.urlsplit(self.url)
        self.host, self.port = parts.hostname, parts.port
        self.token = urllib.parse.parse_qs(parts.query)["token"][0]
        self.origin = f"http://{parts.netloc}"

    def request(self, method, path, body=None, headers=None, token=True, host=None):
        """Status, headers and body of one request; the token as a header unless told."""
        connection = http.client.HTTPConnection(self.host, self.port, timeout=120)
        sent = {} if token is False else {"Authorization": f"token {self.token}"}
        sent.update(headers or {})
        try:
            connection.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
            connection.putheader("Host", host or f"{self.host}:{self.port}")
            if isinstance(body, (dict, list)):
                body = json.dumps(body).encode()
                sent.setdefault("Content-Type", "application/json")
            if body is not None and "Content-Length" not in sent and \
                    "Transfer-Encoding" not in sent:
                sent["Content-Length"] = str(len(body))
            for key, value in sent.items():
                connection.putheader(key, value)
            connection.endheaders()
            if body is not None:
                connection.send(body)
            response = connection.getresponse()
            return response.status, response.headers, response.read()
        finally:
            connection.close()

    def rss_kib(self) -> int:
        with open(f"/proc/{self.process.pid}/status") as handle:
            return next(int(line.split()[1]) for line in handle if line.startswith("VmRSS"))

    def stop(self) -> None:
        self.process.terminate()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


@pytest.fixture(scope="module")
def server():
    running = Server("--max-upload", "1")
    yield running
    running.stop()


def analysis(kinds=None, weights=None, methods=("topsis", "vikor", "promethee2"), **extra):
    body = {"table": EXAMPLE, "kinds": kinds or EXAMPLE["kinds"],
            "weights": {"mode": "numbers", "values": weights or EXAMPLE["weights"]},
            "methods": [{"name": m} for m in methods]}
    body.update(extra)
    return body


def expected(kinds=None, weights=None, methods=("topsis", "vikor", "promethee2"),
             nan_policy="raise"):
    frame = pandas.DataFrame(np.array(EXAMPLE["cells"], dtype=float),
                             index=EXAMPLE["alternatives"], columns=EXAMPLE["criteria"])
    return ternavik.compare(data=frame, kinds=kinds or EXAMPLE["kinds"],
                            weights=[float(w) for w in weights or EXAMPLE["weights"]],
                            methods=list(methods), nan_policy=nan_policy)


# ---------------------------------------------------------------- the guard

PATHS = [("GET", "/"), ("GET", "/static/app.js"), ("GET", "/api/catalogue"),
         ("POST", "/api/analyse"), ("GET", "/no/such/page"), ("GET", "/../../etc/passwd")]


@pytest.mark.parametrize("method, path", PATHS)
@pytest.mark.parametrize("credential", [None, "token wrong", "Bearer {token}", "cookie"])
def test_without_the_token_nothing_is_served(server, method, path, credential):
    headers = {}
    if credential == "cookie":
        headers["Cookie"] = "ternavik_token=" + server.token  # another server's cookie name
    elif credential is not None:
        headers["Authorization"] = credential.format(token=server.token)
    status, _, body = server.request(method, path, body=b"{}" if method == "POST" else None,
                                     headers=headers, token=False)
    assert status in (401, 403)
    assert server.token.encode() not in body


@pytest.mark.parametrize("method, path", PATHS)
@pytest.mark.parametrize("host", ["evil.example:{port}", "127.0.0.1:1", "localhost",
                                  "127.0.0.1.nip.io:{port}", "attacker.test"])
def test_a_foreign_host_is_refused_even_with_the_token(server, method, path, host):
    status, _, _ = server.request(method, path + f"?token={server.token}",
                                  body=b"{}" if method == "POST" else None,
                                  host=host.format(port=server.port))
    assert status in (400, 403, 421)


@pytest.mark.parametrize("method, path", PATHS)
@pytest.mark.parametrize("origin", ["http://evil.example", "null", "http://127.0.0.1:1",
                                    "https://{host}:{port}", "http://localhost.evil:{port}"])
def test_a_foreign_origin_is_refused_even_with_the_token(server, method, path, origin):
    status, _, _ = server.request(method, path, body=b"{}" if method == "POST" else None,
                                  headers={"Origin": origin.format(host=server.host,
                                                                   port=server.port)})
    assert status == 403


@pytest.mark.parametrize("path", ["/static/index.html", "/static/..%2f..%2fpyproject.toml",
                                  "/static/%2e%2e/app.py", "/static/app.js/../../cli.py",
                                  "/api/parse?path=/etc/passwd"])
def test_no_request_names_a_file(server, path):
    status, _, body = server.request("GET", path)
    assert status in (404, 405)
    assert b"import" not in body and b"[project]" not in body


def test_a_cross_site_fetch_is_refused(server):
    status, _, _ = server.request("GET", "/api/catalogue", headers={"Sec-Fetch-Site": "cross-site"})
    assert status == 403


@pytest.mark.parametrize("host", ["127.0.0.1", "localhost"])
def test_own_host_and_origin_are_served(server, host):
    status, _, body = server.request(
        "POST", "/api/analyse", analysis(), host=f"{host}:{server.port}",
        headers={"Origin": f"http://{host}:{server.port}", "Sec-Fetch-Site": "same-origin"})
    assert status == 200, body
    assert json.loads(body)["ranks"] == expected().ranks.to_numpy().tolist()


def test_the_first_visit_trades_the_token_for_a_strict_cookie(server):
    status, headers, _ = server.request("GET", f"/?token={server.token}", token=False)
    assert status == 303 and headers["Location"] == "/"
    cookie = headers["Set-Cookie"]
    name, value = cookie.split(";")[0].split("=", 1)
    assert value == server.token
    flags = {part.strip().lower() for part in cookie.split(";")[1:]}
    assert "httponly" in flags and "samesite=strict" in flags
    status, headers, page = server.request("GET", "/", headers={"Cookie": f"{name}={value}"},
                                           token=False)
    assert status == 200 and b'data-testid="ranks-table"' in page
    assert "script-src 'self'" in headers["Content-Security-Policy"]


@pytest.mark.parametrize("chunked", [False, True])
def test_an_oversized_upload_gets_413_and_the_server_goes_on(server, chunked):
    big = b"a,b\n" + b"1,2\n" * (300 * 1024)  # 1.2 MiB, over the 1 MiB limit
    boundary = "xyzzy"
    body = (f"--{boundary}\r\nContent-Disposition: form-data; name=\"file\"; "
            f"filename=\"big.csv\"\r\nContent-Type: text/csv\r\n\r\n").encode() + big + \
        f"\r\n--{boundary}--\r\n".encode()
    headers = {"Content-Type": f"multipart/form-data; boundary={boundary}"}
    if chunked:
        headers["Transfer-Encoding"] = "chunked"
        step = 64 * 1024
        body = b"".join(b"%x\r\n%s\r\n" % (len(body[k:k + step]), body[k:k + step])
                        for k in range(0, len(body), step)) + b"0\r\n\r\n"
    status, _, text = server.request("POST", "/api/parse", body, headers=headers)
    assert status == 413, text
    assert server.request("GET", "/api/catalogue")[0] == 200


@pytest.mark.parametrize("name, raw, words", [
    ("ragged.csv", b"x,y\n1,2\n3\n", "row 3"),
    ("words.csv", b"x,y\n1,2\n3,many\n", "'many' is not a number"),
    ("binary.csv", bytes(range(256)) * 8, "not a readable"),
    ("fake.xlsx", b"PK\x03\x04" + b"\x00" * 300, "not a readable XLSX"),
    ("empty.csv", b"", "header row"),
])
def test_a_malformed_file_gives_a_message_and_the_server_goes_on(server, name, raw, words):
    boundary = "b0undary"
    body = (f"--{boundary}\r\nContent-Disposition: form-data; name=\"file\"; "
            f"filename=\"{name}\"\r\n\r\n").encode() + raw + f"\r\n--{boundary}--\r\n".encode()
    status, _, text = server.request(
        "POST", "/api/parse", body,
        headers={"Content-Type": f"multipart/form-data; boundary={boundary}"})
    assert status == 400
    assert words in json.loads(text)["error"]
    assert server.request("POST", "/api/analyse", analysis())[0] == 200


def test_a_table_sent_once_is_named_by_its_id_after(server):
    status, _, text = server.request("POST", "/api/analyse", analysis())
    first = json.loads(text)
    named = {**analysis(kinds=["max"] * 5), "table": None, "table_id": first["table_id"]}
    status, _, text = server.request("POST", "/api/analyse", named)
    assert status == 200
    assert json.loads(text)["ranks"] == expected(kinds=["max"] * 5).ranks.to_numpy().tolist()
    status, _, text = server.request("POST", "/api/analyse", {**named, "table_id": "0" * 64})
    assert status == 409 and "send it again" in json.loads(text)["error"]


@pytest.mark.parametrize("body", [b"not json", b"[1, 2]", b"{\"table\": 7}",
                                  json.dumps(analysis(methods=["nonesuch"])).encode(),
                                  json.dumps(analysis(kinds=["max"])).encode()])
def test_a_malformed_analysis_gives_a_message(server, body):
    status, _, text = server.request("POST", "/api/analyse", body,
                                     headers={"Content-Type": "application/json"})
    assert status == 400 and json.loads(text)["error"]


def test_twenty_clients_get_only_correct_answers_and_memory_stays_flat(server):
    # Each client asks with its own weights, so a mixed-up answer shows.
    cases = [[str(1 + (c * 7 + j) % 5) for j in range(5)] for c in range(20)]
    wanted = [expected(weights=w).ranks.to_numpy().tolist() for w in cases]
    failures = []

    def client(c: int, count: int) -> None:
        body = analysis(weights=cases[c], methods=("topsis", "vikor", "promethee2"))
        for _ in range(count):
            status, _, text = server.request("POST", "/api/analyse", body)
            if status != 200 or json.loads(text)["ranks"] != wanted[c]:
                failures.append((c, status, text[:200]))

    def round_of(count: int) -> None:
        threads = [threading.Thread(target=client, args=(c, count)) for c in range(20)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    round_of(10)  # every worker thread and allocator arena exists after this
    before = server.rss_kib()
    round_of(100)
    after = server.rss_kib()
    assert failures == []
    assert after - before < 8 * 1024, (before, after)  # KiB; a leak of 4 KiB a request shows


# ---------------------------------------------------------------- the numbers

def _upload(text: str, **options) -> dict:
    return _library.read_upload("table.csv", text.encode(), **options)


@pytest.mark.parametrize("text, delimiter", [
    ("name,x,y\na,1.5,2\nb,3,4e2\nc,NA,5\n", None),
    ("x;y;z\n1;2;3\n4;5;6\n", None),
    ("\tx\ty\nfirst\t1\t2\nsecond\t3\t4\n", None),
    ("x|y\n1|2\n3|4\n", "pipe"),
    ('"alt, one",x\n"a,b",1\n"c",2\n', None),
])
def test_uploads_read_as_the_command_line_reads_them(tmp_path, text, delimiter):
    path = tmp_path / "table.csv"
    path.write_text(text)
    want = cli.read_table(str(path), delimiter)
    got = _upload(text, delimiter=delimiter)
    assert got["criteria"] == want.criteria and got["alternatives"] == want.names
    values = np.array([[float(c) if c else np.nan for c in row] for row in got["cells"]])
    np.testing.assert_array_equal(values, want.values)


def test_decimal_commas_read_as_numbers():
    got = _upload("name;price;rating\nfirst;12,4;3\nsecond;9,75;4,5\n", decimal=",")
    assert got["cells"] == [["12.4", "3.0"], ["9.75", "4.5"]]
    frame = _library._frame_of({"table": {"criteria": ["p"], "alternatives": ["a", "b"],
                                          "cells": [["1,5"], ["2"]]}}, ",")
    assert frame["p"].tolist() == [1.5, 2.0]


def test_xlsx_cells_keep_every_bit(tmp_path):
    openpyxl = pytest.importorskip("openpyxl")
    book = openpyxl.Workbook()
    # Spreadsheets keep 15 significant digits; whatever the file holds must come through.
    values = np.vectorize(lambda v: float("%.15g" % v))(
        np.random.default_rng(5).normal(size=(6, 3)) * 10.0 ** np.array([-3, 0, 7]))
    book.active.append(["supplier", "a", "b", "c"])
    for i, row in enumerate(values.tolist()):
        book.active.append([f"s{i}", *row])
    buffer = io.BytesIO()
    book.save(buffer)
    got = _library.read_upload("t.xlsx", buffer.getvalue())
    assert got["alternatives"] == [f"s{i}" for i in range(6)]
    np.testing.assert_array_equal(np.array(got["cells"], dtype=float), values)


@pytest.mark.parametrize("methods", [["topsis"], ["vikor", "mairca", "spotis"],
                                     ["copras", "edas", "codas", "marcos", "aras"]])
@pytest.mark.parametrize("weights", [None, ["1", "1", "1", "1", "1"], ["0", "2", "0", "1", "3"]])
@pytest.mark.parametrize("kinds", [None, ["max"] * 5])
def test_analysis_equals_compare(methods, weights, kinds):
    got = _library.analyse(analysis(kinds=kinds, weights=weights, methods=methods))
    want = expected(kinds=kinds, weights=weights, methods=methods)
    assert got["scores"] == want.scores.to_numpy().tolist()
    assert got["ranks"] == want.ranks.to_numpy().tolist()
    assert got["correlation"] == want.correlation.to_numpy().tolist()
    assert [m["higher_is_better"] for m in got["methods"]] == [
        ternavik.methods.REGISTRY[m].higher_is_better for m in methods]


@pytest.mark.parametrize("name, options, call", [
    ("topsis", {"normalization": "minmax"}, {"normalization": "minmax"}),
    ("vikor", {"v": "0.2"}, {"v": 0.2}),
    ("promethee2", {"preference": "v-shape", "p": "3"}, {"preference": "v-shape", "p": 3.0}),
    ("waspas", {"lam": "0"}, {"lam": 0.0}),
])
def test_method_options_reach_the_method(name, options, call):
    got = _library.analyse({**analysis(), "methods": [{"name": name, "options": options},
                                                      {"name": "topsis"}]})
    frame = pandas.DataFrame(np.array(EXAMPLE["cells"], dtype=float),
                             columns=EXAMPLE["criteria"])
    scores = getattr(ternavik.methods, name)(
        data=frame, kinds=EXAMPLE["kinds"], weights=[float(w) for w in EXAMPLE["weights"]],
        **call)
    scores = np.asarray(getattr(scores, "Q", scores))
    assert [row[0] for row in got["scores"]] == scores.tolist()
    assert got["methods"][0]["label"] != name  # the column says which variant it is
    ranks = rank_rows(
        scores[np.newaxis], ternavik.methods.REGISTRY[name].higher_is_better)[0]
    assert [row[0] for row in got["ranks"]] == ranks.tolist()


def test_missing_cells_follow_the_policy():
    table = {**EXAMPLE, "cells": [row[:] for row in EXAMPLE["cells"]]}
    table["cells"][2][1] = "NA"
    body = {**analysis(), "table": table}
    with pytest.raises(InputError, match="Corvane"):
        _library.analyse(body)
    got = _library.analyse({**body, "reading": {"nan_policy": "omit"}})
    assert got["scores"][2] == [None, None, None] and got["ranks"][2] == [10, 10, 10]


def test_named_weighting_shows_the_library_weights():
    got = _library.analyse({**analysis(), "weights": {"mode": "named", "name": "critic"}})
    frame = pandas.DataFrame(np.array(EXAMPLE["cells"], dtype=float),
                             columns=EXAMPLE["criteria"])
    want = ternavik.objective_weights(frame, "critic", EXAMPLE["kinds"])
    assert got["weights"] == np.asarray(want).tolist()


def test_results_csv_is_exact():
    got = _library.analyse(analysis())
    rows = list(csv.reader(io.StringIO(_library.results_csv(got))))
    want = expected()
    assert [r[0] for r in rows[1:]] == EXAMPLE["alternatives"]
    assert [[float(v) for v in r[1:4]] for r in rows[1:]] == want.scores.to_numpy().tolist()
    assert [[int(v) for v in r[4:]] for r in rows[1:]] == want.ranks.to_numpy().tolist()


def test_the_address_is_the_only_line_printed(tmp_path):
    path = tmp_path / "plants.csv"
    path.write_text("site,cost,life\nnorth,3,20\nsouth,4,25\n")
    running = Server(str(path))
    try:
        assert running.url.startswith("http://127.0.0.1:") and running.port > 0
        status, _, body = running.request("GET", "/api/catalogue")
        assert json.loads(body)["initial"]["alternatives"] == ["north", "south"]
    finally:
        running.stop()
    assert running.process.stdout.read() == ""


@pytest.mark.parametrize("command", [["ternavik", "serve"], ["ternavik.web"]])
def test_the_command_line_refuses_a_bad_port_and_a_missing_file(tmp_path, command):
    for args in (["--port", "70000"], [str(tmp_path / "absent.csv")]):
        done = subprocess.run([sys.executable, "-m", *command, "--no-browser", *args],
                              capture_output=True, text=True)
        assert done.returncode == 2 and done.stderr.startswith("ternavik: error:")


def test_the_command_line_loads_no_web_part_until_serve_runs():
    code = ("import sys, ternavik.cli; ternavik.cli.build_parser(); "
            "print(sorted(m for m in ('starlette', 'uvicorn', 'multipart', 'pandas') "
            "if m in sys.modules))")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert done.stdout.strip() == "[]", done.stderr


# ---------------------------------------------------------------- fuzz

from hypothesis import HealthCheck, example, given, settings, strategies as st  # noqa: E402

_CELLS = st.one_of(st.floats(allow_nan=True, allow_infinity=True).map(repr),
                   st.sampled_from(["", "NA", "1,5", "1/3", "-0", "1e400", "x"]),
                   st.integers(-5, 5).map(str))
_PAGE_MISTAKES = (InputError, ValueError, TypeError, KeyError, IndexError, AttributeError,
                  OverflowError)


@st.composite
def page_states(draw):
    n, m = draw(st.integers(0, 6)), draw(st.integers(0, 4))
    return {
        "table": {"criteria": draw(st.lists(st.sampled_from(["a", "b", "c", "", "a "]),
                                            min_size=m, max_size=m)),
                  "alternatives": [str(i) for i in range(n)],
                  "cells": draw(st.lists(st.lists(_CELLS, min_size=m, max_size=m),
                                         min_size=n, max_size=n))},
        "reading": {"decimal": draw(st.sampled_from([".", ","])),
                    "nan_policy": draw(st.sampled_from(["raise", "omit", "propagate"]))},
        "kinds": draw(st.lists(st.sampled_from(["max", "min", "+", "x"]), min_size=m,
                               max_size=m)),
        "weights": draw(st.one_of(
            st.builds(lambda v: {"mode": "numbers", "values": v},
                      st.lists(_CELLS, min_size=m, max_size=m)),
            st.builds(lambda w: {"mode": "named", "name": w},
                      st.sampled_from(["critic", "entropy", "merec", "nonesuch"])))),
        "methods": [{"name": name} for name in draw(st.lists(
            st.sampled_from(sorted(ternavik.methods.REGISTRY)), min_size=1, max_size=3,
            unique=True))],
        "sensitivity": draw(st.one_of(st.none(), st.just({"method": "topsis"}))),
    }


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(page_states())
@example({"table": {"criteria": ["a"], "alternatives": ["1", "2"], "cells": [["1"], ["2"]]},
          "kinds": ["max"], "weights": {"mode": "numbers", "values": ["1"]},
          "methods": [{"name": "topsis"}], "sensitivity": {"method": "topsis"}})
def test_any_page_state_gives_results_or_a_message(body):
    try:
        got = _library.analyse(body)
    except _PAGE_MISTAKES as error:
        assert str(error)
        return
    n = len(got["alternatives"])
    assert len(got["scores"]) == len(got["ranks"]) == n
    assert all(len(row) == len(body["methods"]) for row in got["ranks"])
    assert all(1 <= r <= n for row in got["ranks"] for r in row)
    json.dumps(got, allow_nan=False)  # what the page receives is plain JSON


@settings(max_examples=150, deadline=None)
@given(st.binary(max_size=400), st.sampled_from(["t.csv", "t.xlsx"]),
       st.sampled_from([None, ";", "tab"]), st.sampled_from([".", ","]))
def test_any_file_is_read_or_refused_with_a_message(raw, name, delimiter, decimal):
    try:
        got = _library.read_upload(name, raw, delimiter, decimal)
    except InputError as error:
        assert str(error)
        return
    assert len(got["cells"]) == len(got["alternatives"]) >= 1
    assert all(len(row) == len(got["criteria"]) for row in got["cells"])
