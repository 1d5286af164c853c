"""The ternavik command line: TOPSIS, entropy weights, side-by-side method
comparisons, SMAA and AHP weights on CSV files, and DE on standard test functions.

Every mistake in the input (a missing file, a ragged row, a non-numeric or
missing cell, the wrong number of kinds or weights, an unknown function, a
population too large) ends the program with one line on stderr and exit
status 2.
"""

import argparse
import csv
import io
import os
import re
import sys
from typing import Any, Dict, List, NoReturn, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

from . import mcda
from ._backend import native
from ._errors import InputError
from ._matrix import NAN_POLICIES, PreparedMatrix, prepare_matrix, ranked_policy
from ._version import __version__
from ._cli_judgements import add_commands
from .web import add_serve_command
from .compare import compare_arrays, method_names
from .correlation import coefficient_code
from .functions import FUNCTIONS
from ._de_settings import ALL_STRATEGIES
from .optimize import check_size, short_form

EXAMPLE_PATH = os.path.join(os.path.dirname(__file__), "data", "suppliers.csv")
EXAMPLE_KINDS = "min,min,min,max,max"
EXAMPLE_WEIGHTS = "0.30,0.15,0.25,0.10,0.20"
STDIN = "-"

# Cells that mean "no value": they become NaN for --nan-policy to judge.
_MISSING = {"", "na", "n/a", "nan", "null"}
_DELIMITER_NAMES = {"tab": "\t", "\\t": "\t", "comma": ",", "semicolon": ";",
                    "pipe": "|", "space": " "}
_SNIFFED = ",;\t|"
# Options whose value may start with '-' (a cost kind): argparse would take
# such a value for an option, so it is glued on as --kinds=VALUE.
_SIGNED_OPTIONS = ("--kinds", "--weights")
_SIGN_RUN = re.compile(r"^[-+, ]+$")


class Table:
    """A decision matrix read from CSV: criteria, alternative names, values."""

    def __init__(self, criteria: List[str], names: List[str],
                 values: npt.NDArray[np.float64]) -> None:
        self.criteria = criteria
        self.names = names
        self.values = values


def _number(cell: str, decimal: str = ".") -> Optional[float]:
    """The cell as a float (NaN when missing), or None when it is not a number.

    With a decimal comma ("12,4") the comma is the decimal mark and a point
    is not accepted, so "1.234" is not silently read as 1.234 in a file that
    writes one thousand two hundred and thirty-four that way.
    """
    if cell.strip().lower() in _MISSING:
        return float("nan")
    if decimal != ".":
        if "." in cell:
            return None
        cell = cell.replace(decimal, ".")
    try:
        return float(cell)
    except ValueError:
        return None


def _read_text(path: str) -> str:
    """The whole file, or standard input for '-'."""
    if path == STDIN:
        return sys.stdin.read().lstrip("\ufeff")
    try:
        with open(path, newline="", encoding="utf-8-sig") as handle:
            return handle.read()
    except OSError as error:
        raise InputError(f"cannot read {path!r}: {error.strerror or error}") from None
    except UnicodeDecodeError as error:
        raise InputError(f"{path!r} is not a readable CSV file: {error}") from None


def delimiter_of(text: str, option: Optional[str]) -> str:
    """The cell separator: the one named, else the one the text uses."""
    if option is not None:
        named = _DELIMITER_NAMES.get(option.lower(), option)
        if len(named) != 1:
            raise InputError(f"--delimiter must be one character or tab, comma, semicolon, "
                             f"pipe, space; got {option!r}")
        return named
    sample = text[:65536]
    if len(text) > len(sample) and "\n" in sample:
        sample = sample[:sample.rindex("\n")]  # whole lines only, or counts look uneven
    try:
        return csv.Sniffer().sniff(sample, delimiters=_SNIFFED).delimiter
    except csv.Error:  # one column, or too little text to tell
        return ","


