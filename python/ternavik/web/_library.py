"""Every call the page makes into ternavik, in one place.

The server turns the page's JSON into these calls and their results back into
JSON; nothing here computes a score, a rank or a weight itself, so what the
page shows is what ``ternavik.compare`` and its siblings return. Keeping the
calls here (by keyword, so argument order never matters) means a change in
the library's signatures is a change of a few lines in this file.
"""

import csv
import hashlib
import importlib
import inspect
import io
import json
import math
import os
import tempfile
import threading
import time
from collections import OrderedDict
from typing import Any, Dict, List, Optional, Sequence, Tuple

import numpy as np

import ternavik
from ternavik import cli, methods as _methods
from ternavik._errors import InputError
from ternavik._matrix import NAN_POLICIES
from ternavik.normalization import NORMALIZATIONS
from ternavik.weighting import WEIGHTINGS

# A row past these is no decision matrix a person means to rank here; the
# bounds also keep a compressed spreadsheet from unpacking without end.
MAX_ROWS = 200_000
MAX_CELLS = 4_000_000
# Lines drawn per chart: beyond this a chart is a blur, the tables hold the rest.
CHART_LINES = 12

_PREFERENCES = ("usual", "u-shape", "v-shape", "level", "linear", "gaussian")

# Options a method takes, with their defaults: what the page offers to set.
OPTIONS: Dict[str, Dict[str, Any]] = {
    "topsis": {"normalization": "vector"},
    "vikor": {"v": 0.5},
    "promethee2": {"preference": "usual", "q": 0.0, "p": 0.0, "s": 1.0},
    "waspas": {"lam": 0.5},
    "cocoso": {"lam": 0.5},
    "codas": {"tau": 0.02},
}
CHOICES = {"normalization": list(NORMALIZATIONS), "preference": list(_PREFERENCES)}


def _subjective() -> Any:
    try:
        subjective = importlib.import_module("ternavik.subjective")
    except ImportError:
        return None
    return subjective if hasattr(subjective, "ahp") else None


def _smaa() -> Any:
    return getattr(ternavik, "smaa", None)


def catalogue() -> Dict[str, Any]:
    """What the page may offer: methods with their direction and options, weightings,
    coefficients, missing-value policies, and which optional parts exist."""
    registry = _methods.REGISTRY
    return {
        "methods": [{"name": name, "higher_is_better": bool(entry.higher_is_better),
                     "options": OPTIONS.get(name, {})} for name, entry in registry.items()],
        "choices": CHOICES,
        "weightings": [w for w in WEIGHTINGS if w != "equal"],
        "coefficients": list(ternavik.correlation.COEFFICIENTS),
        "nan_policies": list(NAN_POLICIES),
        "ahp": _subjective() is not None,
        "smaa": _smaa() is not None,
    }


# ---------------------------------------------------------------- reading

def _table_from_rows(rows: List[List[str]], decimal: str) -> cli.Table:
    """A table by the command line's rules from rows of cells (header first)."""
    if len(rows) > MAX_ROWS or sum(len(r) for r in rows) > MAX_CELLS:
        raise InputError(f"the table is too large to show here (more than {MAX_ROWS} rows "
                         f"or {MAX_CELLS} cells)")
    if decimal not in (".", ","):
        raise InputError(f"the decimal mark must be '.' or ',', got {decimal!r}")
    # The command line reads files; a private temporary one lets the page's
    # tables go through exactly the same reader.
    handle, path = tempfile.mkstemp(suffix=".tsv")
    try:
        with os.fdopen(handle, "w", newline="", encoding="utf-8") as out:
            csv.writer(out, delimiter="\t", lineterminator="\n").writerows(rows)
        return cli.read_table(path, "\t", decimal)
    finally:
        os.unlink(path)


def _rows_from_text(text: str, delimiter: Optional[str], decimal: str) -> List[List[str]]:
    if delimiter is None and decimal == ",":
        # A comma cannot separate cells that use it as the decimal mark.
        first = text.split("\n", 1)[0]
        delimiter = next((d for d in (";", "\t", "|") if d in first), ";")
    sep = cli.delimiter_of(text, delimiter)
    try:
        rows = [[c.strip() for c in row] for row in csv.reader(io.StringIO(text), delimiter=sep)]
    except csv.Error as error:
        raise InputError(f"this is not a readable CSV file: {error}") from None
    return [row for row in rows if any(row)]


