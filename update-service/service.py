#!/usr/bin/python3
"""The reference update service: stands in for Quillmark's update service on
this machine, for tests and for the demonstration run.

It listens on 127.0.0.1 only, on ports the system picks:
  - three mirrors (HTTP), each answering the scan request at "/" and serving
    the package files under /packages/ (with Range) and web pages under /pages/;
  - optionally one HTTPS server doing the same (--tls-cert, --tls-key), reached
    as "localhost" so that the certificate's name matches;
  - optionally an FTP server with the package files (--ftp, pyftpdlib);
  - a control server: faults on demand, the request log, shutdown.
The ports are written as JSON to --port-file once everything listens.

With --answer-file FILE every scan request to a mirror is read whole and
answered with FILE's bytes as they stand (read at each request), whatever
devices the request names; the request is not inflated or read. Faults work
as without it ("no_id" adds its hardware to the file's answer).

It stops by itself: on POST /_control/shutdown, when the connection of a
GET /_control/hold (the lifeline a test keeps open) closes, when --parent-pid
ends, after --idle-timeout seconds without requests and after --time-limit.

Faults (POST /_control/faults, a JSON object from server tag "1", "2", "3",
"https" to its settings; POST /_control/reset clears all):
  down: true          the server does not listen
  status: N           every request is answered with HTTP status N
  delay: S            wait S seconds before answering
  slow_body: S        pause S seconds after every 1024 bytes of a body
  answer: "oversize" | "malformed" | "no_id" | "empty"
                      the scan answer is larger than 5 MB, not XML, has a
                      hardware without id, or has no hardware at all
  ignore_range: true  package requests get 200 with the whole file
  range_shift: N      a package request with a Range gets 206 with the part
                      that starts N bytes later (its Content-Range says so)
  cut_after: N        the connection is cut after N bytes of a package body
  reset_after: N      the connection is reset (a TCP RST, not a close) after
                      N bytes of a body
  chunk: N            with slow_body: the pause comes after every N bytes
                      (a trickle of small pieces) instead of every 1024
  length_delta: N     the Content-Length header says N bytes more (or, when
                      negative, fewer) than the body that is sent
  status_line: TEXT   the answer begins with TEXT instead of its status line
                      (headers and body follow as usual)
  redirect: TAG       package requests are redirected (302) to the same path
                      on server TAG ("1", "2", "3", "https"), scan requests
                      too (307: the form is posted again); a server that
                      redirects to itself does so once, to the path with
                      "?redirected" added
                      or, with TAG "ftp", package requests to the file of
                      that name on the FTP server
  redirect_loop: true every request (scan or file) is redirected to itself
The FTP server takes faults under the tag "ftp":
  rate: N             data is sent at no more than N bytes a second
GET /_control/request returns the latest scan request document as the client
wrote it (inflated), 404 before the first one.
"""

import argparse
import json
import logging
import os
import re
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scan  # noqa: E402

CHUNK = 1024
MAX_REQUEST_BODY = 64 * 1024 * 1024
MAX_DELAY = 60.0
OVERSIZE_ANSWER = 5 * 1024 * 1024 + 64 * 1024  # more than the client's 5 MB buffer