def _read_rows(path: str, delimiter: Optional[str], decimal: str = ".") -> List[List[str]]:
    """All non-blank rows of a CSV file, cells stripped."""
    text = _read_text(path)
    sep = delimiter_of(text, delimiter)
    if sep == decimal:
        raise InputError(f"the cell separator and the decimal mark are both {decimal!r}; "
                         f"name another separator with --delimiter")
    try:
        rows = [[c.strip() for c in row] for row in csv.reader(io.StringIO(text), delimiter=sep)]
    except csv.Error as error:
        raise InputError(f"{_shown(path)} is not a readable CSV file: {error}") from None
    return [row for row in rows if any(row)]


def _shown(path: str) -> str:
    return "standard input" if path == STDIN else repr(path)


def _has_name_column(header: List[str], body: List[List[str]], decimal: str = ".") -> bool:
    """A first column of names: an empty header cell, or text and no number in
    that column. A column of nothing but missing cells holds no names: it is
    a criterion without values, for --nan-policy to judge."""
    if header[0] == "":
        return True
    present = [row[0] for row in body if row[0].strip().lower() not in _MISSING]
    return bool(present) and all(_number(cell, decimal) is None for cell in present)


def header_and_rows(path: str, delimiter: Optional[str], decimal: str,
                    needs: str) -> Tuple[List[str], List[List[str]]]:
    """A CSV file's header row and the rows below it, each as long as the header."""
    rows = _read_rows(path, delimiter, decimal)
    if len(rows) < 2:
        raise InputError(f"{_shown(path)} needs {needs}")
    header, body = rows[0], rows[1:]
    for line, row in enumerate(body, start=2):
        if len(row) != len(header):
            raise InputError(f"{_shown(path)} row {line} has {len(row)} cells, "
                             f"the header has {len(header)}")
    return header, body


def read_table(path: str, delimiter: Optional[str] = None, decimal: str = ".") -> Table:
    """Read a header row of criteria and one row per alternative."""
    if decimal not in (".", ","):
        raise InputError(f"--decimal must be '.' or ',', got {decimal!r}")
    header, body = header_and_rows(path, delimiter, decimal,
                                   "a header row and at least one row of values")
    skip = 1 if _has_name_column(header, body, decimal) else 0
    names = [row[0] for row in body] if skip else [str(i + 1) for i in range(len(body))]
    values = np.empty((len(body), len(header) - skip), dtype=np.float64)
    for i, row in enumerate(body):
        for j, cell in enumerate(row[skip:]):
            number = _number(cell, decimal)
            if number is None:
                raise InputError(f"{_shown(path)} row {i + 2}, criterion "
                                 f"{header[j + skip]!r}: {cell!r} is not a number")
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
    """Weights from the command line: numbers, name=number pairs, or a weighting name."""
    if "," not in option and "=" not in option and _number(option) is None:
        return option.strip().lower()
    parts = _split(option)
    if all("=" in p for p in parts):
        pairs = [(name.strip(), value) for name, value in (p.split("=", 1) for p in parts)]
        names = [name for name, _ in pairs]
        twice = sorted({name for name in names if names.count(name) > 1})
        if twice:
            raise InputError(f"--weights gives more than one weight for "
                             f"{', '.join(map(repr, twice))}")
        return {name: _weight_number(value, name) for name, value in pairs}
    return [_weight_number(p, criteria[j] if j < len(criteria) else f"#{j + 1}")
            for j, p in enumerate(parts)]


def _weight_number(text: str, criterion: str) -> float:
    """One weight from the command line, naming its criterion when it is no number."""
    number = _number(text)
    if number is None or text.strip().lower() in _MISSING:
        raise InputError(f"weight {text!r} of criterion {criterion!r} is not a number")
    return number


