"""``ternavik serve``: the analyst's page in a local browser.

    ternavik serve data.csv            # or no file: the supplier example
    http://127.0.0.1:8765/?token=...   # the one line it prints

The page reads CSV or XLSX files (or text pasted from a spreadsheet), lets
you set kinds, weights and methods, and shows what ``ternavik.compare``,
``ternavik.sensitivity`` and the other functions return, exactly. The web
parts (Starlette, uvicorn, python-multipart, openpyxl, matplotlib) come
with ``pip install "ternavik[web]"``; they are imported only when the server
starts, so this module costs nothing to import.
"""

import argparse
import socket
import sys
import threading
from typing import Any, Callable, Dict, List, Optional, Sequence

DEFAULT_PORT = 8765


def add_serve_command(sub: Any) -> Dict[str, Callable[[argparse.Namespace], None]]:
    """Add the ``serve`` subcommand to the command line's subparsers; returns
    its entry for the command line's table of commands."""
    text = "open the analyst's page in a browser (needs the web extra)"
    p = sub.add_parser("serve", help=text, description=text[0].upper() + text[1:] + ".")
    add_arguments(p)
    return {"serve": run_serve}


def add_arguments(p: argparse.ArgumentParser) -> None:
    p.add_argument("file", nargs="?", help="CSV or XLSX file to open (default: the "
                   "ten-supplier example shipped with ternavik)")
    p.add_argument("--host", default="127.0.0.1",
                   help="address to listen on (default 127.0.0.1, this machine only)")
    p.add_argument("--port", type=int, default=DEFAULT_PORT,
                   help=f"port (default {DEFAULT_PORT}; 0 picks a free one)")
    p.add_argument("--no-browser", action="store_true",
                   help="print the address but do not open a browser")
    p.add_argument("--max-upload", type=float, default=32.0, metavar="MIB",
                   help="largest file or request accepted, in MiB (default 32)")


def _missing_parts() -> List[str]:
    import importlib.util

    wanted = {"starlette": "starlette", "uvicorn": "uvicorn",
              "python-multipart": "multipart", "pandas": "pandas"}
    return [name for name, module in wanted.items() if importlib.util.find_spec(module) is None]


def _listen(host: str, port: int) -> socket.socket:
    """A listening socket, bound before the address is printed so the port is known."""
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    sock = socket.socket(family, socket.SOCK_STREAM)
    if sys.platform != "win32":
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        sock.bind((host.strip("[]"), port))
    except OSError as error:
        sock.close()
        raise OSError(f"cannot listen on {host}:{port}: {error.strerror or error}") from None
    sock.listen(128)
    return sock


def _loopback(host: str) -> bool:
    import ipaddress

    name = host.strip("[]").lower()
    if name == "localhost":
        return True
    try:
        return ipaddress.ip_address(name).is_loopback
    except ValueError:
        return False


def run_serve(args: argparse.Namespace) -> None:
    """Start the server for parsed command-line arguments and serve until interrupted."""
    from .._errors import InputError

    missing = _missing_parts()
    if missing:
        raise ImportError(f"ternavik serve needs {', '.join(missing)}; install them with "
                          f'pip install "ternavik[web]"')
    if not 0 <= args.port <= 65535:
        raise InputError(f"--port must lie in 0..65535, got {args.port}")
    if not 0 < args.max_upload <= 4096:
        raise InputError(f"--max-upload must lie in (0, 4096] MiB, got {args.max_upload}")
    import uvicorn

    from . import _library
    from .app import create_app, new_token

    initial = _library.read_path(args.file) if args.file else None
    try:
        sock = _listen(args.host, args.port)
    except OSError as error:
        raise InputError(str(error)) from None
    port = sock.getsockname()[1]
    token = new_token()
    shown = f"[{args.host.strip('[]')}]" if ":" in args.host else args.host
    url = f"http://{shown}:{port}/?token={token}"
    app = create_app(token, args.host, port, initial, int(args.max_upload * 1048576))
    _library.warm()
    config = uvicorn.Config(app, log_level="warning", access_log=False, lifespan="off",
                            server_header=False, ws="none", timeout_graceful_shutdown=1)
    server = uvicorn.Server(config)
    print(url, flush=True)
    if not _loopback(args.host):
        print(f"ternavik: note: listening on {args.host}: anyone who can reach this machine "
              f"and knows the token can use the page", file=sys.stderr, flush=True)
    if not args.no_browser:
        import webbrowser

        threading.Thread(target=webbrowser.open, args=(url,), daemon=True).start()
    try:
        server.run(sockets=[sock])
    finally:
        sock.close()


def main(argv: Optional[Sequence[str]] = None) -> int:
    """``python -m ternavik.web``: the same as ``ternavik serve``."""
    parser = argparse.ArgumentParser(prog="ternavik serve")
    add_arguments(parser)
    args = parser.parse_args(argv)
    from .._errors import InputError

    try:
        run_serve(args)
    except (InputError, ImportError, ValueError) as error:
        print(f"ternavik: error: {error}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        pass
    return 0