def _rows_from_xlsx(raw: bytes) -> List[List[str]]:
    try:
        openpyxl: Any = importlib.import_module("openpyxl")
    except ImportError:
        raise InputError('reading XLSX files needs openpyxl; install it with '
                         'pip install "ternavik[web]"') from None
    try:
        book = openpyxl.load_workbook(io.BytesIO(raw), read_only=True, data_only=True)
    except Exception as error:  # openpyxl raises many kinds for a damaged file
        raise InputError(f"this is not a readable XLSX file: {error}") from None
    try:
        rows: List[List[str]] = []
        cells = 0
        for values in book.worksheets[0].iter_rows(values_only=True):
            row = ["" if v is None else repr(float(v)) if isinstance(v, (int, float))
                   and not isinstance(v, bool) else str(v).strip() for v in values]
            cells += len(row)
            if len(rows) >= MAX_ROWS or cells > MAX_CELLS:
                raise InputError("the workbook is too large to show here")
            if any(row):
                rows.append(row)
    except InputError:
        raise
    except Exception as error:
        raise InputError(f"this is not a readable XLSX file: {error}") from None
    finally:
        book.close()
    # Trailing empty columns are formatting, not criteria.
    width = max((max((k + 1 for k, c in enumerate(r) if c), default=0) for r in rows), default=0)
    return [(r + [""] * width)[:width] for r in rows]


def read_upload(filename: str, raw: bytes, delimiter: Optional[str] = None,
                decimal: str = ".") -> Dict[str, Any]:
    """A CSV, TSV or XLSX file (or pasted text) as the page's table."""
    if raw[:4] == b"PK\x03\x04" or filename.lower().endswith((".xlsx", ".xlsm")):
        rows = _rows_from_xlsx(raw)
    else:
        try:
            text = raw.decode("utf-8-sig")
        except UnicodeDecodeError as error:
            raise InputError(f"this is not a readable CSV file (not UTF-8 text): {error}") \
                from None
        rows = _rows_from_text(text, delimiter or None, decimal)
    table = _table_from_rows(rows, decimal)
    return table_json(table)


def table_json(table: cli.Table) -> Dict[str, Any]:
    return {"criteria": list(table.criteria), "alternatives": list(table.names),
            "cells": [["" if math.isnan(v) else repr(float(v)) for v in row]
                      for row in table.values.tolist()]}


def example() -> Dict[str, Any]:
    """The shipped supplier example with its kinds and weights."""
    data = table_json(cli.read_table(cli.EXAMPLE_PATH))
    data["kinds"] = ["max" if k == "max" else "min" for k in cli.EXAMPLE_KINDS.split(",")]
    data["weights"] = cli.EXAMPLE_WEIGHTS.split(",")
    return data


def read_path(path: str) -> Dict[str, Any]:
    """The file named on the command line, by the same rules as an upload."""
    try:
        with open(path, "rb") as handle:
            raw = handle.read()
    except OSError as error:
        raise InputError(f"cannot read {path!r}: {error.strerror or error}") from None
    data = read_upload(os.path.basename(path), raw)
    data["name"] = os.path.basename(path)
    return data


# ---------------------------------------------------------------- analysis

def _mapping(value: Any, what: str) -> Dict[str, Any]:
    if value is None:
        return {}
    if not isinstance(value, dict):
        raise InputError(f"{what} must be a JSON object")
    return value


class UnknownTable(InputError):
    """A table named by its id that the server no longer holds."""


_FRAMES: "OrderedDict[str, Any]" = OrderedDict()
_TABLES: "OrderedDict[str, Dict[str, Any]]" = OrderedDict()
_FRAMES_LOCK = threading.Lock()
_KEPT = 4


def _remember(store: "OrderedDict[str, Any]", key: str, value: Any) -> None:
    store[key] = value
    store.move_to_end(key)
    while len(store) > _KEPT:
        store.popitem(last=False)


