"""The `ahp` and `smaa` subcommands of the command line.

    ternavik ahp judgements.csv              # weights and consistency of a pairwise matrix
    ternavik smaa phones.csv --kinds -++     # rank acceptabilities under uncertain weights
"""

import argparse
import csv
import sys
from typing import Any, Callable, Dict, List

import numpy as np

from ._errors import InputError


def _ratio(cell: str, where: str) -> float:
    """A judgement: a number or a fraction such as 1/3."""
    text = cell.strip()
    try:
        if "/" in text:
            top, bottom = text.split("/", 1)
            return float(top) / float(bottom)
        return float(text)
    except (ValueError, ZeroDivisionError):
        raise InputError(f"{where}: {cell!r} is not a number or a fraction such as 1/3") \
            from None


def _is_ratio(cell: str) -> bool:
    try:
        _ratio(cell, "")
    except InputError:
        return False
    return True


def read_pairwise(path: str, delimiter: Any) -> Any:
    """A square CSV of judgements: a header of criteria, optionally a first column of them."""
    from ._data import check_unique
    from .cli import _shown, header_and_rows
    header, body = header_and_rows(path, delimiter, ".",
                                   "a header row of criteria and one row each")
    # A first column of names: an empty corner, or names where numbers would be.
    skip = 1 if header[0] == "" or not all(_is_ratio(row[0]) for row in body) else 0
    criteria = header[skip:]
    if len(body) != len(criteria):
        raise InputError(f"{_shown(path)} is not square: {len(criteria)} criteria in the "
                         f"header, {len(body)} rows")
    check_unique(criteria)
    names = [row[0] for row in body] if skip else criteria
    if names != criteria:
        raise InputError(f"{_shown(path)} names its rows {', '.join(names)} but its columns "
                         f"{', '.join(criteria)}: both must list the criteria in one order")
    values = [[_ratio(cell, f"{_shown(path)} row {i + 2}, column {criteria[j]!r}")
               for j, cell in enumerate(row[skip:])] for i, row in enumerate(body)]
    matrix = np.array(values, dtype=np.float64)
    # Checked here as ahp() checks it, so that a mistake names the criteria.
    from .subjective import _RECIPROCAL_TOLERANCE, _check_reciprocal
    _check_reciprocal(matrix, _RECIPROCAL_TOLERANCE, criteria)
    return criteria, matrix


def run_ahp(args: argparse.Namespace) -> None:
    """The `ahp` subcommand."""
    import warnings

    from .cli import _format_rows
    from .subjective import ConsistencyWarning, ahp
    criteria, matrix = read_pairwise(args.file, args.delimiter)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ConsistencyWarning)  # said in the output instead
        result = ahp(matrix, method=args.method)
    weights = np.asarray(result.weights)
    if args.csv:
        writer = csv.writer(sys.stdout, lineterminator="\n")
        writer.writerow(["criterion", "weight"])
        for name, w in zip(criteria, weights):
            writer.writerow([name, repr(float(w))])
        return
    rows = [(name, f"{w:.6f}") for name, w in zip(criteria, weights)]
    print(_format_rows(("criterion", "weight"), rows, (False, True)))
    verdict = "consistent" if result.consistent else "INCONSISTENT: revise the judgements"
    print(f"\nlambda_max {result.lambda_max:.6f}, CI {result.consistency_index:.6f}, "
          f"CR {result.consistency_ratio:.6f} ({verdict})")


def run_smaa(args: argparse.Namespace) -> None:
    """The `smaa` subcommand."""
    from .cli import _heading, _parse_kinds, _prepare, _print_matrix, _source, save_figure
    from ._smaa import smaa
    if args.samples < 1:
        raise InputError(f"--samples must be at least 1, got {args.samples}")
    name, table = _source(args)
    if args.nan_policy == "propagate":
        args.nan_policy = "raise"  # as smaa() does: no rank can be drawn for a missing value
    prepared = _prepare(args, table, None)
    result = smaa(table.values, _parse_kinds(args.kinds), method=args.method,
                  samples=args.samples, seed=args.seed, nan_policy=args.nan_policy)
    kept = [a for k, a in enumerate(table.names) if prepared.kept is None or prepared.kept[k]]
    if args.plot:
        try:
            figure = result.plot()
        except ImportError as error:
            raise InputError(str(error)) from None
        figure.axes[0].set_xticklabels(kept)
        save_figure(figure, args.plot)
    ranks = [str(r + 1) for r in range(len(kept))]
    if args.csv:
        writer = csv.writer(sys.stdout, lineterminator="\n")
        writer.writerow(["alternative", *(f"rank_{r}" for r in ranks), "confidence"])
        for a, row, c in zip(kept, result.acceptability, result.confidence):
            writer.writerow([a, *(repr(float(v)) for v in row), repr(float(c))])
        return
    _heading(f"SMAA-2 ({args.method}, {args.samples} weight vectors)", name, table, prepared)
    _print_matrix("Rank acceptability (share of weight vectors)", kept, ranks,
                  [[f"{v:.4f}" for v in row] for row in result.acceptability], "alternative")
    print()
    cells = [[("-" if np.isnan(w) else f"{w:.4f}") for w in row] + [
        "-" if np.isnan(c) else f"{c:.0f}"] for row, c in zip(result.central_weights,
                                                               result.confidence)]
    _print_matrix("Central weights and confidence", kept, [*table.criteria, "confidence"],
                  cells, "alternative")


def add_commands(sub: Any, matrix_command: Callable[..., Any]) -> Dict[str, Callable[..., None]]:
    """Adds `ahp` and `smaa` to the subcommands; returns their runners by name."""
    p = sub.add_parser("ahp", help="criterion weights from a CSV of pairwise judgements",
                       description="Criterion weights from a CSV of pairwise judgements "
                       "(AHP): a header row of criteria, then one row per criterion; "
                       "cells are numbers or fractions such as 1/3.")
    p.add_argument("file", help="CSV file (- for standard input)")
    p.add_argument("--method", choices=("eigenvector", "geometric_mean"),
                   default="eigenvector", help="Saaty's eigenvector (default) or row "
                   "geometric means")
    p.add_argument("--csv", action="store_true", help="print CSV instead of a table")
    p.add_argument("--delimiter", help="cell separator (default: detected)")
    p = matrix_command(sub, "smaa", "how often each alternative takes each rank when the "
                       "weights are uncertain (SMAA-2)", False)
    p.add_argument("--method", default="topsis", help="ranking method (default topsis)")
    p.add_argument("--samples", type=int, default=10_000,
                   help="weight vectors drawn (default 10000)")
    p.add_argument("--seed", type=int, help="makes the draws repeatable")
    p.add_argument("--plot", metavar="PATH",
                   help="also draw the acceptabilities into an image (needs matplotlib)")
    return {"ahp": run_ahp, "smaa": run_smaa}


__all__: List[str] = ["add_commands", "read_pairwise", "run_ahp", "run_smaa"]