def _source(args: argparse.Namespace) -> Tuple[str, Table]:
    """The CSV file to work on: the one named, standard input, or the shipped example."""
    if args.example == (args.file is not None):
        raise InputError("give either a CSV file (- for standard input) or --example")
    path = EXAMPLE_PATH if args.example else args.file
    if args.example:
        args.kinds = args.kinds or EXAMPLE_KINDS
        if args.command in ("topsis", "compare") and not getattr(args, "weights_ahp", None):
            args.weights = args.weights or EXAMPLE_WEIGHTS
    table = read_table(path, args.delimiter, args.decimal)
    if args.kinds is None:
        raise InputError(f"--kinds is required: one of max/min (or +/-, benefit/cost, "
                         f"1/0) for each criterion: {', '.join(table.criteria)}")
    return ("standard input" if path == STDIN else os.path.basename(path)), table


def _prepare(args: argparse.Namespace, table: Table, weights: Any,
             nan_policy: Optional[str] = None) -> PreparedMatrix:
    """The matrix, kinds and weights checked as the library checks them."""
    policy = args.nan_policy if nan_policy is None else nan_policy
    return prepare_matrix(table.values, _parse_kinds(args.kinds), weights, policy,
                          criteria=table.criteria, alternatives=table.names,
                          omit_hint="--nan-policy omit")


def _format_rows(header: Sequence[str], rows: Sequence[Sequence[str]],
                 right: Sequence[bool]) -> str:
    """An aligned plain-text table."""
    widths = [max(len(r[k]) for r in [header, *rows]) for k in range(len(header))]
    lines = []
    for row in [header, *rows]:
        cells = [c.rjust(w) if r else c.ljust(w) for c, w, r in zip(row, widths, right)]
        lines.append("  ".join(cells).rstrip())
    return "\n".join(lines)


def _print_results(table: Table, scores: npt.NDArray[np.float64], column: str) -> None:
    """Alternatives with score and rank, best first; omitted ones last."""
    ranks = mcda.rank(scores)
    order = np.argsort(ranks, kind="stable")
    rows = [(str(ranks[i]), table.names[i], f"{scores[i]:.6f}") if not np.isnan(scores[i])
            else ("-", table.names[i], "omitted") for i in order]
    print(_format_rows(("rank", "alternative", column), rows, (True, False, True)))


def _csv_results(table: Table, scores: npt.NDArray[np.float64], column: str) -> None:
    """Alternatives with score and rank as CSV, in file order."""
    writer = csv.writer(sys.stdout, lineterminator="\n")
    writer.writerow(["alternative", column, "rank"])
    for name, score, r in zip(table.names, scores, mcda.rank(scores)):
        writer.writerow([name, repr(float(score)), int(r)])


def _print_criteria(table: Table, prepared: PreparedMatrix,
                    weights: npt.NDArray[np.float64]) -> None:
    """The criteria with their kind and weight."""
    rows = [(name, "benefit" if code == 1 else "cost", f"{w:.6f}")
            for name, code, w in zip(table.criteria, prepared.codes, weights)]
    print(_format_rows(("criterion", "kind", "weight"), rows, (False, False, True)))
    print()


def _heading(what: str, name: str, table: Table, prepared: PreparedMatrix) -> None:
    left_out = 0 if prepared.kept is None else int(np.count_nonzero(~prepared.kept))
    note = f" ({left_out} left out for missing or infinite values)" if left_out else ""
    print(f"{what} on {name}: {len(table.names)} alternatives{note}, "
          f"{len(table.criteria)} criteria\n")


def run_topsis(args: argparse.Namespace) -> None:
    """The `topsis` subcommand."""
    name, table = _source(args)
    prepared = _prepare(args, table, _parse_weights(args.weights or "equal", table.criteria))
    closeness = prepared.per_alternative(
        mcda.native_topsis(prepared.values, prepared.weights, prepared.codes), "closeness")
    if args.csv:
        _csv_results(table, closeness, "closeness")
        return
    _heading("TOPSIS", name, table, prepared)
    _print_criteria(table, prepared, prepared.weights)
    _print_results(table, closeness, "closeness")