def table_of(request: Dict[str, Any]) -> Tuple[str, Dict[str, Any]]:
    """The request's table and its id: sent whole, or named by the id of one sent before.

    The page sends its table once and then only its id while the table stays
    the same, so changing a weight does not send and read a thousand rows again.
    """
    if request.get("table") is None and request.get("table_id") is not None:
        key = str(request["table_id"])
        with _FRAMES_LOCK:
            table = _TABLES.get(key)
            if table is not None:
                _TABLES.move_to_end(key)
        if table is None:
            raise UnknownTable("the server no longer holds this table; send it again")
        return key, table
    table = _mapping(request.get("table"), "the table")
    key = hashlib.sha256(json.dumps(table, sort_keys=True).encode()).hexdigest()
    with _FRAMES_LOCK:
        _remember(_TABLES, key, table)
    return key, table


def _frame_of(request: Dict[str, Any], decimal: str) -> Any:
    return _frame(*table_of(request), decimal)


def _frame(key: str, table: Dict[str, Any], decimal: str) -> Any:
    """The page's table as a labelled DataFrame, read by the command line's rules;
    the last few read are kept. Callers never change the frame they get."""
    with _FRAMES_LOCK:
        if key + decimal in _FRAMES:
            _FRAMES.move_to_end(key + decimal)
            return _FRAMES[key + decimal]
    frame = _read_frame(table, decimal)
    with _FRAMES_LOCK:
        _remember(_FRAMES, key + decimal, frame)
    return frame


def _read_frame(table: Dict[str, Any], decimal: str) -> Any:
    import pandas

    if not all(isinstance(row, list) for row in table.get("cells", [])):
        raise InputError("the table's cells must be rows of values")
    criteria = [str(c) for c in table.get("criteria", [])]
    alternatives = [str(a) for a in table.get("alternatives", [])]
    cells = table.get("cells", [])
    if len(cells) != len(alternatives):
        raise InputError("every alternative needs one row of values")
    names = [a.strip() or str(i + 1) for i, a in enumerate(alternatives)]
    rows = [["", *criteria]] + [[name, *[str(c) for c in row]] for name, row in zip(names, cells)]
    read = _table_from_rows(rows, decimal)
    return pandas.DataFrame(read.values, index=pandas.Index(read.names, dtype=object),
                            columns=pandas.Index(read.criteria, dtype=object))


def _number(text: Any, what: str) -> float:
    if isinstance(text, (int, float)) and not isinstance(text, bool):
        return float(text)
    cell = str(text).strip().replace(",", ".")
    try:
        if "/" in cell:  # a judgement such as 1/3
            top, bottom = cell.split("/", 1)
            return float(top) / float(bottom)
        return float(cell)
    except (ValueError, ZeroDivisionError):
        raise InputError(f"{what}: {text!r} is not a number") from None


def ahp(pairwise: Sequence[Sequence[Any]]) -> Dict[str, Any]:
    """AHP weights and consistency ratio of the judgements (the upper triangle is read,
    the lower one is its reciprocal)."""
    subjective = _subjective()
    if subjective is None:
        raise InputError("AHP weights are not available in this version of ternavik")
    m = len(pairwise)
    matrix = np.ones((m, m))
    for i in range(m):
        for j in range(i + 1, m):
            value = _number(pairwise[i][j], f"judgement ({i + 1}, {j + 1})")
            if not value > 0 or not math.isfinite(value):
                raise InputError(f"judgement ({i + 1}, {j + 1}) must be a positive number")
            matrix[i, j], matrix[j, i] = value, 1.0 / value
    result = subjective.ahp(matrix)
    return {"weights": _floats(result.weights),
            "consistency_ratio": _float(result.consistency_ratio)}


def _weights(spec: Dict[str, Any], m: int) -> Tuple[Any, Optional[Dict[str, Any]]]:
    """What to give the library as weights, and the AHP outcome when judged."""
    mode = spec.get("mode", "numbers")
    if mode == "named":
        return str(spec.get("name", "equal")), None
    if mode == "ahp":
        judged = ahp(spec.get("pairwise", []))
        if len(judged["weights"]) != m:
            raise InputError(f"the pairwise judgements cover {len(judged['weights'])} "
                             f"criteria, the data has {m}")
        return judged["weights"], judged
    values = spec.get("values", [])
    if len(values) != m:
        raise InputError(f"give one weight per criterion: {m} needed, {len(values)} given")
    return [_number(v, f"weight of criterion {j + 1}") for j, v in enumerate(values)], None