class State:
    """What every server of one service shares."""

    def __init__(self, catalogue, packages, pages, log_path, answer_file=None):
        self.catalogue = catalogue
        self.answer_file = answer_file  # a prepared answer for every scan request
        self.packages = packages  # folders, searched in order
        self.pages = pages
        self.log_path = log_path
        self.lock = threading.Lock()
        self.faults = {}
        self.log = []
        self.stop = threading.Event()
        self.last_activity = time.monotonic()
        self.busy = 0
        self.servers = {}  # tag -> MirrorServer
        self.ftp_port = None
        self.last_request = None  # the latest scan request document, inflated

    def fault(self, tag):
        with self.lock:
            return dict(self.faults.get(tag, {}))

    def touch(self, delta=0):
        with self.lock:
            self.busy += delta
            self.last_activity = time.monotonic()

    def record(self, entry):
        with self.lock:
            self.log.append(entry)
            if self.log_path:
                with open(self.log_path, "a", encoding="utf-8") as f:
                    f.write(json.dumps(entry) + "\n")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QuillmarkReferenceService/1.0"

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass  # requests go to the service's own log

    @property
    def state(self):
        return self.server.state

    @property
    def tag(self):
        return self.server.tag

    def handle_one_request(self):
        self.state.touch(+1)
        try:
            super().handle_one_request()
        finally:
            self.state.touch(-1)

    # --- helpers -----------------------------------------------------------
    def send_body(self, status, body, content_type="text/plain", extra=(), fault=None):
        fault = fault or {}
        length = max(0, len(body) + int(fault.get("length_delta", 0)))
        if "status_line" in fault:
            # Whatever the fault says stands where the status line belongs.
            line = str(fault["status_line"]).replace("\r", " ").replace("\n", " ")
            self.wfile.write(line.encode("latin-1", errors="replace") + b"\r\n")
            self._headers_buffer = []
        else:
            self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(length))
        self.send_header("Connection", "close")
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.close_connection = True
        if self.command == "HEAD":
            return
        cut = fault.get("cut_after")
        reset = fault.get("reset_after")
        if reset is not None:
            cut = int(reset) if cut is None else min(int(cut), int(reset))
        pause = min(float(fault.get("slow_body", 0)), MAX_DELAY)
        piece = max(1, int(fault.get("chunk", CHUNK)))
        sent = 0
        try:
            while sent < len(body):
                n = piece if pause else len(body) - sent
                if cut is not None:
                    n = min(n, int(cut) - sent)
                    if n <= 0:
                        break
                self.wfile.write(body[sent:sent + n])
                self.wfile.flush()
                sent += n
                if pause and sent < len(body):
                    if self.state.stop.wait(pause):
                        break
            if reset is not None and sent >= int(reset):
                self.reset_connection()
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
            pass

    def reset_connection(self):
        """Ends the connection with a TCP RST: with a zero linger time, closing
        the socket drops it at once instead of sending FIN."""
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        # The reader made from the socket holds its descriptor open too.
        self.rfile.close()
        self.connection.close()
        self.close_connection = True

    def record(self):
        if self.path.startswith("/_control/"):
            return
        self.state.record({
            "mirror": self.tag, "method": self.command, "path": self.path,
            "headers": {k: v for k, v in self.headers.items()},
            "range": self.headers.get("Range"),
        })

    def apply_delay(self, fault):
        delay = min(float(fault.get("delay", 0)), MAX_DELAY)
        if delay:
            self.state.stop.wait(delay)

    def base_url(self):
        scheme = "https" if self.server.tls else "http"
        host = self.headers.get("Host") or f"127.0.0.1:{self.server.server_address[1]}"
        return f"{scheme}://{host}"

    def redirect_to_self(self, fault):
        return self.send_body(302, b"", extra=[("Location", self.base_url() + self.path)],
                              fault=self.framing(fault))

    def redirect_elsewhere(self, fault, status):
        """The redirect fault: the same path on the server it names; to this
        server itself, once (a request marked "redirected" is served)."""
        if fault["redirect"] == "ftp" and self.state.ftp_port:
            name = urllib.parse.urlsplit(self.path).path.rsplit("/", 1)[-1]
            return self.send_body(status, b"", extra=[
                ("Location", f"ftp://127.0.0.1:{self.state.ftp_port}/{name}")])
        target = self.state.servers.get(str(fault["redirect"]))
        if target is None:
            return self.send_body(500, b"no such redirect target\n")
        path = self.path
        if target.tag == self.tag:
            path += ("&" if "?" in path else "?") + "redirected"
        return self.send_body(status, b"", extra=[("Location", target.url() + path)])

    def redirect_due(self, fault):
        query = urllib.parse.urlsplit(self.path).query
        return "redirect" in fault and "redirected" not in query.split("&")

    @staticmethod
    def framing(fault):
        """The faults that bend how an answer is framed, without those that
        cut or slow its body (a short page of no interest)."""
        return {k: v for k, v in fault.items() if k in ("status_line", "length_delta")}

    # --- requests ----------------------------------------------------------
    def do_GET(self):
        self.record()
        if self.path.startswith("/_control/"):
            return self.control_get()
        fault = self.state.fault(self.tag)
        self.apply_delay(fault)
        if "status" in fault:
            return self.send_body(int(fault["status"]), b"fault on demand\n", fault=self.framing(fault))
        if fault.get("redirect_loop"):
            return self.redirect_to_self(fault)
        path = urllib.parse.urlsplit(self.path).path
        m = re.fullmatch(r"/(packages|pages)/([^/]+)", path)
        if not m:
            return self.send_body(404, b"not found\n")
        if m.group(1) == "packages" and self.redirect_due(fault):
            return self.redirect_elsewhere(fault, 302)
        folders = self.state.packages if m.group(1) == "packages" else [self.state.pages]
        name = urllib.parse.unquote(m.group(2))
        data = read_file(folders, name)
        if data is None:
            return self.send_body(404, b"not found\n")
        ctype = "text/html" if name.endswith(".html") else "application/octet-stream"
        wanted = self.headers.get("Range")
        if not wanted or fault.get("ignore_range"):
            return self.send_body(200, data, ctype, [("Accept-Ranges", "bytes")], fault)
        r = re.fullmatch(r"bytes=(\d+)-(\d*)", wanted.strip())
        if not r:
            return self.send_body(200, data, ctype, [("Accept-Ranges", "bytes")], fault)
        first = int(r.group(1)) + int(fault.get("range_shift", 0))
        last = min(int(r.group(2)), len(data) - 1) if r.group(2) else len(data) - 1
        if first >= len(data) or last < first:
            return self.send_body(416, b"", extra=[("Content-Range", f"bytes */{len(data)}")])
        return self.send_body(206, data[first:last + 1], ctype,
                              [("Content-Range", f"bytes {first}-{last}/{len(data)}")], fault)

    do_HEAD = do_GET

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length < 0 or length > MAX_REQUEST_BODY:
            raise scan.RequestError("the request body is too large")
        return self.rfile.read(length)

    def do_POST(self):
        self.record()
        try:
            body = self.read_body()
        except (ValueError, scan.RequestError) as e:
            return self.send_body(400, f"{e}\n".encode())
        if self.path.startswith("/_control/"):
            return self.control_post(body)
        fault = self.state.fault(self.tag)
        self.apply_delay(fault)
        if "status" in fault:
            return self.send_body(int(fault["status"]), b"fault on demand\n", fault=fault)
        if fault.get("redirect_loop"):
            return self.redirect_to_self(fault)
        if urllib.parse.urlsplit(self.path).path != "/":
            return self.send_body(404, b"not found\n")
        if self.redirect_due(fault):
            return self.redirect_elsewhere(fault, 307)
        prepared = self.state.answer_file
        if not prepared:
            try:
                raw = scan.inflate_request(scan.tarnwick_part(self.headers.get("Content-Type"), body))
                with self.state.lock:
                    self.state.last_request = raw
                request = scan.parse_document(raw)
            except scan.RequestError as e:
                return self.send_body(400, f"{e}\n".encode())
        kind = fault.get("answer")
        if kind == "malformed":
            return self.send_body(200, b"Service temporarily unavailable", fault=fault)
        if kind == "empty":
            text = ('<?xml version="1.0"?>\n<tarnwick><hardwares></hardwares></tarnwick>\n')
            return self.send_body(200, text.encode(), "text/xml", fault=fault)
        if prepared:
            try:
                with open(prepared, "rb") as f:
                    data = f.read()
            except OSError as e:
                return self.send_body(500, f"the prepared answer cannot be read: {e}\n".encode())
            if kind == "no_id":
                head, sep, tail = data.rpartition(b"</hardwares>")
                if sep:
                    data = head + scan.NO_ID_HARDWARE.encode() + sep + tail
        else:
            text = scan.answer_document(
                request, self.state.catalogue, self.link_for, self.size_for,
                self.official_link_for, without_id=(kind == "no_id"))
            data = text.encode(scan.ANSWER_ENCODING, errors="replace")
        if kind == "oversize":
            pad = OVERSIZE_ANSWER - len(data)
            data = data.replace(b"<tarnwick>", b"<tarnwick><!--" + b"x" * pad + b"-->", 1)
        self.send_body(200, data, "text/xml", fault=fault)

    # --- answer values -------------------------------------------------------
    def link_for(self, pkg):
        quoted = urllib.parse.quote(pkg.file)
        if pkg.protocol == "ftp" and self.state.ftp_port:
            host = urllib.parse.urlsplit(self.base_url()).hostname
            return f"ftp://{host}:{self.state.ftp_port}/{quoted}"
        return f"{self.base_url()}/packages/{quoted}"

    def size_for(self, pkg):
        data = read_file(self.state.packages, pkg.file)
        return len(data) if data is not None else 0

    def official_link_for(self, pkg):
        link = pkg.official_link
        if not link or re.match(r"[a-z]+://", link, re.I):
            return link
        return f"{self.base_url()}/{link.lstrip('/')}"

    # --- control -------------------------------------------------------------
    def control_get(self):
        path = urllib.parse.urlsplit(self.path).path
        if path == "/_control/log":
            with self.state.lock:
                entries = list(self.state.log)
            if "lines" in self.path:
                text = "".join(f"{e['mirror']} {e['method']} {e['path']} range={e['range'] or '-'}\n"
                               for e in entries)
                return self.send_body(200, text.encode())
            return self.send_body(200, json.dumps(entries).encode(), "application/json")
        if path == "/_control/request":
            with self.state.lock:
                raw = self.state.last_request
            if raw is None:
                return self.send_body(404, b"no scan request yet\n")
            return self.send_body(200, raw, "application/octet-stream")
        if path == "/_control/hold":
            # The caller keeps this connection open while it needs the service;
            # holding it does not count as activity.
            self.state.touch(-1)
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.end_headers()
            self.wfile.flush()
            self.close_connection = True
            try:
                while self.rfile.read(1):
                    pass
            except OSError:
                pass
            self.state.touch(+1)
            self.state.stop.set()
            return None
        return self.send_body(404, b"no such control\n")

    def control_post(self, body):
        path = urllib.parse.urlsplit(self.path).path
        if path == "/_control/shutdown":
            self.send_body(200, b"stopping\n")
            self.state.stop.set()
            return None
        if path == "/_control/reset":
            with self.state.lock:
                self.state.faults = {}
                self.state.log = []
                self.state.last_request = None
            for server in list(self.state.servers.values()):
                server.set_down(False)
            return self.send_body(200, b"reset\n")
        if path == "/_control/faults":
            try:
                faults = json.loads(body or b"{}")
                if not isinstance(faults, dict) or not all(isinstance(v, dict) for v in faults.values()):
                    raise ValueError("expected an object of objects")
                unknown = set(faults) - set(self.state.servers) - ({"ftp"} if self.state.ftp_port else set())
                if unknown:
                    raise ValueError(f"no server {sorted(unknown)}")
            except ValueError as e:
                return self.send_body(400, f"{e}\n".encode())
            with self.state.lock:
                self.state.faults.update(faults)
            for tag, fault in faults.items():
                if tag in self.state.servers:
                    self.state.servers[tag].set_down(bool(fault.get("down")))
            return self.send_body(200, b"faults set\n")
        return self.send_body(404, b"no such control\n")


