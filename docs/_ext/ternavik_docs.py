"""Directives that write parts of the pages from the package itself at build time.

``.. ternavik-cli-help::`` prints the command line's help texts, so the page lists
every subcommand and option there is, worded as ``ternavik --help`` words them.
``.. ternavik-methods-table::`` lists every ranking method of the registry with its
direction and the data it accepts, so the table cannot fall behind the code.
"""

import argparse
import os
import re
import weakref
from typing import Any, Dict, List

from docutils import nodes
from sphinx.util.docutils import SphinxDirective


def _subcommands(parser: argparse.ArgumentParser) -> Dict[str, argparse.ArgumentParser]:
    """The parser's subcommands by name, in the order the parser lists them."""
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            seen: Dict[str, argparse.ArgumentParser] = {}
            for name, sub in action.choices.items():
                if sub not in seen.values():  # aliases share one parser
                    seen[name] = sub
            return seen
    return {}


def _help(parser: argparse.ArgumentParser) -> str:
    # A fixed width keeps the text the same on every machine that builds it.
    previous = os.environ.get("COLUMNS")
    os.environ["COLUMNS"] = "88"
    try:
        return parser.format_help()
    finally:
        if previous is None:
            del os.environ["COLUMNS"]
        else:
            os.environ["COLUMNS"] = previous


class CliHelp(SphinxDirective):
    """With no argument, the top-level help; with a subcommand's name, its help;
    with ``all``, a section per subcommand."""

    optional_arguments = 1

    def run(self) -> List[nodes.Node]:
        from ternavik.cli import build_parser

        parser = build_parser()
        parser.prog = "ternavik"
        subs = _subcommands(parser)
        which = self.arguments[0] if self.arguments else ""
        if which == "all":
            out: List[nodes.Node] = []
            for name, sub in subs.items():
                sub.prog = f"ternavik {name}"
                section = nodes.section(ids=[f"cli-{name}"])
                section += nodes.title(text=f"ternavik {name}")
                section += nodes.literal_block(text=_help(sub), language="text")
                out.append(section)
            return out
        if which:
            if which not in subs:
                raise self.error(f"ternavik has no subcommand {which!r}")
            parser = subs[which]
            parser.prog = f"ternavik {which}"
        return [nodes.literal_block(text=_help(parser), language="text")]


def _domain_text(method: Any) -> str:
    """What a registry entry says about the data it accepts, in words."""
    domain = getattr(method, "domain", None)
    if domain is None:
        return "see the method's section"
    texts = []
    for kind in ("benefit", "cost"):
        rule = getattr(domain, kind, None)
        text = getattr(rule, "text", None)
        if text:
            texts.append((kind, text))
    if not texts:
        return str(domain)
    if len({text for _, text in texts}) == 1:
        return texts[0][1]
    return "; ".join(f"{kind}: {text}" for kind, text in texts)


def _table(header: List[str], rows: List[List[nodes.Node]], widths: List[int]) -> nodes.table:
    """A plain docutils table: built as nodes, it reads the same in .md and .rst pages."""
    table = nodes.table(classes=["ternavik-generated"])
    group = nodes.tgroup(cols=len(header))
    table += group
    for width in widths:
        group += nodes.colspec(colwidth=width)
    head = nodes.thead()
    group += head
    line = nodes.row()
    for text in header:
        line += nodes.entry("", nodes.paragraph(text=text))
    head += line
    body = nodes.tbody()
    group += body
    for cells in rows:
        line = nodes.row()
        for cell in cells:
            line += nodes.entry("", cell)
        body += line
    return table


def _function_link(name: str, target: str) -> nodes.Node:
    """A cross-reference to a function of the reference, shown as code."""
    from sphinx.addnodes import pending_xref

    ref = pending_xref("", refdomain="py", reftype="func", reftarget=target,
                       refexplicit=True, refwarn=True)
    ref += nodes.literal(text=name)
    return nodes.paragraph("", "", ref)


class MethodsTable(SphinxDirective):
    """One row per entry of ternavik.methods.REGISTRY."""

    def run(self) -> List[nodes.Node]:
        from ternavik.methods import REGISTRY

        rows = []
        for name, method in REGISTRY.items():
            target = getattr(method.function, "__name__", name)
            if target.startswith("_"):  # a registry adapter, such as VIKOR's Q
                target = name
            direction = "higher" if method.higher_is_better else "lower"
            rows.append([_function_link(name, f"ternavik.methods.{target}"),
                         nodes.paragraph(text=direction),
                         nodes.paragraph(text=_domain_text(method))])
        return [_table(["method", "better scores are", "data it accepts"], rows, [20, 15, 65])]


# Figures already taken; weak, so a figure freed by an example cannot hide a new
# one at its address, and kept outside the scraper, which Sphinx pickles.
_SEEN: "weakref.WeakSet[Any]" = weakref.WeakSet()


class FigureScraper:
    """Pictures for the gallery from the figures an example holds in its variables.

    ternavik's plotting functions return a ``matplotlib.figure.Figure`` drawn
    without pyplot, which the gallery's own scraper does not see; this one saves
    each such figure once, after the code block that made it.
    """

    def __call__(self, block: Any, block_vars: Dict[str, Any], gallery_conf: Dict[str, Any]) -> str:
        from matplotlib.figure import Figure
        from sphinx_gallery.scrapers import figure_rst

        paths = []
        for value in list(block_vars["example_globals"].values()):
            if not isinstance(value, Figure) or value in _SEEN:
                continue
            _SEEN.add(value)
            # A pyplot figure is the matplotlib scraper's, which runs after this
            # one and closes it; seen now, it is not taken again once closed.
            if getattr(value.canvas, "manager", None) is None:
                path = next(block_vars["image_path_iterator"])
                value.savefig(path, dpi=110)
                paths.append(path)
        return figure_rst(paths, gallery_conf["src_dir"])

    def __repr__(self) -> str:  # the gallery compares configurations by repr
        return "ternavik_docs.FigureScraper()"


class OutputArguments:
    """The command-line arguments an example runs with in the gallery: one path in the
    temporary folder, for the scripts that save their picture where argv[1] says."""

    def __call__(self, gallery_conf: Dict[str, Any], script_vars: Dict[str, Any]) -> List[str]:
        import tempfile

        name = os.path.splitext(os.path.basename(script_vars["src_file"]))[0]
        return [os.path.join(tempfile.gettempdir(), f"ternavik-gallery-{name}.png")]

    def __repr__(self) -> str:
        return "ternavik_docs.OutputArguments()"


_LITERAL = re.compile(r"(``.*?``)")


def _plain_bars(app: Any, what: str, name: str, obj: Any, options: Any,
                lines: List[str]) -> None:
    """Docstrings write absolute values as |x|, which reStructuredText would read
    as a substitution; escape such bars outside literals, examples and tables."""
    for k, line in enumerate(lines):
        stripped = line.lstrip()
        if "|" not in line or stripped.startswith((">>>", "...", "|", "+-", "+=")):
            continue
        lines[k] = "".join(part if part.startswith("``") else part.replace("|", "\\|")
                           for part in _LITERAL.split(line))


def setup(app: Any) -> Dict[str, Any]:
    app.connect("autodoc-process-docstring", _plain_bars, priority=400)
    app.add_directive("ternavik-cli-help", CliHelp)
    app.add_directive("ternavik-methods-table", MethodsTable)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