def _variant(spec: Dict[str, Any]) -> Tuple[str, Dict[str, Any], str]:
    """A method's name, its options that differ from the defaults, and its column label."""
    name = str(spec.get("name", "")).strip().lower()
    if name not in _methods.REGISTRY:
        raise InputError(f"unknown method {name!r}")
    defaults = OPTIONS.get(name, {})
    options: Dict[str, Any] = {}
    for key, value in _mapping(spec.get("options"), "a method's options").items():
        if key not in defaults:
            raise InputError(f"{name} has no option {key!r}")
        given = value if isinstance(defaults[key], str) else _number(value, f"{name} {key}")
        if given != defaults[key]:
            options[key] = given
    label = name if not options else name + " (" + ", ".join(
        f"{k}={v:g}" if isinstance(v, float) else f"{k}={v}" for k, v in options.items()) + ")"
    return name, options, label


Variant = Tuple[str, Dict[str, Any], str]


def _compare(data: Any, kinds: Any, weights: Any, variants: List[Variant], coefficient: str,
             nan_policy: str) -> Tuple[Any, Any, Any, List[str], List[bool]]:
    """Scores, ranks (n x k arrays), the coefficient matrix, the column labels and
    each column's direction, all from one ternavik.compare call."""
    result = ternavik.compare(data=data, kinds=kinds, weights=weights,
                              methods=[(name, options) for name, options, _ in variants],
                              coefficient=coefficient, nan_policy=nan_policy)
    labels = [str(c) for c in result.scores.columns]
    higher = result.scores.attrs["higher_is_better"]
    return (result.scores.to_numpy(dtype=float), result.ranks.to_numpy(),
            result.correlation.to_numpy(dtype=float), labels, [bool(higher[c]) for c in
                                                               result.scores.columns])


def _float(value: Any) -> Optional[float]:
    number = float(value)
    return number if math.isfinite(number) else None


def _floats(values: Any) -> List[Any]:
    array = np.asarray(values, dtype=float)
    return [[_float(v) for v in row] for row in array.tolist()] if array.ndim == 2 else [
        _float(v) for v in array.tolist()]


def _top(order_key: Any, count: int) -> List[int]:
    """Positions of the best ``count`` alternatives by a rank vector."""
    return [int(i) for i in np.argsort(np.asarray(order_key), kind="stable")[:count]]


def _sensitivity(data: Any, kinds: Any, weights: Any, spec: Dict[str, Any], nan_policy: str,
                 alternatives: List[str]) -> Dict[str, Any]:
    method = str(spec.get("method", "topsis"))
    points = min(max(int(spec.get("points", 21)), 2), 101)
    result = ternavik.sensitivity(data=data, kinds=kinds, weights=weights, method=method,
                                  points=points, nan_policy=nan_policy)
    shown = _top(result.base_ranks, CHART_LINES)
    top = result.top()
    after = []
    for c, t in enumerate(result.switch_weight):
        at = np.flatnonzero(result.grid == t)
        after.append(str(result.alternatives[int(top[c, at[0]])]) if at.size else None)
    return {
        "method": method, "grid": _floats(result.grid),
        "criteria": [str(c) for c in result.criteria],
        "alternatives": [str(result.alternatives[i]) for i in shown],
        # criterion x point x shown alternative; the summary covers everyone
        "ranks": [[[int(result.ranks[c, p, i]) for i in shown] for p in range(points)]
                  for c in range(len(result.criteria))],
        "base_weight": _floats(result.base_weight),
        "switch_weight": _floats(result.switch_weight),
        "top_at_base": str(result.alternatives[int(np.argmin(result.base_ranks))]),
        "top_at_switch": after,
    }


