#!/usr/bin/env python3
"""End-to-end test of the Taviro window under Wine.

Starts a fake-engines server on a fixed loopback port (the one the program
under test was built to use), registers shell "open" handlers for http and
tencent links in the Wine prefix, starts the program, runs the window driver,
then checks what the engines were asked, what the window showed and what was
handed to the shell. A screenshot of the screen goes beside the results.
Every process started here is stopped here, by its id.
"""

import argparse
import http.server
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
import urllib.parse

KEYWORD = "电影 合集"
SECOND_KEYWORD = "第二"  # Soso answers it late; the third search replaces it
THIRD_KEYWORD = "第三"
LATE_LIMIT_SECONDS = 60
WINDOW_SIZE = (812, 475)

WS_MAXIMIZEBOX = 0x00010000
WS_MINIMIZEBOX = 0x00020000
WS_THICKFRAME = 0x00040000
WS_SYSMENU = 0x00080000
WS_CAPTION = 0x00C00000
WS_EX_TOOLWINDOW = 0x00000080
WS_EX_APPWINDOW = 0x00040000


# --- The fake engines -------------------------------------------------------

def soso_hit(prefix, tail, title):
    return f'<li><a href="{prefix}{tail}" class="r" target="_blank">{title}</a></li>\n'


def sogou_hit(prefix, tail, title):
    return (f'<a sogou_preview_title="{title}" sogou_preview_link="{prefix}{tail}">x</a>\n')


def yahoo_hit(prefix, tail, title):
    return f'<h3><a href="{prefix}{tail}">{title}</a></h3>\n'


def html(body):
    return f"<html><head><title>r</title></head><body>\n{body}</body></html>\n"


def fixtures(prefix):
    """(engine, keyword, page) -> (content type, body bytes), and the rows
    expected of the first and of the third search."""
    shared = "?shareid=100&uk=9"  # found by Soso and Yahoo China alike
    pages = {
        ("soso", KEYWORD, 1): html(soso_hit(prefix, "?shareid=1&uk=1", "<EM>电影</Em>一")
                                   + soso_hit(prefix, "?shareid=2&uk=1", "")  # no title
                                   + soso_hit(prefix, shared, "共享<em>合集</em>")),
        ("soso", KEYWORD, 2): html(soso_hit(prefix, "?shareid=3&uk=1", "三<em>x</em>")
                                   + "<p>抱歉，找不到与您的查询相符的网页</p>\n"),
        ("sogou", KEYWORD, 1): html(sogou_hit(prefix, "?shareid=5&amp;uk=2",
                                              "中文<em><!--red_beg-->词<!--red_end--></em>")),
        ("sogou", KEYWORD, 2): html("<p>请输入验证码</p>\n"
                                    + sogou_hit(prefix, "?shareid=6&uk=2", "验证页上的")),
        ("yahoo", KEYWORD, 1): html(yahoo_hit(prefix, shared, "共享<em>合集</em>")
                                    + yahoo_hit(prefix, "", "空尾")  # no tail: skipped
                                    + yahoo_hit(prefix, "?shareid=7&uk=3", "雅虎<em>七</em>")),
        ("yahoo", KEYWORD, 2): html(yahoo_hit(prefix, "?shareid=8&uk=3", "雅虎八")
                                    + "<p>抱歉，没有找到与您的查询相关的网页</p>\n"),
        # Held back until the driver has clicked for the third search.
        ("soso", SECOND_KEYWORD, 1): html(soso_hit(prefix, "?shareid=29&uk=5", "旧搜索")),
        ("sogou", SECOND_KEYWORD, 1): html(sogou_hit(prefix, "?shareid=21&uk=5", "第二一")),
        ("yahoo", SECOND_KEYWORD, 1): html(yahoo_hit(prefix, "?shareid=22&uk=5", "第二二")),
        # A link the first search showed is not shown again.
        ("soso", THIRD_KEYWORD, 1): html(soso_hit(prefix, "?shareid=1&uk=1", "又见")
                                         + soso_hit(prefix, "?shareid=31&uk=6", "第三一")),
        ("sogou", THIRD_KEYWORD, 1): html(sogou_hit(prefix, "?shareid=32&uk=6", "第三二")),
    }
    served = {}
    for key, text in pages.items():
        if key[:2] == ("sogou", KEYWORD):
            served[key] = ("text/html; charset=utf-8", text.encode("utf-8"))
        else:
            served[key] = ("text/html; charset=gbk", text.encode("gbk"))
    rows = {
        ("电影一", prefix + "?shareid=1&uk=1"),
        ("共享合集", prefix + shared),
        ("三x", prefix + "?shareid=3&uk=1"),
        ("中文词", prefix + "?shareid=5&uk=2"),
        ("雅虎七", prefix + "?shareid=7&uk=3"),
        ("雅虎八", prefix + "?shareid=8&uk=3"),
    }
    third_rows = {
        ("第三一", prefix + "?shareid=31&uk=6"),
        ("第三二", prefix + "?shareid=32&uk=6"),
    }
    return served, rows, third_rows


