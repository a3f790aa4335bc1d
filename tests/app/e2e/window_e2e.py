#!/usr/bin/env python3
"""End-to-end test of the Taviro window under Wine.

Starts a fake-engines server on a fixed loopback port (the one the program
under test was built to use), registers shell "open" handlers for http and
tencent links in the Wine prefix, starts the program, runs the window driver,
then checks what the engines were asked, what the window showed and what was
handed to the shell. A screenshot of the screen goes beside the results.
Every process started here is stopped here, by its id.
"""

import os
import subprocess
import sys
import time

from e2e_support import (WINE64, Checks, EngineHandler, RequestLog, Wine, arguments,
                         engine_page, gbk_percent, html, keyword_of, listen, parse_report,
                         report_rows, sogou_hit, soso_hit, stop, wait, window_title,
                         windows_path, yahoo_hit)

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


class Handler(EngineHandler):
    def answer(self, engine, page):
        state = self.server.state
        keyword = keyword_of(self.path, (KEYWORD, SECOND_KEYWORD, THIRD_KEYWORD))
        content_type, body = state["pages"].get((engine, keyword, page),
                                                ("text/html; charset=gbk", b"<html></html>"))
        late = (engine, keyword, page) == ("soso", SECOND_KEYWORD, 1)
        if late:
            deadline = time.monotonic() + LATE_LIMIT_SECONDS
            while not os.path.exists(state["release"]) and time.monotonic() < deadline:
                time.sleep(0.05)
        self.send_page(content_type, body)
        if late:
            open(state["late_marker"], "wb").close()


# --- The shell's "open" ---------------------------------------------------------

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


# --- The checks -------------------------------------------------------------------

def join_group_link(group, timestamp):
    param = ('{"groupUin":%s,"timeStamp":%s}\n' % (group, timestamp)).encode("ascii").hex()
    return "tencent://groupwpa/?subcmd=all&param=" + param.upper()


def main():
    args = arguments(("port", "program", "driver", "logger", "wine-run", "site", "share-host",
                      "group", "timestamp"), ("import", WINE64))
    if args is None:
        return 1
    port = int(args.port)
    out = args.out
    open_log = os.path.join(out, "opened.txt")
    open(open_log, "wb").close()
    report_path = os.path.join(out, "driver-report.txt")
    screenshot = os.path.join(out, "window.png")

    prefix = f"http://{args.share_host}/share/link"
    late_marker = os.path.join(out, "late-answer-sent")
    release = os.path.join(out, "release-late-answer")
    pages, expected_rows, third_rows = fixtures(prefix)
    log = RequestLog()
    server = listen(port, Handler, log,
                    {"pages": pages, "late_marker": late_marker, "release": release},
                    "TAVIRO_E2E_PORT")
    if server is None:
        return 1

    wine = Wine(args.wine_run, out)
    program = driver = None
    try:
        with ShellHandlers(wine, args.logger, open_log):
            program = wine.start(args.program, [], "program.log")
            driver = wine.start(
                args.driver,
                [window_title(args.site), KEYWORD.encode("gbk").hex(), str(len(expected_rows)),
                 windows_path(open_log), windows_path(report_path),
                 SECOND_KEYWORD.encode("gbk").hex(), "2", THIRD_KEYWORD.encode("gbk").hex(),
                 str(len(third_rows)), windows_path(late_marker), windows_path(release)],
                "driver.log")
            driver_status = wait(driver, 180)
            shot = subprocess.run(["import", "-window", "root", screenshot],
                                  stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    finally:
        stop(driver, "driver")
        stop(program, "program")
        server.close()
    log.write(os.path.join(out, "requests.txt"))

    checks = Checks()
    checks.equal("driver exit status", driver_status, 0)
    checks.equal("screenshot", shot.returncode, 0)
    checks.true("screenshot is a PNG", os.path.exists(screenshot)
                and open(screenshot, "rb").read(8) == b"\x89PNG\r\n\x1a\n")
    report = parse_report(report_path)
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
    for path, headers in log.entries:
        engine = engine_page(path)[0] or "other"
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
    rows = report_rows(report, "row")
    checks.equal("row count", len(rows), len(expected_rows))
    checks.equal("rows", set(rows), expected_rows)
    checks.equal("column title", report.get("column"), [f"文件名({len(expected_rows)})"])
    drawn = int(report.get("first_row_drawn_pixels", ["0"])[0])
    checks.true(f"the first row is drawn on the screen ({drawn} dark pixels)", drawn > 20)
    checks.equal("rows after a search for spaces only", report.get("rows_after_blank_search"),
                 [str(len(expected_rows))])

    # A search replaced while Soso had not answered: the click empties the
    # list at once, the late answer adds nothing, and a link shown by an
    # earlier search is not shown again.
    checks.equal("rows of the search about to be replaced", report.get("rows_before_replacing"),
                 ["2"])
    # Right after the click only rows of the replacing search can be there
    # (its workers may be quick).
    after_click = report_rows(report, "row_after_click")
    checks.equal("rows right after the replacing click, not of the replacing search",
                 set(after_click) - third_rows, set())
    checks.equal("late answer sent before the rows were read", report.get("late_answer_sent"),
                 ["yes"])
    rows3 = report_rows(report, "row3")
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

    return checks.outcome(out, f"screenshot {screenshot}")


if __name__ == "__main__":
    sys.exit(main())