def read_file(folders, name):
    """The content of a plain file name in the first folder that has it."""
    if not name or name in (".", "..") or "/" in name or "\\" in name or "\0" in name:
        return None
    for folder in folders:
        if not folder:
            continue
        try:
            with open(os.path.join(folder, name), "rb") as f:
                return f.read()
        except OSError:
            continue
    return None


class HTTPServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, port, state, tag, tls_context=None):
        super().__init__(("127.0.0.1", port), Handler)
        self.state = state
        self.tag = tag
        self.tls = tls_context is not None
        self.tls_context = tls_context

    def get_request(self):
        sock, addr = self.socket.accept()
        if self.tls_context:
            # The handshake happens in the request's own thread, on first use.
            sock = self.tls_context.wrap_socket(sock, server_side=True,
                                                do_handshake_on_connect=False)
        return sock, addr


class MirrorServer:
    """One listening server that can be taken down and brought up again on
    the same port."""

    def __init__(self, state, tag, tls_context=None, host="127.0.0.1"):
        self.state, self.tag, self.tls_context, self.host = state, tag, tls_context, host
        self.lock = threading.Lock()
        self.httpd = None
        self.thread = None
        self.port = 0
        self.set_down(False)

    def url(self):
        return f"{'https' if self.tls_context else 'http'}://{self.host}:{self.port}"

    def set_down(self, down):
        with self.lock:
            if down and self.httpd:
                self.httpd.shutdown()
                self.httpd.server_close()
                self.thread.join(5)
                self.httpd = self.thread = None
            elif not down and not self.httpd:
                self.httpd = HTTPServer(self.port, self.state, self.tag, self.tls_context)
                self.port = self.httpd.server_address[1]
                self.thread = threading.Thread(target=self.httpd.serve_forever,
                                               kwargs={"poll_interval": 0.2}, daemon=True)
                self.thread.start()

    def close(self):
        self.set_down(True)


