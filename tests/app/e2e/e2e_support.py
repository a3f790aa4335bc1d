"""What the end-to-end window tests share: the fake engines' markup and
request log, Wine, starting and stopping processes, the driver's report and
the checks."""

import argparse
import http.server
import os
import shutil
import signal
import subprocess
import sys
import threading
import urllib.parse

WINE64 = "/usr/lib/wine/wine64"


# --- The fake engines -------------------------------------------------------

def soso_hit(prefix, tail, title):
    return f'<li><a href="{prefix}{tail}" class="r" target="_blank">{title}</a></li>\n'


def sogou_hit(prefix, tail, title):
    return (f'<a sogou_preview_title="{title}" sogou_preview_link="{prefix}{tail}">x</a>\n')


def yahoo_hit(prefix, tail, title):
    return f'<h3><a href="{prefix}{tail}">{title}</a></h3>\n'


def html(body):
    return f"<html><head><title>r</title></head><body>\n{body}</body></html>\n"


def gbk_percent(text):
    return "".join(f"%{b:02X}" for b in text.encode("gbk"))


# Request path -> engine and the query key of its page number.
ENGINE_PATHS = {"/q": ("soso", "pg"), "/web": ("sogou", "page"), "/s": ("yahoo", "page")}


def engine_page(path):
    """(engine, page number) of a request path; engine None for another path."""
    split = urllib.parse.urlsplit(path)
    if split.path not in ENGINE_PATHS:
        return None, 0
    engine, key = ENGINE_PATHS[split.path]
    return engine, int(urllib.parse.parse_qs(split.query).get(key, ["0"])[0] or 0)


def keyword_of(path, keywords):
    """The keyword of ours a page request asks for, or None."""
    for keyword in keywords:
        if gbk_percent(keyword) + "&" in path:
            return keyword
    return None


class RequestLog:
    def __init__(self):
        self.lock = threading.Lock()
        self.entries = []  # (path, [(header, value)])

    def add(self, path, headers):
        with self.lock:
            self.entries.append((path, headers))

    def write(self, path):
        with open(path, "w", encoding="utf-8") as f:
            for request, headers in self.entries:
                f.write(request + "\n" + "".join(f"  {k}: {v}\n" for k, v in headers))


class FakeEngines(http.server.ThreadingHTTPServer):
    """One loopback port; its handler class answers. `state` is whatever the
    handler needs, shared by every port of a test."""

    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, handler, log, state):
        self.log = log
        self.state = state
        super().__init__(("127.0.0.1", port), handler)

    def start(self):
        threading.Thread(target=self.serve_forever, daemon=True).start()
        return self

    def close(self):
        self.shutdown()
        self.server_close()


class EngineHandler(http.server.BaseHTTPRequestHandler):
    """Logs each request, then leaves the answer to answer(engine, page)."""

    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.server.log.add(self.path, list(self.headers.items()))
        self.answer(*engine_page(self.path))

    def answer(self, engine, page):
        raise NotImplementedError

    def send_head(self, content_type, length):
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(length))
        self.end_headers()

    def send_page(self, content_type, body):
        self.send_head(content_type, len(body))
        self.wfile.write(body)
        self.wfile.flush()


def listen(port, handler, log, state, variable):
    """A started FakeEngines on the port, or None (said why) when it is taken."""
    try:
        return FakeEngines(port, handler, log, state).start()
    except OSError as error:
        print(f"e2e: cannot listen on 127.0.0.1:{port} ({error}); the program was built for "
              f"that port ({variable})", file=sys.stderr)
        return None


# --- Wine and processes ---------------------------------------------------------

def missing_prerequisites(tools):
    """Why the test cannot run here, or None."""
    if not os.environ.get("DISPLAY"):
        return "DISPLAY is not set; the window needs an X display (scripts/test starts Xvfb)"
    for tool in tools:
        if not shutil.which(tool):
            return f"{tool} is missing"
    return None