def run_entropy(args: argparse.Namespace) -> None:
    """The `entropy` subcommand."""
    name, table = _source(args)
    prepared = _prepare(args, table, None)
    weights, scores = native.entropy_weight(prepared.values, prepared.codes)
    scores = prepared.per_alternative(scores, "score")
    if not args.csv:
        _heading("Entropy weights", name, table, prepared)
        _print_criteria(table, prepared, weights)
        _print_results(table, scores, "score")
        return
    # One table for both results: a weight row per criterion, then a score
    # row (with its rank) per alternative.
    writer = csv.writer(sys.stdout, lineterminator="\n")
    writer.writerow(["section", "name", "value", "rank"])
    for criterion, weight in zip(table.criteria, weights):
        writer.writerow(["weight", criterion, repr(float(weight)), ""])
    for alternative, score, r in zip(table.names, scores, mcda.rank(scores)):
        writer.writerow(["score", alternative, repr(float(score)), int(r)])


def _save_rank_plot(path: str, ranks: npt.NDArray[np.int64], alternatives: List[str],
                    names: List[str]) -> None:
    """The rank-comparison chart as an image file (its format from the suffix)."""
    from .plots import plot_ranks

    try:
        figure = plot_ranks(ranks, alternatives, names)
    except ImportError as error:
        raise InputError(str(error)) from None
    save_figure(figure, path)


def save_figure(figure: Any, path: str) -> None:
    """A picture written to exactly the file --plot names (its format from the suffix)."""
    if os.path.isdir(path):
        raise InputError(f"--plot needs a file name, and {path!r} is a folder; "
                         f"give a path such as {os.path.join(path, 'ranks.png')!r}")
    # Without a suffix the picture is a PNG under exactly the name given
    # (matplotlib would otherwise write PATH.png beside it).
    known = figure.canvas.get_supported_filetypes()
    suffix = os.path.splitext(path)[1].lstrip(".").lower()
    try:
        figure.savefig(path, format=suffix if suffix in known else "png")
    except (OSError, ValueError) as error:
        raise InputError(f"cannot write the plot to {path!r}: {error}") from None


def _print_matrix(title: str, rows: Sequence[str], columns: Sequence[str],
                  cells: Sequence[Sequence[str]], corner: str) -> None:
    print(title)
    body = [(row, *line) for row, line in zip(rows, cells)]
    print(_format_rows((corner, *columns), body, (False, *[True] * len(columns))))


def _ahp_weights(path: str) -> Tuple[Any, str]:
    """Weights by criterion from a CSV of pairwise judgements, and a line saying
    how consistent they are (an inconsistent file is also warned about on stderr)."""
    import warnings

    from ._cli_judgements import read_pairwise
    from .subjective import ConsistencyWarning, ahp
    criteria, matrix = read_pairwise(path, None)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ConsistencyWarning)  # said below instead
        result = ahp(matrix)
    verdict = "consistent" if result.consistent else "INCONSISTENT"
    if not result.consistent:
        print(f"ternavik: warning: the AHP judgements in {_shown(path)} are inconsistent "
              f"(CR {result.consistency_ratio:.4f} > 0.1)", file=sys.stderr)
    line = (f"Weights from the AHP judgements in {_shown(path)}: "
            f"CR {result.consistency_ratio:.4f} ({verdict})")
    return dict(zip(criteria, np.asarray(result.weights).tolist())), line


def _compared_methods(args: argparse.Namespace) -> Tuple[Any, List[str], List[str]]:
    """The methods of --methods plus the SMAA column of --smaa, their labels,
    and lines that explain the extra columns."""
    names = method_names(args.methods)
    if args.smaa is None:
        if args.smaa_method is not None:
            raise InputError("--smaa-method needs --smaa N, the number of weight vectors")
        return names, names, []
    if args.smaa < 1:
        raise InputError(f"--smaa must be at least 1, got {args.smaa}")
    ranked_by = args.smaa_method or names[0]
    variants: Dict[str, Any] = {n: n for n in names}
    variants["smaa"] = ("smaa", {"method": ranked_by, "samples": args.smaa, "seed": args.seed})
    labels = method_names(variants)
    return variants, labels, [f"smaa: expected rank by {ranked_by} over {args.smaa} weight "
                              f"vectors drawn uniformly (lower is better)"]