class FtpServer:
    """Anonymous read-only FTP of the package folder (pyftpdlib)."""

    def __init__(self, state):
        from pyftpdlib.authorizers import DummyAuthorizer
        from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
        from pyftpdlib.servers import FTPServer
        logging.getLogger("pyftpdlib").setLevel(logging.ERROR)
        authorizer = DummyAuthorizer()
        authorizer.add_anonymous(state.packages[0], perm="elr")

        class Throttled(ThrottledDTPHandler):
            def __init__(self, sock, cmd_channel):
                # Read before the base class sizes its buffers by it.
                self.write_limit = int(state.fault("ftp").get("rate", 0))
                super().__init__(sock, cmd_channel)

        class Logged(FTPHandler):
            def ftp_RETR(self, file):
                state.touch()
                rest = self._restart_position
                state.record({"mirror": "ftp", "method": "RETR", "path": self.fs.fs2ftp(file),
                              "headers": {}, "range": f"REST {rest}" if rest else None})
                return super().ftp_RETR(file)

        Logged.authorizer = authorizer
        Logged.dtp_handler = Throttled
        Logged.passive_ports = None
        self.server = FTPServer(("127.0.0.1", 0), Logged)
        self.port = self.server.address[1]
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.run, args=(state,), daemon=True)
        self.thread.start()

    def run(self, state):
        try:
            while not state.stop.is_set():
                self.server.serve_forever(timeout=0.2, blocking=False, handle_exit=False)
        finally:
            self.server.close_all()
            self.done.set()

    def close(self):
        self.done.wait(5)


