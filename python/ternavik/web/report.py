"""Exports the page offers: charts as SVG and one self-contained HTML report.

The charts are the library's own (``ternavik.plot_ranks`` and
``ternavik.plot_sensitivity``, drawn by matplotlib), so a report opened
years later on a machine without ternavik still shows them: every picture
is inline SVG, every number is written out in full, and nothing is loaded
from anywhere.
"""

import datetime
import io
from html import escape
from typing import Any, Callable, Dict, List, Optional

from ternavik._errors import InputError

from . import _library


def _svg(figure: Any) -> str:
    out = io.StringIO()
    figure.savefig(out, format="svg")
    text = out.getvalue()
    # Drop the XML prologue so the picture can sit inside an HTML page.
    return text[text.index("<svg"):]


def chart_svg(kind: str, request: Dict[str, Any]) -> str:
    """One chart of the page as SVG."""
    if kind == "ranks":
        return _svg(_library.rank_figure(_library.analyse({**request, "sensitivity": None,
                                                           "smaa": None})))
    if kind == "sensitivity":
        return _svg(_library.sensitivity_figure(request))
    if kind == "smaa":
        return _svg(_library.smaa_figure(request))
    raise InputError(f"unknown chart {kind!r}")


def _figure(draw: Callable[[Any], Any], argument: Any) -> str:
    """draw(argument) as an inline figure, or a note of why it cannot be drawn
    (no matplotlib): the rest of the report stands without it."""
    try:
        return "<figure>" + _svg(draw(argument)) + "</figure>"
    except ImportError as error:
        return f"<p class='note'>{escape(str(error))}</p>"


def _number(value: Optional[float]) -> str:
    return "omitted" if value is None else repr(value)


def _table(header: List[str], rows: List[List[str]], first_header: bool = True) -> str:
    head = "".join(f"<th>{escape(h)}</th>" for h in header)
    body = "".join("<tr>" + "".join(
        (f"<th>{escape(c)}</th>" if k == 0 and first_header else f"<td>{escape(c)}</td>")
        for k, c in enumerate(row)) + "</tr>" for row in rows)
    return f"<table><thead><tr>{head}</tr></thead><tbody>{body}</tbody></table>"


_STYLE = """
body { font: 14px/1.45 system-ui, sans-serif; margin: 2em auto; max-width: 72em; color: #1d2330; }
h1 { font-size: 1.6em; } h2 { font-size: 1.2em; margin-top: 2em; border-bottom: 1px solid #ccd; }
table { border-collapse: collapse; margin: .5em 0 1em; font-variant-numeric: tabular-nums; }
th, td { border: 1px solid #d5d8e0; padding: .2em .6em; text-align: right; }
th:first-child, thead th { text-align: left; background: #f3f4f8; }
figure { margin: 1em 0; } svg { max-width: 100%; height: auto; }
.note { color: #555; }
"""


def html_report(request: Dict[str, Any]) -> str:
    """The analysis as one HTML file: inputs, results, charts."""
    result = _library.analyse(request)
    labels = [m["label"] for m in result["methods"]]
    kinds = [str(k) for k in request.get("kinds", [])]
    table = _library.table_of(request)[1]
    weights_spec = request.get("weights") or {}
    mode = weights_spec.get("mode", "numbers")
    how = {"named": f"the {weights_spec.get('name')} weighting",
           "ahp": "AHP pairwise judgements"}.get(mode, "numbers given")
    parts = [f"<h1>Decision analysis</h1><p class='note'>Made by ternavik "
             f"{escape(_version())} on {datetime.date.today().isoformat()}: "
             f"{len(result['alternatives'])} alternatives, {len(result['criteria'])} criteria, "
             f"{len(labels)} methods.</p>"]
    parts.append("<h2>Criteria</h2>" + _table(
        ["criterion", "kind", "weight"],
        [[c, "benefit" if k in ("max", "benefit", "+", "1") else "cost", _number(w)]
         for c, k, w in zip(result["criteria"], kinds, result["weights"])]))
    parts.append(f"<p class='note'>Weights from {escape(how)}")
    if "ahp" in result:
        parts.append(f"; consistency ratio {_number(result['ahp']['consistency_ratio'])}")
    parts.append(".</p>")
    directions = ["higher is better" if m["higher_is_better"] else "lower is better"
                  for m in result["methods"]]
    parts.append("<h2>Scores and ranks</h2>" + _table(
        ["alternative", *(f"{label} score ({d})" for label, d in zip(labels, directions)),
         *(f"{label} rank" for label in labels)],
        [[a, *(_number(s) for s in scores), *(str(r) for r in ranks)]
         for a, scores, ranks in zip(result["alternatives"], result["scores"], result["ranks"])]))
    parts.append(f"<h2>Agreement between the rankings ({escape(result['coefficient'])})</h2>"
                 + _table(["method", *labels],
                          [[a, *(_number(v) for v in row)]
                           for a, row in zip(labels, result["correlation"])]))
    parts.append(_figure(_library.rank_figure, result))
    if "sensitivity" in result:
        sens = result["sensitivity"]
        parts.append(f"<h2>Sensitivity of the {escape(sens['method'])} ranking</h2>" + _table(
            ["criterion", "base weight", "weight where the top changes",
             "top there"],
            [[c, _number(b), "never" if s is None else _number(s), t or ""]
             for c, b, s, t in zip(sens["criteria"], sens["base_weight"],
                                   sens["switch_weight"], sens["top_at_switch"])]))
        parts.append(_figure(_library.sensitivity_figure, request))
    if "smaa" in result:
        smaa = result["smaa"]
        parts.append(f"<h2>SMAA rank acceptability ({escape(smaa['method'])}, "
                     f"{smaa['samples']} samples, seed {smaa['seed']})</h2>" + _table(
                         ["alternative", *(f"rank {r}" for r in smaa["ranks"])],
                         [[a, *(_number(v) for v in row)]
                          for a, row in zip(smaa["alternatives"], smaa["acceptability"])]))
        parts.append(_figure(_library.smaa_figure, request))
    parts.append("<h2>Data</h2>" + _table(
        ["alternative", *result["criteria"]],
        [[str(a), *(str(c) for c in row)] for a, row in zip(table.get("alternatives", []),
                                                            table.get("cells", []))]))
    return ("<!DOCTYPE html><html lang='en'><head><meta charset='utf-8'>"
            "<title>Decision analysis</title><style>" + _STYLE + "</style></head><body>"
            + "".join(parts) + "</body></html>")


def _version() -> str:
    from ternavik._version import __version__

    return __version__