ENGINE_PATHS = {"/q": ("soso", "pg"), "/web": ("sogou", "page"), "/s": ("yahoo", "page")}


class FakeEngines(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, pages, late_marker, release):
        self.pages = pages
        self.late_marker = late_marker
        self.release = release
        self.lock = threading.Lock()
        self.requests = []  # (path, [(header, value)])
        super().__init__(("127.0.0.1", port), Handler)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        server = self.server
        with server.lock:
            server.requests.append((self.path, list(self.headers.items())))
        split = urllib.parse.urlsplit(self.path)
        content_type, body = "text/html; charset=gbk", b"<html></html>"
        late = False
        if split.path in ENGINE_PATHS:
            engine, key = ENGINE_PATHS[split.path]
            page = int(urllib.parse.parse_qs(split.query).get(key, ["0"])[0] or 0)
            for keyword in (KEYWORD, SECOND_KEYWORD, THIRD_KEYWORD):
                if gbk_percent(keyword) + "&" in self.path:
                    content_type, body = server.pages.get((engine, keyword, page),
                                                          (content_type, body))
                    late = (engine, keyword, page) == ("soso", SECOND_KEYWORD, 1)
        if late:
            deadline = time.monotonic() + LATE_LIMIT_SECONDS
            while not os.path.exists(server.release) and time.monotonic() < deadline:
                time.sleep(0.05)
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()
        if late:
            open(server.late_marker, "wb").close()


# --- Wine ----------------------------------------------------------------------

class Wine:
    def __init__(self, wine_run, out):
        root = os.path.dirname(os.path.dirname(os.path.abspath(wine_run)))
        self.wine_run = wine_run
        self.out = out
        self.env = dict(os.environ)
        self.env.setdefault("TAVIRO_WINEPREFIX", os.path.join(root, "build", "wineprefix"))
        self.env.update(WINEPREFIX=self.env["TAVIRO_WINEPREFIX"], WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="zh_CN.UTF-8",
                        WINELOADER="/usr/lib/wine/wine64")
        self.count = 0

    def reg(self, *args):
        # Output to files: Wine's helpers would hold a pipe open.
        self.count += 1
        log = os.path.join(self.out, f"reg{self.count}.log")
        with open(log, "wb") as f:
            return subprocess.run(["/usr/lib/wine/wine64", "reg", *args], env=self.env,
                                  stdin=subprocess.DEVNULL, stdout=f, stderr=f,
                                  timeout=60).returncode


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class ShellHandlers:
    """http and tencent links opened by the shell go to our logger while this
    holds; the keys as they were are put back afterwards."""

    SCHEMES = ("http", "tencent")

    def __init__(self, wine, logger, log):
        self.wine, self.logger, self.log = wine, logger, log
        self.saved = {}

    def __enter__(self):
        for scheme in self.SCHEMES:
            key = "HKCR\\" + scheme
            if self.wine.reg("query", key) == 0:
                backup = os.path.join(self.wine.out, f"{scheme}-before.reg")
                if self.wine.reg("export", key, windows_path(backup), "/y") != 0:
                    raise RuntimeError(f"cannot save {key}")
                self.saved[scheme] = backup
        command = f'"{windows_path(self.logger)}" "{windows_path(self.log)}" "%1"'
        for scheme in self.SCHEMES:
            key = "HKCR\\" + scheme
            steps = [("add", key, "/ve", "/d", f"URL:{scheme}", "/f"),
                     ("add", key, "/v", "URL Protocol", "/d", "", "/f"),
                     ("add", key + "\\shell\\open\\command", "/ve", "/d", command, "/f")]
            for step in steps:
                if self.wine.reg(*step) != 0:
                    raise RuntimeError(f"reg {' '.join(step)} failed")
        return self

    def __exit__(self, *exc):
        for scheme in self.SCHEMES:
            self.wine.reg("delete", "HKCR\\" + scheme, "/f")
            if scheme in self.saved:
                self.wine.reg("import", windows_path(self.saved[scheme]))


def stop(process, name):
    if process is None or process.poll() is not None:
        return
    for sig, wait in ((signal.SIGTERM, 10), (signal.SIGKILL, 10)):
        try:
            os.killpg(process.pid, sig)  # the group we started it in
        except ProcessLookupError:
            return
        try:
            process.wait(timeout=wait)
            return
        except subprocess.TimeoutExpired:
            pass
    print(f"e2e: {name} (pid {process.pid}) did not stop", file=sys.stderr)