def _smaa_result(data: Any, kinds: Any, spec: Dict[str, Any], nan_policy: str) -> Dict[str, Any]:
    smaa = _smaa()
    if smaa is None:
        raise InputError("SMAA is not available in this version of ternavik")
    samples = min(max(int(spec.get("samples", 2000)), 100), 100_000)
    seed = int(spec.get("seed", 1))
    call: Dict[str, Any] = {"method": str(spec.get("method", "topsis")), "samples": samples,
                            "seed": seed}
    if "nan_policy" in inspect.signature(smaa).parameters:
        call["nan_policy"] = nan_policy
    result = smaa(data, kinds=kinds, **call)
    accept = np.asarray(result.acceptability, dtype=float)
    labels = [str(a) for a in data.index]
    if accept.shape[0] != len(labels):  # alternatives left out by the policy
        labels = [str(a) for a, ok in zip(data.index, np.isfinite(data.to_numpy()).all(axis=1))
                  if ok]
    shown = _top(-accept[:, 0], CHART_LINES)
    columns = min(accept.shape[1], 10)
    rest = accept[:, columns:].sum(axis=1)
    return {"method": call["method"], "samples": samples, "seed": seed,
            "ranks": [str(r + 1) for r in range(columns)] + (["lower"] if accept.shape[1] >
                                                            columns else []),
            "alternatives": [labels[i] for i in shown],
            "acceptability": [_floats(np.append(accept[i, :columns], rest[i])[
                :columns + (1 if accept.shape[1] > columns else 0)]) for i in shown],
            "confidence": [_float(c) for c in np.asarray(getattr(result, "confidence",
                                                                 np.full(len(labels), np.nan)))
                           [shown]]}


def analyse(request: Dict[str, Any]) -> Dict[str, Any]:
    """The whole analysis the page shows, from the page's state."""
    started = time.perf_counter()
    reading = _mapping(request.get("reading"), "reading")
    decimal = str(reading.get("decimal", "."))
    nan_policy = str(reading.get("nan_policy", "raise"))
    table_key, table = table_of(request)
    data = _frame(table_key, table, decimal)
    m = data.shape[1]
    kinds = [str(k) for k in request.get("kinds", [])]
    if len(kinds) != m:
        raise InputError(f"give one kind per criterion: {m} needed, {len(kinds)} given")
    weights, judged = _weights(_mapping(request.get("weights"), "weights"), m)
    variants = [_variant(_mapping(spec, "a method")) for spec in request.get("methods", [])]
    if not variants:
        raise InputError("choose at least one method")
    labels = [v[2] for v in variants]
    if len(set(labels)) != len(labels):
        raise InputError("the same method with the same options is chosen twice")
    coefficient = str(request.get("coefficient", "spearman"))
    scores, ranks, between, columns, higher = _compare(data, kinds, weights, variants,
                                                       coefficient, nan_policy)
    if isinstance(weights, str):
        # (data, weighting name, kinds): the one order every version takes
        shown_weights = ternavik.objective_weights(data, weights, kinds, nan_policy=nan_policy)
    else:
        shown_weights = np.asarray(weights) / np.sum(weights)
    out: Dict[str, Any] = {
        "table_id": table_key,
        "alternatives": [str(a) for a in data.index],
        "criteria": [str(c) for c in data.columns],
        "weights": _floats(shown_weights),
        "methods": [{"label": label, "name": name, "options": options, "higher_is_better": up}
                    for (name, options, _), label, up in zip(variants, columns, higher)],
        "coefficient": coefficient,
        "scores": _floats(scores),
        "ranks": [[int(r) for r in row] for row in np.asarray(ranks).tolist()],
        "correlation": _floats(between),
        "chart_alternatives": _top(np.asarray(ranks)[:, 0], CHART_LINES),
    }
    if judged is not None:
        out["ahp"] = judged
    # The extras never hide the main results: what they cannot do becomes a note.
    out["notes"] = []
    if request.get("sensitivity") and m < 2:
        out["notes"].append("sensitivity needs at least two criteria")
    elif request.get("sensitivity"):
        try:
            out["sensitivity"] = _sensitivity(data, kinds, weights,
                                              _mapping(request["sensitivity"], "sensitivity"),
                                              nan_policy, out["alternatives"])
        except (InputError, ValueError, TypeError) as error:
            out["notes"].append(f"sensitivity: {error}")
    if request.get("smaa") and _smaa() is not None:
        try:
            out["smaa"] = _smaa_result(data, kinds, _mapping(request["smaa"], "smaa"), nan_policy)
        except (InputError, ValueError, TypeError) as error:
            out["notes"].append(f"SMAA: {error}")
    out["elapsed_ms"] = round((time.perf_counter() - started) * 1000.0, 1)
    return out