def run_compare(args: argparse.Namespace) -> None:
    """The `compare` subcommand: scores and ranks by several methods, and their agreement."""
    if args.weights is not None and args.weights_ahp is not None:
        raise InputError("give either --weights or --weights-ahp, not both")
    if args.file == STDIN and args.weights_ahp == STDIN:
        raise InputError("the data and --weights-ahp cannot both be read from standard "
                         "input; name a file for one of them")
    name, table = _source(args)
    methods, names, notes = _compared_methods(args)
    coefficient_code(args.coefficient)
    if args.weights_ahp is not None:
        weights, ahp_line = _ahp_weights(args.weights_ahp)
        notes.insert(0, ahp_line)
    else:
        weights = _parse_weights(args.weights or "equal", table.criteria)
    prepared = _prepare(args, table, weights, ranked_policy(args.nan_policy))
    scores, ranks, between = compare_arrays(prepared.values, prepared.weights, prepared.codes,
                                            methods, args.coefficient)
    kept = [a for k, a in enumerate(table.names) if prepared.kept is None or prepared.kept[k]]
    if args.plot:
        _save_rank_plot(args.plot, ranks, kept, names)
    if args.csv:
        writer = csv.writer(sys.stdout, lineterminator="\n")
        writer.writerow(["alternative", *names, *(f"rank_{m}" for m in names)])
        for a, row, rank_row in zip(kept, scores, ranks):
            writer.writerow([a, *(repr(float(v)) for v in row), *(int(r) for r in rank_row)])
        return
    _heading("Methods compared", name, table, prepared)
    for note in notes:
        print(note)
    if notes:
        print()
    _print_criteria(table, prepared, prepared.weights)
    _print_matrix("Scores", kept, names, [[f"{v:.6f}" for v in row] for row in scores],
                  "alternative")
    print()
    _print_matrix("Ranks (1 = best)", kept, names, [[str(r) for r in row] for row in ranks],
                  "alternative")
    print()
    _print_matrix(f"{args.coefficient} between the rankings (row = reference)", names, names,
                  [[f"{v:.4f}" for v in row] for row in between], "method")


def run_optimize(args: argparse.Namespace) -> None:
    """The `optimize` subcommand."""
    if args.function not in FUNCTIONS:
        raise InputError(f"unknown function {args.function!r}; "
                         f"choose from {', '.join(FUNCTIONS)}")
    if args.dims < 1:
        raise InputError(f"--dims must be at least 1, got {args.dims}")
    pop = args.pop if args.popsize is None else args.popsize * args.dims
    iters = args.iters if args.maxiter is None else args.maxiter
    check_size(max(pop, 0), args.dims)  # before making one pair of bounds per dimension
    fun, box = FUNCTIONS[args.function]
    low, high = args.bounds if args.bounds is not None else box
    result = short_form(fun, [(low, high)] * args.dims, pop=pop, iters=iters, F=args.F,
                        CR=args.CR, seed=args.seed, strategy=args.strategy, tol=args.tol,
                        progress=args.progress)
    print(f"function     {args.function} in {args.dims} dimensions on [{low:g}, {high:g}]")
    print(f"evaluations  {result.nfev} ({pop} x {result.nit + 1})")
    print(f"best value   {result.fun!r}")
    print("position     " + " ".join(repr(float(v)) for v in result.x))
    print(f"result       {result.message}")