def parent_alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False
    except PermissionError:
        return True


def detach_from_caller():
    """Leaves the caller's terminal and pipes: a process that started us and
    waits for its own output to close (ctest, Wine) must not wait for us."""
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    if null > 2:
        os.close(null)
    os.closerange(3, 1024)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--catalogue", required=True)
    ap.add_argument("--packages", required=True, action="append",
                    help="folder of package files (repeatable; FTP serves the first)")
    ap.add_argument("--pages", help="folder of the web pages (/pages/)")
    ap.add_argument("--port-file", required=True, help="where the ports are written (JSON)")
    ap.add_argument("--log", help="request log, one JSON object a line")
    ap.add_argument("--tls-cert")
    ap.add_argument("--tls-key")
    ap.add_argument("--ftp", action="store_true")
    ap.add_argument("--idle-timeout", type=float, default=60.0)
    ap.add_argument("--time-limit", type=float, default=900.0)
    ap.add_argument("--parent-pid", type=int)
    ap.add_argument("--answer-file", help="answer every scan request with this file's bytes")
    ap.add_argument("--detach", action="store_true",
                    help="close standard input and output and every inherited descriptor")
    args = ap.parse_args(argv)
    if args.detach:
        detach_from_caller()

    catalogue = scan.load_catalogue(args.catalogue)
    state = State(catalogue, args.packages, args.pages, args.log, args.answer_file)
    tls = None
    if args.tls_cert:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(args.tls_cert, args.tls_key)
    servers = {"control": MirrorServer(state, "control")}
    for tag in ("1", "2", "3"):
        servers[tag] = MirrorServer(state, tag)
    if tls:
        servers["https"] = MirrorServer(state, "https", tls, host="localhost")
    state.servers = {k: v for k, v in servers.items() if k != "control"}
    ftp = FtpServer(state) if args.ftp else None
    if ftp:
        state.ftp_port = ftp.port

    ports = {"control": servers["control"].port,
             "mirrors": [servers[t].port for t in ("1", "2", "3")],
             "https": servers["https"].port if tls else None,
             "ftp": ftp.port if ftp else None,
             "pid": os.getpid()}
    tmp = args.port_file + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        json.dump(ports, f)
    os.replace(tmp, args.port_file)

    started = time.monotonic()
    while not state.stop.wait(0.2):
        now = time.monotonic()
        with state.lock:
            idle = state.busy == 0 and now - state.last_activity > args.idle_timeout
        if idle or now - started > args.time_limit:
            break
        if args.parent_pid and not parent_alive(args.parent_pid):
            break
    state.stop.set()
    for server in servers.values():
        server.close()
    if ftp:
        ftp.close()
    try:
        os.remove(args.port_file)
    except OSError:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