# --- The checks -------------------------------------------------------------------

class Checks:
    def __init__(self):
        self.failures = []

    def equal(self, what, got, want):
        if got != want:
            self.failures.append(f"{what}: got {got!r}, want {want!r}")

    def true(self, what, ok):
        if not ok:
            self.failures.append(what)


def parse_report(data):
    report = {}
    for line in data.split(b"\n"):
        if not line:
            continue
        name, _, value = line.partition(b" ")
        report.setdefault(name.decode("ascii"), []).append(value.decode("gbk", "replace"))
    return report


def gbk_percent(text):
    return "".join(f"%{b:02X}" for b in text.encode("gbk"))


def join_group_link(group, timestamp):
    param = ('{"groupUin":%s,"timeStamp":%s}\n' % (group, timestamp)).encode("ascii").hex()
    return "tencent://groupwpa/?subcmd=all&param=" + param.upper()


def main():
    parser = argparse.ArgumentParser()
    for name in ("port", "program", "driver", "logger", "wine-run", "site", "share-host",
                 "group", "timestamp", "out"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    port = int(args.port)

    if not os.environ.get("DISPLAY"):
        print("e2e: DISPLAY is not set; the window needs an X display (scripts/test starts "
              "Xvfb)", file=sys.stderr)
        return 1
    for tool in ("import", "/usr/lib/wine/wine64"):
        if not shutil.which(tool):
            print(f"e2e: {tool} is missing", file=sys.stderr)
            return 1

    out = args.out
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    open_log = os.path.join(out, "opened.txt")
    open(open_log, "wb").close()
    report_path = os.path.join(out, "driver-report.txt")
    screenshot = os.path.join(out, "window.png")

    prefix = f"http://{args.share_host}/share/link"
    late_marker = os.path.join(out, "late-answer-sent")
    release = os.path.join(out, "release-late-answer")
    pages, expected_rows, third_rows = fixtures(prefix)
    try:
        server = FakeEngines(port, pages, late_marker, release)
    except OSError as error:
        print(f"e2e: cannot listen on 127.0.0.1:{port} ({error}); the program was built for "
              f"that port (TAVIRO_E2E_PORT)", file=sys.stderr)
        return 1
    threading.Thread(target=server.serve_forever, daemon=True).start()

    wine = Wine(args.wine_run, out)
    title = "TaviroV1.0" + " " * 11 + args.site
    program = driver = None
    try:
        with ShellHandlers(wine, args.logger, open_log):
            with open(os.path.join(out, "program.log"), "wb") as log:
                program = subprocess.Popen([args.wine_run, args.program], env=wine.env,
                                           stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                           start_new_session=True)
            with open(os.path.join(out, "driver.log"), "wb") as log:
                driver = subprocess.Popen(
                    [args.wine_run, args.driver, title, KEYWORD.encode("gbk").hex(),
                     str(len(expected_rows)), windows_path(open_log), windows_path(report_path),
                     SECOND_KEYWORD.encode("gbk").hex(), "2", THIRD_KEYWORD.encode("gbk").hex(),
                     str(len(third_rows)), windows_path(late_marker), windows_path(release)],
                    env=wine.env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                    start_new_session=True)
                try:
                    driver_status = driver.wait(timeout=180)
                except subprocess.TimeoutExpired:
                    driver_status = "timed out"
            shot = subprocess.run(["import", "-window", "root", screenshot],
                                  stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    finally:
        stop(driver, "driver")
        stop(program, "program")
        server.shutdown()
        server.server_close()

    with open(os.path.join(out, "requests.txt"), "w", encoding="utf-8") as f:
        for path, headers in server.requests:
            f.write(path + "\n" + "".join(f"  {k}: {v}\n" for k, v in headers))

    checks = Checks()
    checks.equal("driver exit status", driver_status, 0)
    checks.equal("screenshot", shot.returncode, 0)
    checks.true("screenshot is a PNG", os.path.exists(screenshot)
                and open(screenshot, "rb").read(8) == b"\x89PNG\r\n\x1a\n")
    report = {}
    if os.path.exists(report_path):
        report = parse_report(open(report_path, "rb").read())
    checks.equal("driver errors", report.get("error"), None)

    # The window.
    geometry = [int(v) for v in report.get("geometry", ["0 0 0 0 0 0"])[0].split()]
    left, top, width, height, screen_w, screen_h = geometry
    checks.equal("outer size", (width, height), WINDOW_SIZE)
    checks.equal("position (centred)", (left, top),
                 ((screen_w - WINDOW_SIZE[0]) // 2, (screen_h - WINDOW_SIZE[1]) // 2))
    style, exstyle = (int(v, 16) for v in report.get("styles", ["0 0"])[0].split())
    checks.equal("caption and close box", style & (WS_CAPTION | WS_SYSMENU),
                 WS_CAPTION | WS_SYSMENU)
    checks.equal("no maximise, minimise or sizing frame",
                 style & (WS_MAXIMIZEBOX | WS_MINIMIZEBOX | WS_THICKFRAME), 0)
    checks.equal("tool window shown in the taskbar", exstyle & (WS_EX_TOOLWINDOW | WS_EX_APPWINDOW),
                 WS_EX_TOOLWINDOW | WS_EX_APPWINDOW)
    checks.equal("column title before the search", report.get("column_before"), ["文件名(0)"])
    checks.equal("keyword typed", report.get("typed"), [KEYWORD])

    # What each engine was asked: pages 1 and 2, the keyword in GBK, nothing
    # after the stop text (Soso, Yahoo China) or the verification page (Sogou).
    keyword = gbk_percent(KEYWORD)
    share = args.share_host
    want = {
        "soso": [f"/q?w=site%3A{share}%20{keyword}&pg={n}" for n in (1, 2)],
        "sogou": [f"/web?query=site%3A{share}+{keyword}&page={n}" for n in (1, 2)],
        "yahoo": [f"/s?q=site%3A{share}%20{keyword}&page={n}" for n in (1, 2)],
    }
    got = {engine: [] for engine in want}
    late_page = f"/q?w=site%3A{share}%20{gbk_percent(SECOND_KEYWORD)}&pg="
    for path, headers in server.requests:
        engine = ENGINE_PATHS.get(urllib.parse.urlsplit(path).path, ("other",))[0]
        if keyword + "&" in path:
            got.setdefault(engine, []).append(path)
        elif path.startswith(late_page):
            got.setdefault("soso, replaced search", []).append(path)
        elif not any(gbk_percent(k) + "&" in path for k in (SECOND_KEYWORD, THIRD_KEYWORD)):
            got.setdefault("no keyword of ours", []).append(path)
        # The lines a page request carries: its own address as the referrer.
        lines = {name: [v for k, v in headers if k.lower() == name.lower()]
                 for name in ("Host", "Referer", "Accept-Language")}
        checks.equal(f"header lines of {path}", lines,
                     {"Host": [f"127.0.0.1:{port}"], "Referer": [f"http://127.0.0.1:{port}{path}"],
                      "Accept-Language": ["zh-cn"]})
    # The replaced search's Soso worker ends once its late page arrives.
    want["soso, replaced search"] = [late_page + "1"]
    for engine in set(got) | set(want):
        checks.equal(f"requests to {engine}", got.get(engine), want.get(engine))

    # The rows: each link once, emphasis removed, skipped hits absent.
    rows = [tuple(value.split("\t", 1)) for value in report.get("row", [])]
    checks.equal("row count", len(rows), len(expected_rows))
    checks.equal("rows", set(rows), expected_rows)
    checks.equal("column title", report.get("column"), [f"文件名({len(expected_rows)})"])
    checks.equal("rows after a search for spaces only", report.get("rows_after_blank_search"),
                 [str(len(expected_rows))])

    # A search replaced while Soso had not answered: the click empties the
    # list at once, the late answer adds nothing, and a link shown by an
    # earlier search is not shown again.
    checks.equal("rows of the search about to be replaced", report.get("rows_before_replacing"),
                 ["2"])
    checks.equal("rows right after the replacing click", report.get("rows_after_replacing_click"),
                 ["0"])
    checks.equal("late answer sent before the rows were read", report.get("late_answer_sent"),
                 ["yes"])
    rows3 = [tuple(value.split("\t", 1)) for value in report.get("row3", [])]
    checks.equal("rows of the replacing search", sorted(rows3), sorted(third_rows))
    checks.equal("column title after the replacing search", report.get("column3"),
                 [f"文件名({len(third_rows)})"])

    # The shell's "open": nothing for empty space, the double-clicked row's
    # link, then the join-group link.
    checks.equal("double-click on empty space", report.get("empty_double_click_opened"), ["no"])
    opened = open(open_log, "rb").read().decode("gbk", "replace").splitlines()
    want_opened = []
    if len(rows) > 1 and report.get("double_clicked_row") == ["1"]:
        want_opened.append(rows[1][1])
    want_opened.append(join_group_link(args.group, args.timestamp))
    checks.equal("links handed to the shell", opened, want_opened)

    if checks.failures:
        print("e2e: FAILED", file=sys.stderr)
        for failure in checks.failures:
            print("  " + failure, file=sys.stderr)
        print(f"  (logs, report and screenshot in {out})", file=sys.stderr)
        return 1
    print(f"e2e: passed; screenshot {screenshot}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