class _Parser(argparse.ArgumentParser):
    """argparse that reports a usage mistake in one line."""

    def __init__(self, *args: Any, **kwargs: Any) -> None:
        super().__init__(*args, **kwargs)
        # argparse takes only plain negative numbers (-5, -0.5) for values;
        # widen that to every float spelling so that `--bounds -1e3 1e3` works.
        if hasattr(self, "_negative_number_matcher"):
            self._negative_number_matcher = re.compile(
                r"^-(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?$|^-inf(inity)?$", re.IGNORECASE)

    def error(self, message: str) -> NoReturn:
        self.exit(2, f"ternavik: error: {message} (see {self.prog} --help)\n")


def _sentence(text: str) -> str:
    """A help line as a description: capitalised, with a full stop."""
    return text[:1].upper() + text[1:] + "."


def _matrix_command(sub: Any, name: str, help_text: str, weights: bool) -> Any:
    """Add a subcommand that reads a decision matrix (`topsis`, `entropy`, `compare`)."""
    p = sub.add_parser(name, help=help_text, description=_sentence(help_text))
    p.add_argument("file", nargs="?", help="CSV file (- for standard input): a header row "
                   "of criterion names, one row per alternative, optionally a first "
                   "column of names")
    p.add_argument("--example", action="store_true",
                   help="use the ten-supplier example shipped with ternavik")
    p.add_argument("--kinds", help="one per criterion: max/min, benefit/cost, +/- or "
                   "1/0/-1, comma separated, or a run of signs such as -++")
    if weights:
        p.add_argument("--weights", help="comma-separated numbers, name=number pairs, or "
                       "a weighting: 'equal' (default), 'entropy', 'sum_entropy', "
                       "'critic', 'merec', 'standard_deviation', 'variance', 'gini', "
                       "'angle'; numbers not negative, not all zero")
    p.add_argument("--nan-policy", choices=NAN_POLICIES, default="raise",
                   help="missing or infinite cells: raise (default) stops with an error, "
                   "omit leaves those alternatives out, propagate passes them on")
    p.add_argument("--csv", action="store_true",
                   help="print CSV (file order) instead of a table (by rank)"
                   + ("" if weights else "; rows of weights, then rows of scores"))
    p.add_argument("--delimiter", help="cell separator: one character, or tab, comma, "
                   "semicolon, pipe, space (default: detected)")
    p.add_argument("--decimal", default=".", choices=(".", ","), metavar="MARK",
                   help="decimal mark of the numbers in the file: . (default) or , as in "
                   "12,4 (then cells are separated by another character, such as ;)")
    return p


