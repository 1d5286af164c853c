"""The ``ternavik`` command line: TOPSIS and entropy weights on CSV files, and DE
on standard test functions.

Mistakes in the input (a missing file, a ragged row, a non-numeric cell, the
wrong number of kinds or weights, an unknown function) end the program with
one line on stderr and exit status 2.
"""

import argparse
import csv
import os
import sys
from typing import Any, List, NoReturn, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

import _ternavik

from . import mcda
from ._errors import InputError
from .functions import FUNCTIONS
from .optimize import minimize

EXAMPLE_PATH = os.path.join(os.path.dirname(__file__), "data", "suppliers.csv")
EXAMPLE_KINDS = "min,min,min,max,max"
EXAMPLE_WEIGHTS = "0.30,0.15,0.25,0.10,0.20"


class Table:
    """A decision matrix read from CSV: criteria, alternative names, values."""

    def __init__(self, criteria: List[str], names: List[str],
                 values: npt.NDArray[np.float64]) -> None:
        self.criteria = criteria
        self.names = names
        self.values = values


def _number(cell: str) -> Optional[float]:
    """The cell as a float, or None when it is not a number."""
    try:
        return float(cell)
    except ValueError:
        return None


def _read_rows(path: str, delimiter: str) -> List[List[str]]:
    """All non-blank rows of a CSV file, cells stripped."""
    try:
        with open(path, newline="", encoding="utf-8-sig") as handle:
            rows = [[c.strip() for c in row] for row in csv.reader(handle, delimiter=delimiter)]
    except OSError as error:
        raise InputError(f"cannot read {path!r}: {error.strerror or error}") from None
    except (UnicodeDecodeError, csv.Error) as error:
        raise InputError(f"{path!r} is not a readable CSV file: {error}") from None
    return [row for row in rows if any(row)]


def _has_name_column(header: List[str], body: List[List[str]]) -> bool:
    """A first column of names: an empty header cell, or no number in that column."""
    return header[0] == "" or all(_number(row[0]) is None for row in body)


def read_table(path: str, delimiter: str = ",") -> Table:
    """Read a header row of criteria and one row per alternative."""
    rows = _read_rows(path, delimiter)
    if len(rows) < 2:
        raise InputError(f"{path!r} needs a header row and at least one row of values")
    header, body = rows[0], rows[1:]
    for line, row in enumerate(body, start=2):
        if len(row) != len(header):
            raise InputError(f"{path!r} row {line} has {len(row)} cells, "
                             f"the header has {len(header)}")
    skip = 1 if _has_name_column(header, body) else 0
    names = [row[0] for row in body] if skip else [str(i + 1) for i in range(len(body))]
    values = np.empty((len(body), len(header) - skip), dtype=np.float64)
    for i, row in enumerate(body):
        for j, cell in enumerate(row[skip:]):
            number = _number(cell)
            if number is None:
                raise InputError(f"{path!r} row {i + 2}, criterion {header[j + skip]!r}: "
                                 f"{cell!r} is not a number")
            values[i, j] = number
    return Table(header[skip:], names, values)


def _split(option: str) -> List[str]:
    """Split a comma-separated option; a bare run of signs like '+-+' splits per sign."""
    text = option.strip()
    if text and "," not in text and set(text) <= {"+", "-"}:
        return list(text)
    return [part.strip() for part in text.split(",")]


def _parse_kinds(option: str) -> List[Any]:
    """Kinds from the command line: words, signs or the codes 1/0/-1."""
    return [int(k) if k.lstrip("-").isdigit() else k for k in _split(option)]


def _parse_weights(option: str, criteria: List[str]) -> Any:
    """Weights from the command line: numbers, name=number pairs, 'entropy' or 'equal'."""
    if option.strip().lower() in ("entropy", "equal"):
        return option.strip().lower()
    parts = _split(option)
    if all("=" in p for p in parts):
        pairs = [p.split("=", 1) for p in parts]
        return {name.strip(): _weight_number(value, name.strip()) for name, value in pairs}
    return [_weight_number(p, criteria[j] if j < len(criteria) else f"#{j + 1}")
            for j, p in enumerate(parts)]


