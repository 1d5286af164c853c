"""The page's server: a Starlette application behind an access guard.

Every request passes the guard first, whatever its path: the ``Host`` must be
one of the server's own names (a page on another site that resolves its own
name to 127.0.0.1 gets nothing: no DNS rebinding), an ``Origin``, when sent,
must be the server's own (no cross-site requests), the request must carry
the access token (in the query, an ``Authorization: token ...`` header, or
the cookie the first visit sets), and a body may not exceed the size limit.
Only then does routing see it. No request names a file: the page's assets
are a fixed set, and the one data file read is the one named at start.
"""

import hmac
import json
import os
import secrets
from typing import Any, Awaitable, Callable, Dict, Iterable, List, Optional

from starlette.applications import Starlette
from starlette.concurrency import run_in_threadpool
from starlette.datastructures import Headers, QueryParams
from starlette.exceptions import HTTPException
from starlette.requests import Request
from starlette.responses import JSONResponse, PlainTextResponse, RedirectResponse, Response
from starlette.routing import Route
from starlette.types import Message, Receive, Scope, Send

from ternavik._errors import InputError

from . import _library, report


STATIC = os.path.join(os.path.dirname(__file__), "static")
ASSETS = {"app.js": "text/javascript; charset=utf-8", "style.css": "text/css; charset=utf-8",
          "chart.min.js": "text/javascript; charset=utf-8"}
MAX_BODY = 32 * 1024 * 1024
# The page's own scripts and styles only; nothing from elsewhere, no inline script.
_POLICY = ("default-src 'self'; img-src 'self' data: blob:; style-src 'self'; "
           "script-src 'self'; connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; "
           "form-action 'self'")


class Guard:
    """ASGI middleware that admits only the server's own, authenticated, bounded requests."""

    def __init__(self, app: Any, token: str, hosts: Iterable[str], max_body: int) -> None:
        self.app = app
        self.token = token
        self.hosts = {h.lower() for h in hosts}
        self.origins = {f"http://{h}" for h in self.hosts}
        self.max_body = max_body
        self.cookie = "ternavik_token_" + _cookie_tag(self.hosts)

    def _limit(self) -> str:
        return f"uploads are limited to {self.max_body / 1048576:g} MiB"

    def _authorised(self, headers: Headers, query: QueryParams) -> bool:
        offered = [query.get("token", "")]
        scheme, _, value = headers.get("authorization", "").partition(" ")
        if scheme.lower() == "token":
            offered.append(value.strip())
        for part in headers.get("cookie", "").split(";"):
            name, _, value = part.strip().partition("=")
            if name == self.cookie:
                offered.append(value)
        return any(o and hmac.compare_digest(o.encode(), self.token.encode()) for o in offered)

    async def __call__(self, scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] == "lifespan":
            await self.app(scope, receive, send)
            return
        if scope["type"] != "http":  # no websockets here
            if scope["type"] == "websocket":
                await send({"type": "websocket.close", "code": 1008})
            return
        headers = Headers(scope=scope)
        hosts = headers.getlist("host")
        if len(hosts) != 1 or hosts[0].lower() not in self.hosts:
            await _plain(send, 400, "this server answers only to its own address")
            return
        origin = headers.getlist("origin")
        if origin and (len(origin) > 1 or origin[0].lower() not in self.origins):
            await _plain(send, 403, "requests from other sites are refused")
            return
        if headers.get("sec-fetch-site", "same-origin") not in ("same-origin", "none"):
            await _plain(send, 403, "requests from other sites are refused")
            return
        query = QueryParams(scope.get("query_string", b"").decode("latin-1"))
        if not self._authorised(headers, query):
            await _plain(send, 401, "this page needs its access token: open the address "
                         "that `ternavik serve` printed")
            return
        if scope["method"] == "GET" and scope["path"] == "/" and "token" in query:
            # Trade the token in the address for a cookie and drop it from the address bar.
            response = RedirectResponse("/", status_code=303)
            response.set_cookie(self.cookie, self.token, httponly=True, samesite="strict",
                                path="/")
            for key, value in _SECURITY_HEADERS:
                response.headers[key.decode()] = value.decode()
            await response(scope, receive, send)
            return
        length = headers.get("content-length")
        if length is not None and not length.isdigit():
            await _plain(send, 400, "the request's length is not a number")
            return
        if length is not None and int(length) > self.max_body:
            await _plain(send, 413, self._limit())
            return
        await self._bounded(scope, receive, send)

    async def _bounded(self, scope: Scope, receive: Receive, send: Send) -> None:
        """Run the app, stopping a body without a length once it passes the limit."""
        seen = 0

        async def counted() -> Message:
            nonlocal seen
            message = await receive()
            if message["type"] == "http.request":
                seen += len(message.get("body", b""))
                if seen > self.max_body:
                    # Starlette answers this with its status from inside any endpoint.
                    raise HTTPException(413, self._limit())
            return message

        async def watched(message: Message) -> None:
            if message["type"] == "http.response.start":
                message.setdefault("headers", [])
                message["headers"] = list(message["headers"]) + _SECURITY_HEADERS
            await send(message)

        await self.app(scope, counted, watched)


_SECURITY_HEADERS = [(b"content-security-policy", _POLICY.encode()),
                     (b"x-content-type-options", b"nosniff"),
                     (b"referrer-policy", b"no-referrer"),
                     (b"cache-control", b"no-store")]


def _cookie_tag(hosts: Iterable[str]) -> str:
    """A cookie name per address: browsers share cookies between ports of one host."""
    import hashlib

    return hashlib.sha256(" ".join(sorted(hosts)).encode()).hexdigest()[:12]