def smaa_only(request: Dict[str, Any]) -> Dict[str, Any]:
    """The SMAA part of the analysis alone (the page asks for it after the rest)."""
    reading = _mapping(request.get("reading"), "reading")
    data = _frame_of(request, str(reading.get("decimal", ".")))
    kinds = [str(k) for k in request.get("kinds", [])]
    return {"smaa": _smaa_result(data, kinds, _mapping(request.get("smaa"), "smaa"),
                                 str(reading.get("nan_policy", "raise")))}


def warm() -> None:
    """Import and run everything once, so the first answer the page waits for is quick."""
    data = example()
    analyse({"table": data, "kinds": data["kinds"],
             "weights": {"mode": "numbers", "values": data["weights"]},
             "methods": [{"name": "topsis"}], "sensitivity": {"method": "topsis"}})


def results_csv(result: Dict[str, Any]) -> str:
    """Scores and ranks per method, one row per alternative, numbers exact."""
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\n")
    labels = [m["label"] for m in result["methods"]]
    writer.writerow(["alternative", *labels, *(f"rank_{label}" for label in labels)])
    for name, scores, ranks in zip(result["alternatives"], result["scores"], result["ranks"]):
        writer.writerow([name, *("" if s is None else repr(s) for s in scores), *ranks])
    return out.getvalue()


def rank_figure(result: Dict[str, Any]) -> Any:
    """The rank chart of the best alternatives as a matplotlib figure."""
    shown = result["chart_alternatives"]
    ranks = np.asarray(result["ranks"])[shown]
    return ternavik.plot_ranks(ranks, [result["alternatives"][i] for i in shown],
                               [m["label"] for m in result["methods"]])


def sensitivity_figure(request: Dict[str, Any]) -> Any:
    """The library's sensitivity chart for the page's state."""
    reading = request.get("reading") or {}
    nan_policy = str(reading.get("nan_policy", "raise"))
    data = _frame_of(request, str(reading.get("decimal", ".")))
    weights, _ = _weights(request.get("weights") or {}, data.shape[1])
    spec = request.get("sensitivity") or {}
    result = ternavik.sensitivity(data=data, kinds=[str(k) for k in request.get("kinds", [])],
                                  weights=weights, method=str(spec.get("method", "topsis")),
                                  points=min(max(int(spec.get("points", 21)), 2), 101),
                                  nan_policy=nan_policy)
    keep = _top(result.base_ranks, CHART_LINES)
    trimmed = result._replace(ranks=result.ranks[:, :, keep], scores=result.scores[:, :, keep],
                              alternatives=[result.alternatives[i] for i in keep])
    return ternavik.plot_sensitivity(trimmed)


def smaa_figure(request: Dict[str, Any]) -> Any:
    """The library's acceptability chart for the page's state; with many
    alternatives, the best by first-rank acceptability and the first ranks."""
    smaa = _smaa()
    if smaa is None:
        raise InputError("SMAA is not available in this version of ternavik")
    reading = _mapping(request.get("reading"), "reading")
    data = _frame_of(request, str(reading.get("decimal", ".")))
    spec = _mapping(request.get("smaa"), "smaa")
    result = smaa(data, kinds=[str(k) for k in request.get("kinds", [])],
                  method=str(spec.get("method", "topsis")),
                  samples=min(max(int(spec.get("samples", 2000)), 100), 100_000),
                  seed=int(spec.get("seed", 1)),
                  nan_policy=str(reading.get("nan_policy", "raise")))
    accept = np.asarray(result.acceptability, dtype=float)
    labels = list(getattr(result.acceptability, "index", range(len(accept))))
    keep = sorted(_top(-accept[:, 0], CHART_LINES))
    if len(keep) < len(accept):
        # The chart takes a square matrix: the shown alternatives and as many first ranks.
        accept = accept[keep][:, :len(keep)]
        labels = [labels[i] for i in keep]
    return ternavik.plot_acceptability(accept, alternatives=[str(a) for a in labels],
                                       title=f"Rank acceptability ({result.method}, "
                                             f"{result.samples} samples)")