def _weight_number(text: str, criterion: str) -> float:
    """One weight from the command line, naming its criterion when it is no number."""
    number = _number(text)
    if number is None:
        raise InputError(f"weight {text!r} of criterion {criterion!r} is not a number")
    return number


def _source(args: argparse.Namespace) -> Tuple[str, Table]:
    """The CSV file to work on: the one named, or the shipped example."""
    if args.example == (args.file is not None):
        raise InputError("give either a CSV file or --example")
    if len(args.delimiter) != 1:
        raise InputError(f"--delimiter must be one character, got {args.delimiter!r}")
    path = EXAMPLE_PATH if args.example else args.file
    if args.example:
        args.kinds = args.kinds or EXAMPLE_KINDS
        if args.command == "topsis":
            args.weights = args.weights or EXAMPLE_WEIGHTS
    table = read_table(path, args.delimiter)
    if args.kinds is None:
        raise InputError(f"--kinds is required: one of max/min (or +/-, benefit/cost, "
                         f"1/0) for each criterion: {', '.join(table.criteria)}")
    return os.path.basename(path), table


def _format_rows(header: Sequence[str], rows: Sequence[Sequence[str]],
                 right: Sequence[bool]) -> str:
    """An aligned plain-text table."""
    widths = [max(len(r[k]) for r in [header, *rows]) for k in range(len(header))]
    lines = []
    for row in [header, *rows]:
        cells = [c.rjust(w) if r else c.ljust(w) for c, w, r in zip(row, widths, right)]
        lines.append("  ".join(cells).rstrip())
    return "\n".join(lines)


def _print_results(table: Table, scores: npt.NDArray[np.float64], column: str,
                   as_csv: bool) -> None:
    """Alternatives with score and rank: by rank as text, in file order as CSV."""
    ranks = mcda.rank(scores)
    if as_csv:
        writer = csv.writer(sys.stdout, lineterminator="\n")
        writer.writerow(["alternative", column, "rank"])
        for name, score, r in zip(table.names, scores, ranks):
            writer.writerow([name, repr(float(score)), int(r)])
        return
    order = np.argsort(ranks, kind="stable")
    rows = [(str(ranks[i]), table.names[i], f"{scores[i]:.6f}") for i in order]
    print(_format_rows(("rank", "alternative", column), rows, (True, False, True)))


def _print_criteria(table: Table, codes: npt.NDArray[np.int64],
                    weights: npt.NDArray[np.float64]) -> None:
    """The criteria with their kind and weight."""
    rows = [(name, "benefit" if code == 1 else "cost", f"{w:.6f}")
            for name, code, w in zip(table.criteria, codes, weights)]
    print(_format_rows(("criterion", "kind", "weight"), rows, (False, False, True)))
    print()


def run_topsis(args: argparse.Namespace) -> None:
    """The `topsis` subcommand."""
    name, table = _source(args)
    weights_option = _parse_weights(args.weights or "equal", table.criteria)
    values, codes, weights = mcda.prepare(table.values, _parse_kinds(args.kinds),
                                          weights_option, table.criteria)
    closeness = _ternavik.topsis(values, weights, codes)
    if not args.csv:
        print(f"TOPSIS on {name}: {len(table.names)} alternatives, "
              f"{len(table.criteria)} criteria\n")
        _print_criteria(table, codes, weights)
    _print_results(table, closeness, "closeness", args.csv)


def run_entropy(args: argparse.Namespace) -> None:
    """The `entropy` subcommand."""
    name, table = _source(args)
    values, codes, _ = mcda.prepare(table.values, _parse_kinds(args.kinds),
                                    criteria=table.criteria)
    weights, scores = _ternavik.entropy_weight(values, codes)
    if not args.csv:
        print(f"Entropy weights on {name}: {len(table.names)} alternatives, "
              f"{len(table.criteria)} criteria\n")
        _print_criteria(table, codes, weights)
    _print_results(table, scores, "score", args.csv)