async def _plain(send: Send, status: int, text: str) -> None:
    body = text.encode()
    await send({"type": "http.response.start", "status": status,
                "headers": [(b"content-type", b"text/plain; charset=utf-8"),
                            (b"content-length", str(len(body)).encode())] + _SECURITY_HEADERS})
    await send({"type": "http.response.body", "body": body})


def _error(error: Exception, status: int = 400) -> JSONResponse:
    return JSONResponse({"error": str(error)}, status_code=status)


async def _json(request: Request) -> Dict[str, Any]:
    try:
        body = json.loads(await request.body())
    except (ValueError, UnicodeDecodeError):
        raise InputError("the request is not valid JSON") from None
    if not isinstance(body, dict):
        raise InputError("the request must be a JSON object")
    return body


Endpoint = Callable[[Request], Awaitable[Response]]


def _guarded(work: Endpoint) -> Endpoint:
    """Turn a mistake in the input into a message for the page, not a failed server."""
    async def endpoint(request: Request) -> Response:
        try:
            return await work(request)
        except _library.UnknownTable as error:
            return _error(error, 409)
        except (InputError, ValueError, TypeError, KeyError, IndexError, AttributeError,
                OverflowError) as error:
            return _error(error)
        except MemoryError:
            return _error(MemoryError("not enough memory for this problem"), 507)
        except ImportError as error:
            return _error(error, 501)
    return endpoint


def build(initial: Optional[Dict[str, Any]] = None) -> Starlette:
    """The routes, without the guard (see :func:`create_app`)."""
    page = open(os.path.join(STATIC, "index.html"), "rb").read()
    assets = {name: open(os.path.join(STATIC, name), "rb").read() for name in ASSETS}
    start = initial if initial is not None else _library.example()

    async def index(request: Request) -> Response:
        return Response(page, media_type="text/html; charset=utf-8")

    async def asset(request: Request) -> Response:
        name = request.path_params["name"]
        if name not in assets:
            return PlainTextResponse("not found", status_code=404)
        return Response(assets[name], media_type=ASSETS[name])

    async def catalogue(request: Request) -> Response:
        return JSONResponse({**_library.catalogue(), "initial": start})

    async def example(request: Request) -> Response:
        return JSONResponse(_library.example())

    async def parse(request: Request) -> Response:
        form = await request.form(max_files=1, max_fields=8)
        try:
            upload = form.get("file")
            delimiter = str(form.get("delimiter") or "") or None
            decimal = str(form.get("decimal") or ".")
            if upload is not None and not isinstance(upload, str):
                raw = await upload.read()
                name = os.path.basename(upload.filename or "")
            else:
                raw = str(form.get("text") or "").encode()
                name = "pasted"
        finally:
            await form.close()
        table = await run_in_threadpool(_library.read_upload, name, raw, delimiter, decimal)
        table["name"] = name
        return JSONResponse(table)

    async def analyse(request: Request) -> Response:
        return JSONResponse(await run_in_threadpool(_library.analyse, await _json(request)))

    async def smaa(request: Request) -> Response:
        return JSONResponse(await run_in_threadpool(_library.smaa_only, await _json(request)))

    async def ahp(request: Request) -> Response:
        body = await _json(request)
        return JSONResponse(await run_in_threadpool(_library.ahp, body.get("pairwise", [])))

    async def export(request: Request) -> Response:
        kind = request.path_params["kind"]
        body = await _json(request)
        if kind == "csv":
            result = await run_in_threadpool(_library.analyse, body)
            return _download(_library.results_csv(result).encode(), "text/csv; charset=utf-8",
                             "ternavik-results.csv")
        if kind == "report":
            html = await run_in_threadpool(report.html_report, body)
            return _download(html.encode(), "text/html; charset=utf-8", "ternavik-report.html")
        if kind in ("ranks.svg", "sensitivity.svg", "smaa.svg"):
            svg = await run_in_threadpool(report.chart_svg, kind.split(".")[0], body)
            return _download(svg.encode(), "image/svg+xml", f"ternavik-{kind}")
        return PlainTextResponse("not found", status_code=404)

    routes = [
        Route("/", index),
        Route("/static/{name}", asset),
        Route("/api/catalogue", _guarded(catalogue)),
        Route("/api/example", _guarded(example)),
        Route("/api/parse", _guarded(parse), methods=["POST"]),
        Route("/api/analyse", _guarded(analyse), methods=["POST"]),
        Route("/api/ahp", _guarded(ahp), methods=["POST"]),
        Route("/api/smaa", _guarded(smaa), methods=["POST"]),
        Route("/api/export/{kind}", _guarded(export), methods=["POST"]),
    ]
    return Starlette(routes=routes)


def _download(body: bytes, media_type: str, filename: str) -> Response:
    return Response(body, media_type=media_type,
                    headers={"content-disposition": f'attachment; filename="{filename}"'})


def allowed_hosts(host: str, port: int) -> List[str]:
    """The Host values a browser sends to this server: its own names, with the port."""
    names = {host.strip("[]").lower()}
    if host in ("127.0.0.1", "localhost", "::1", "0.0.0.0", "::") or host.startswith("127."):
        names |= {"127.0.0.1", "localhost", "::1"}
    if host in ("0.0.0.0", "::"):
        import socket

        names |= {socket.gethostname().lower(), socket.getfqdn().lower()}
    names -= {"0.0.0.0", "::"}
    return [f"[{n}]:{port}" if ":" in n else f"{n}:{port}" for n in sorted(names)]


def create_app(token: str, host: str, port: int, initial: Optional[Dict[str, Any]] = None,
               max_body: int = MAX_BODY) -> Any:
    """The guarded application for a server at host:port."""
    return Guard(build(initial), token, allowed_hosts(host, port), max_body)


def new_token() -> str:
    return secrets.token_hex(24)


__all__ = ["Guard", "allowed_hosts", "create_app", "new_token"]