def arguments(names, tools):
    """The command line's --NAME values, with a fresh results folder at
    --out; None (said why) when the test cannot run here."""
    parser = argparse.ArgumentParser()
    for name in names + ("out",):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    problem = missing_prerequisites(tools)
    if problem:
        print(f"e2e: {problem}", file=sys.stderr)
        return None
    shutil.rmtree(args.out, ignore_errors=True)
    os.makedirs(args.out)
    return args


def window_title(site):
    return "TaviroV1.0" + " " * 11 + site


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Wine:
    def __init__(self, wine_run, out):
        root = os.path.dirname(os.path.dirname(os.path.abspath(wine_run)))
        self.wine_run = wine_run
        self.out = out
        self.env = dict(os.environ)
        self.env.setdefault("TAVIRO_WINEPREFIX", os.path.join(root, "build", "wineprefix"))
        self.env.update(WINEPREFIX=self.env["TAVIRO_WINEPREFIX"], WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="zh_CN.UTF-8",
                        WINELOADER=WINE64)
        self.count = 0

    def reg(self, *args):
        # Output to files: Wine's helpers would hold a pipe open.
        self.count += 1
        log = os.path.join(self.out, f"reg{self.count}.log")
        with open(log, "wb") as f:
            return subprocess.run([WINE64, "reg", *args], env=self.env,
                                  stdin=subprocess.DEVNULL, stdout=f, stderr=f,
                                  timeout=60).returncode

    def start(self, program, args, log_name):
        """The program under wine-run in a process group of its own (stopped
        by stop()), its output in a file of the results folder."""
        with open(os.path.join(self.out, log_name), "wb") as log:
            return subprocess.Popen([self.wine_run, program, *args], env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                    start_new_session=True)


def wait(process, seconds):
    """The exit status, or "timed out"."""
    try:
        return process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        return "timed out"


def stop(process, name):
    if process is None or process.poll() is not None:
        return
    for sig, seconds in ((signal.SIGTERM, 10), (signal.SIGKILL, 10)):
        try:
            os.killpg(process.pid, sig)  # the group we started it in
        except ProcessLookupError:
            return
        if wait(process, seconds) != "timed out":
            return
    print(f"e2e: {name} (pid {process.pid}) did not stop", file=sys.stderr)


# --- The driver's report and the checks --------------------------------------------

def parse_report(path):
    """name -> [values] from the driver's lines "name value" (GBK texts)."""
    report = {}
    if not os.path.exists(path):
        return report
    with open(path, "rb") as f:
        data = f.read()
    for line in data.split(b"\n"):
        if not line:
            continue
        name, _, value = line.partition(b" ")
        report.setdefault(name.decode("ascii"), []).append(value.decode("gbk", "replace"))
    return report


def report_rows(report, name):
    """The rows the driver reported under `name`, as (title, link)."""
    return [tuple(value.split("\t", 1)) for value in report.get(name, [])]


class Checks:
    def __init__(self):
        self.failures = []

    def equal(self, what, got, want):
        if got != want:
            self.failures.append(f"{what}: got {got!r}, want {want!r}")

    def true(self, what, ok):
        if not ok:
            self.failures.append(what)

    def rows(self, what, shown, want):
        """shown: the rows in the list's order; want: the set, each shown once."""
        repeated = sorted({row for row in shown if shown.count(row) > 1})
        missing = sorted(want - set(shown))
        unexpected = sorted(set(shown) - want)
        if repeated or missing or unexpected:
            self.failures.append(f"{what}: missing {missing!r}, unexpected {unexpected!r}, "
                                 f"shown more than once {repeated!r}")

    def outcome(self, out, passed):
        """The exit status; the failures, if any, on standard error."""
        if self.failures:
            print("e2e: FAILED", file=sys.stderr)
            for failure in self.failures:
                print("  " + failure, file=sys.stderr)
            print(f"  (logs and report in {out})", file=sys.stderr)
            return 1
        print(f"e2e: passed; {passed}")
        return 0