def run_optimize(args: argparse.Namespace) -> None:
    """The `optimize` subcommand."""
    if args.function not in FUNCTIONS:
        raise InputError(f"unknown function {args.function!r}; "
                         f"choose from {', '.join(FUNCTIONS)}")
    if args.dims < 1:
        raise InputError(f"--dims must be at least 1, got {args.dims}")
    if args.pop < 4:
        raise InputError(f"--pop must be at least 4, got {args.pop}")
    if args.iters < 0:
        raise InputError(f"--iters must not be negative, got {args.iters}")
    fun, box = FUNCTIONS[args.function]
    low, high = args.bounds if args.bounds is not None else box
    result = minimize(fun, [(low, high)] * args.dims, pop=args.pop, iters=args.iters,
                      F=args.F, CR=args.CR)
    print(f"function     {args.function} in {args.dims} dimensions on [{low:g}, {high:g}]")
    print(f"evaluations  {result.nfev} ({args.pop} x {args.iters + 1})")
    print(f"best value   {result.fun!r}")
    print("position     " + " ".join(repr(float(v)) for v in result.x))


class _Parser(argparse.ArgumentParser):
    """argparse that reports a usage mistake in one line."""

    def error(self, message: str) -> NoReturn:
        self.exit(2, f"ternavik: error: {message} (see {self.prog} --help)\n")


def _matrix_command(sub: Any, name: str, help_text: str, weights: bool) -> None:
    """Add the `topsis` or `entropy` subcommand."""
    p = sub.add_parser(name, help=help_text, description=help_text)
    p.add_argument("file", nargs="?", help="CSV file: a header row of criterion names, "
                   "one row per alternative, optionally a first column of names")
    p.add_argument("--example", action="store_true",
                   help="use the ten-supplier example shipped with ternavik")
    p.add_argument("--kinds", help="one per criterion: max/min, benefit/cost, +/- or "
                   "1/0/-1, comma separated (write --kinds=-,+ when it starts with '-')")
    if weights:
        p.add_argument("--weights", help="comma-separated numbers, name=number pairs, "
                       "'entropy' or 'equal' (default)")
    p.add_argument("--csv", action="store_true",
                   help="print CSV (file order) instead of a table (by rank)")
    p.add_argument("--delimiter", default=",", help="cell separator of the file")


def build_parser() -> argparse.ArgumentParser:
    """The argument parser of the command line."""
    parser = _Parser(prog="ternavik", description=__doc__.splitlines()[0] if __doc__ else None)
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)
    sub.required = True
    _matrix_command(sub, "topsis", "rank alternatives by TOPSIS closeness", True)
    _matrix_command(sub, "entropy", "entropy weights and scores of alternatives", False)
    p = sub.add_parser("optimize", help="minimise a standard test function by DE",
                       description="minimise a standard test function by DE")
    p.add_argument("function", help=f"one of {', '.join(FUNCTIONS)}")
    p.add_argument("--dims", type=int, default=5, help="dimensions (default 5)")
    p.add_argument("--pop", type=int, default=40, help="population size (default 40)")
    p.add_argument("--iters", type=int, default=500, help="generations (default 500)")
    p.add_argument("--bounds", type=float, nargs=2, metavar=("LOW", "HIGH"),
                   help="search box for every dimension (default: the function's usual one)")
    p.add_argument("--F", type=float, default=0.5, help="scale factor (default 0.5)")
    p.add_argument("--CR", type=float, default=0.7, help="crossover rate (default 0.7)")
    return parser


COMMANDS = {"topsis": run_topsis, "entropy": run_entropy, "optimize": run_optimize}


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Run the command line; returns the exit status."""
    args = build_parser().parse_args(argv)
    try:
        COMMANDS[args.command](args)
    except (InputError, ValueError) as error:
        print(f"ternavik: error: {error}", file=sys.stderr)
        return 2
    except BrokenPipeError:
        # The reader (say `head`) stopped early; leave quietly like other filters.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    return 0