def build_parser() -> argparse.ArgumentParser:
    """The argument parser of the command line."""
    parser = _Parser(prog="ternavik", description="Rank alternatives by TOPSIS or several "
                     "decision methods, derive entropy weights from CSV files, and minimise "
                     "standard test functions by differential evolution.")
    parser.add_argument("--version", action="version", version=f"ternavik {__version__}")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)
    sub.required = True
    _matrix_command(sub, "topsis", "rank alternatives by TOPSIS closeness", True)
    _matrix_command(sub, "entropy", "entropy weights and scores of alternatives", False)
    p = _matrix_command(sub, "compare", "rank alternatives by several methods and compare "
                        "the rankings", True)
    p.add_argument("--methods", default="topsis,vikor,promethee2",
                   help="comma-separated method names (default topsis,vikor,promethee2)")
    p.add_argument("--coefficient", default="spearman",
                   help="agreement between rankings: spearman (default), weighted_spearman, "
                   "ws, kendall_tau or goodman_kruskal_gamma")
    p.add_argument("--plot", metavar="PATH",
                   help="also draw the ranks by method into an image (needs matplotlib)")
    p.add_argument("--weights-ahp", metavar="PATH",
                   help="take the weights from a CSV of AHP pairwise judgements (as `ternavik "
                   "ahp` reads it; its criteria named as in the data) instead of --weights")
    p.add_argument("--smaa", type=int, metavar="N",
                   help="add a column 'smaa': each alternative's expected rank over N weight "
                   "vectors drawn uniformly (SMAA-2; lower is better)")
    p.add_argument("--smaa-method", metavar="NAME",
                   help="the method SMAA ranks by (default: the first of --methods)")
    p.add_argument("--seed", type=int, help="makes the SMAA draws repeatable")
    COMMANDS.update(add_commands(sub, _matrix_command))
    COMMANDS.update(add_serve_command(sub))
    p = sub.add_parser("optimize", help="minimise a standard test function by DE",
                       description="Minimise a standard test function by differential "
                       "evolution.")
    p.add_argument("function", help=f"one of {', '.join(FUNCTIONS)}")
    p.add_argument("--dims", type=int, default=5, help="dimensions (default 5)")
    size = p.add_mutually_exclusive_group()
    size.add_argument("--pop", type=int, default=40, help="population size (default 40)")
    size.add_argument("--popsize", type=int,
                      help="population size as a multiple of --dims, as SciPy counts it")
    length = p.add_mutually_exclusive_group()
    length.add_argument("--iters", type=int, default=500, help="generations (default 500)")
    length.add_argument("--maxiter", type=int, help="the same as --iters, SciPy's name")
    p.add_argument("--seed", type=int, help="makes the run repeatable (default: a fresh one)")
    p.add_argument("--strategy", default="rand1bin", choices=ALL_STRATEGIES,
                   help="mutation and crossover (default rand1bin)")
    p.add_argument("--tol", type=float, help="stop once the spread of the population's values "
                   "is at most tol x |their mean| (default: run every generation)")
    p.add_argument("--progress", action="store_true",
                   help="show a progress bar with the best value (needs tqdm)")
    p.add_argument("--bounds", type=float, nargs=2, metavar=("LOW", "HIGH"),
                   help="search box for every dimension (default: the function's usual one)")
    p.add_argument("--F", type=float, default=0.5, help="scale factor in (0, 2] (default 0.5)")
    p.add_argument("--CR", type=float, default=0.7,
                   help="crossover rate in [0, 1] (default 0.7)")
    return parser


def _glue_signed_values(argv: Sequence[str]) -> List[str]:
    """Turn `--kinds -,+` into `--kinds=-,+` so argparse reads the value as one."""
    out: List[str] = []
    k = 0
    while k < len(argv):
        value = argv[k + 1] if k + 1 < len(argv) else ""
        # A run of signs ("---++", "-,+") is a value even when it starts like
        # a long option; any other "--word" is the next option.
        if argv[k] in _SIGNED_OPTIONS and value.startswith("-") \
                and (not value.startswith("--") or _SIGN_RUN.match(value)):
            out.append(f"{argv[k]}={argv[k + 1]}")
            k += 2
        else:
            out.append(argv[k])
            k += 1
    return out


COMMANDS = {"topsis": run_topsis, "entropy": run_entropy, "compare": run_compare,
            "optimize": run_optimize}


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Run the command line; returns the exit status."""
    args = build_parser().parse_args(_glue_signed_values(sys.argv[1:] if argv is None
                                                         else argv))
    try:
        COMMANDS[args.command](args)
        sys.stdout.flush()
    except (InputError, ValueError, OverflowError, ImportError) as error:
        print(f"ternavik: error: {error}", file=sys.stderr)
        return 2
    except MemoryError:
        print("ternavik: error: not enough memory for this problem", file=sys.stderr)
        return 2
    except BrokenPipeError:
        # The reader (say `head`) stopped early; leave quietly like other filters.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except OSError as error:
        # The output could not be written (a full disk, /dev/full): say so in
        # one line, and drop what is still buffered so the exit adds nothing.
        if _writing_failed(error):
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
            print(f"ternavik: error: cannot write the output: {error.strerror or error}",
                  file=sys.stderr)
            return 1
        raise
    return 0


def _writing_failed(error: OSError) -> bool:
    """Whether an OSError came from writing standard output."""
    import errno
    return error.errno in (errno.ENOSPC, errno.EIO, errno.EDQUOT, errno.EFBIG, errno.EPIPE,
                           errno.EBADF)
