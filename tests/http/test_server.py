#!/usr/bin/env python3
"""A scriptable HTTP/1.1 server on a free loopback port, for the HTTP tests.

Usage:
  test_server.py [--port-env NAME] -- COMMAND [ARG...]
      Starts the server, runs COMMAND with NAME (default
      TAVIRO_TEST_SERVER_PORT) set to the server's port, stops the server and
      exits with COMMAND's status. A Windows test program is run the same way
      through its emulator; Wine hands the variable on.
  test_server.py --serve
      Prints the port on one line and serves until standard input closes.

Control requests (never recorded):
  POST /__reset
      Forgets every route and every recorded request.
  POST /__route?path=P[&append=1][&delay_ms=N][&close_after=N][&fill=N]
      The request body is a raw response (status line, header lines, empty
      line, body: chunked or not, exactly as it goes on the wire), served to
      requests for path P (path and query as sent; an absolute address, as a
      proxy receives it, counts by its path). append=1 adds it to the path's
      sequence: the responses of a path are served in turn and the last one
      repeats. delay_ms waits before answering; fill=N appends N generated
      body bytes (byte i is i % 251); close_after=N sends only the first N
      bytes of the whole answer and closes the connection.
  GET /__requests
      Every recorded request since the last reset, oldest first, each as its
      length in decimal, a line feed, and its raw bytes.
  GET /__closed_port
      A loopback port with nothing listening on it.

Every other request is recorded raw and answered from its path's route, or
with 404. Each connection carries one exchange and is closed after it.
"""

import os
import socket
import subprocess
import sys
import threading
import time
import urllib.parse

FILL_PERIOD = 251
IDLE_SECONDS = 60


def fill_bytes(start, count):
    pattern = bytes(range(FILL_PERIOD))
    offset = start % FILL_PERIOD
    repeats = (offset + count) // FILL_PERIOD + 1
    return (pattern * repeats)[offset:offset + count]


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.routes = {}
        self.hits = {}
        self.requests = []

    def reset(self):
        with self.lock:
            self.routes.clear()
            self.hits.clear()
            self.requests.clear()

    def add_route(self, path, response, append):
        with self.lock:
            if append and path in self.routes:
                self.routes[path].append(response)
            else:
                self.routes[path] = [response]
                self.hits[path] = 0

    def answer_for(self, path):
        with self.lock:
            sequence = self.routes.get(path)
            if not sequence:
                return None
            index = min(self.hits[path], len(sequence) - 1)
            self.hits[path] += 1
            return sequence[index]

    def record(self, raw):
        with self.lock:
            self.requests.append(raw)

    def recorded(self):
        with self.lock:
            return b"".join(b"%d\n" % len(r) + r for r in self.requests)


def read_request(conn):
    """The raw bytes of one request, or None when the client sent none."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return None
        data += chunk
        if len(data) > 1 << 20:
            return None
    head, _, rest = data.partition(b"\r\n\r\n")
    length = 0
    chunked = False
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        name = name.strip().lower()
        if name == b"content-length":
            try:
                length = int(value.strip())
            except ValueError:
                length = 0
        elif name == b"transfer-encoding" and b"chunked" in value.lower():
            chunked = True
    if chunked:
        while not rest.endswith(b"0\r\n\r\n"):
            chunk = conn.recv(65536)
            if not chunk:
                break
            rest += chunk
    else:
        while len(rest) < length:
            chunk = conn.recv(65536)
            if not chunk:
                break
            rest += chunk
    return head + b"\r\n\r\n" + rest


def target_path(target):
    for scheme in ("http://", "https://"):
        if target.lower().startswith(scheme):
            slash = target.find("/", len(scheme))
            return "/" if slash < 0 else target[slash:]
    return target


def plain_response(status, body):
    return b"HTTP/1.1 %s\r\nContent-Length: %d\r\n\r\n%s" % (status, len(body), body)


def closed_port():
    probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    return port


def send_answer(conn, response):
    delay_ms = response.get("delay_ms", 0)
    if delay_ms:
        time.sleep(delay_ms / 1000.0)
    raw = response["raw"]
    fill = response.get("fill", 0)
    limit = response.get("close_after")
    total = len(raw) + fill if limit is None else min(limit, len(raw) + fill)
    conn.sendall(raw[:total])
    sent = min(len(raw), total)
    step = 1 << 16
    while sent < total:
        count = min(step, total - sent)
        conn.sendall(fill_bytes(sent - len(raw), count))
        sent += count


def control(state, method, target, body):
    url = urllib.parse.urlsplit(target)
    query = urllib.parse.parse_qs(url.query, keep_blank_values=True)

    def number(name, default):
        return int(query[name][0]) if name in query else default

    if url.path == "/__reset":
        state.reset()
        return plain_response(b"200 OK", b"reset")
    if url.path == "/__route" and "path" in query:
        response = {
            "raw": body,
            "delay_ms": number("delay_ms", 0),
            "fill": number("fill", 0),
            "close_after": number("close_after", None),
        }
        state.add_route(query["path"][0], response, number("append", 0) == 1)
        return plain_response(b"200 OK", b"route")
    if url.path == "/__requests":
        return plain_response(b"200 OK", state.recorded())
    if url.path == "/__closed_port":
        return plain_response(b"200 OK", b"%d" % closed_port())
    return plain_response(b"400 Bad Request", b"unknown control request")


def serve_connection(state, conn):
    try:
        conn.settimeout(IDLE_SECONDS)
        raw = read_request(conn)
        if raw is None:
            return
        request_line = raw.split(b"\r\n", 1)[0].decode("latin-1")
        parts = request_line.split(" ")
        method = parts[0]
        target = parts[1] if len(parts) > 1 else "/"
        if target.startswith("/__"):
            body = raw.partition(b"\r\n\r\n")[2]
            conn.sendall(control(state, method, target, body))
            return
        state.record(raw)
        response = state.answer_for(target_path(target))
        if response is None:
            conn.sendall(plain_response(b"404 Not Found", b"no route"))
        else:
            send_answer(conn, response)
    except OSError:
        pass
    finally:
        try:
            conn.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        conn.close()


class Server:
    def __init__(self):
        self.state = State()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(128)
        self.port = self.listener.getsockname()[1]
        self.running = True
        self.thread = threading.Thread(target=self._accept_loop, daemon=True)
        self.thread.start()

    def _accept_loop(self):
        while self.running:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                break
            threading.Thread(target=serve_connection, args=(self.state, conn),
                             daemon=True).start()

    def stop(self):
        self.running = False
        try:
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.listener.close()
        self.thread.join(timeout=5)


def main(argv):
    port_env = "TAVIRO_TEST_SERVER_PORT"
    args = list(argv)
    if args[:1] == ["--serve"]:
        server = Server()
        print(server.port, flush=True)
        try:
            sys.stdin.read()
        finally:
            server.stop()
        return 0
    if args[:1] == ["--port-env"] and len(args) >= 2:
        port_env = args[1]
        args = args[2:]
    if args[:1] != ["--"] or len(args) < 2:
        sys.stderr.write(__doc__)
        return 2
    server = Server()
    env = dict(os.environ)
    env[port_env] = str(server.port)
    try:
        completed = subprocess.run(args[1:], env=env)
        return completed.returncode
    finally:
        server.stop()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
