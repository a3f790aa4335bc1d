#!/usr/bin/env python3
"""End-to-end test of the Taviro window under Wine, with engines that
misbehave.

The program was built with Soso on a loopback port where nothing listens
(every connection refused) and Sogou and Yahoo China on the next two ports,
served here. Four searches, one window:

  pages  Sogou answers every page with the same hits, Yahoo China has new hits
         on pages 1 to 25
  big    Sogou's first page is 10 MB (hits at its start and end), held half
         sent until the window has answered; its second page and Yahoo
         China's first are binary garbage
  hang   Yahoo China never answers
  again  searched while that request hangs; it hangs again; then the window
         is closed and the process must end, however blocked its workers are

The driver probes the window with SendMessageTimeout throughout. The hanging
connections stay open until this script ends. Every process started here is
stopped here, by its id.
"""

import os
import random
import socket
import sys
import threading
import time

from e2e_support import (WINE64, Checks, EngineHandler, RequestLog, Wine, arguments,
                         engine_page, html, keyword_of, listen, parse_report, report_rows,
                         sogou_hit, stop, wait, window_title, windows_path, yahoo_hit)

PAGES, BIG, HANG, AGAIN = "二十页", "大页", "不答", "再搜"
SEARCHES = (PAGES, BIG, HANG, AGAIN)
SUFFIXES = {PAGES: "_pages", BIG: "_big", HANG: "_hang", AGAIN: "_again"}
LAST_PAGE = 20  # the program never asks for more
YAHOO_PAGES = 25  # new hits on each; those after LAST_PAGE are never shown
BIG_PAGE_SIZE = 10 * 1024 * 1024
SIGNAL_LIMIT_SECONDS = 30
HANG_LIMIT_SECONDS = 150  # only if the script never gets to release them
# Well below WinINet's own limits (30 s to receive, 60 s to connect): a
# program that waited for its blocked workers would not end in time.
EXIT_LIMIT_MS = 20000
GBK, UTF8 = "text/html; charset=gbk", "text/html; charset=utf-8"
DEFAULT_PAGE = (GBK, b"<html></html>")


def garbage(seed, fragment):
    """Random bytes, invalid GBK here and there, pieces of a hit's markup that
    never close; a long stretch without NUL (text stops at the first NUL),
    ending on a lead byte, then bytes with NULs."""
    rng = random.Random(seed)
    head = bytearray()
    while len(head) < 48 * 1024:
        head += bytes(rng.randrange(1, 256) for _ in range(900)) + fragment
    tail = bytes(rng.randrange(256) for _ in range(16 * 1024))
    return bytes(head) + b"\x81\x00" + tail


def big_page(prefix):
    """About 10 MB of UTF-8: two hits, lines of filler, two hits."""
    emphasised = "大页开头<em><!--red_beg-->二<!--red_end--></em>"
    start = (sogou_hit(prefix, "?shareid=501&amp;uk=50", "大页开头一")
             + sogou_hit(prefix, "?shareid=502&uk=50", emphasised))
    end = (sogou_hit(prefix, "?shareid=503&uk=50", "大页末尾一")
           + sogou_hit(prefix, "?shareid=504&uk=50", "大页末尾二"))
    line = '<div class="f">{:07d} 填充的文字 filler between the hits</div>\n'
    size = len(line.format(0).encode("utf-8"))
    filler = "".join(line.format(n) for n in range(BIG_PAGE_SIZE // size))
    return html(start + filler + end).encode("utf-8")


def fixtures(prefix):
    """(engine, keyword, page) -> (content type, body), and each search's rows."""
    served = {}
    rows = {keyword: set() for keyword in SEARCHES}

    def hits(engine, keyword, page, found):
        markup = {"sogou": sogou_hit, "yahoo": yahoo_hit}[engine]
        body = html("".join(markup(prefix, tail, title) for title, tail in found))
        served[(engine, keyword, page)] = (GBK, body.encode("gbk"))

    same = [(f"搜狗同{i}", f"?shareid=20{i}&uk=20") for i in (1, 2)]
    for page in range(1, LAST_PAGE + 10):
        hits("sogou", PAGES, page, same)
    rows[PAGES] |= {(title, prefix + tail) for title, tail in same}
    for page in range(1, YAHOO_PAGES + 1):
        found = [(f"雅虎第{page}页{i}", f"?shareid={1000 + 10 * page + i}&uk=30") for i in (1, 2)]
        hits("yahoo", PAGES, page, found)
        if page <= LAST_PAGE:
            rows[PAGES] |= {(title, prefix + tail) for title, tail in found}

    served[("sogou", BIG, 1)] = (UTF8, big_page(prefix))
    served[("sogou", BIG, 2)] = (UTF8, garbage(2, b'sogou_preview_title="'))
    served[("yahoo", BIG, 1)] = (GBK, garbage(1, f'<h3><a href="{prefix}'.encode("ascii")))
    rows[BIG] = {(title, f"{prefix}?shareid={n}&uk=50")
                 for title, n in (("大页开头一", 501), ("大页开头二", 502),
                                  ("大页末尾一", 503), ("大页末尾二", 504))}

    for keyword, base in ((HANG, 300), (AGAIN, 400)):
        found = [(f"{keyword}{i}", f"?shareid={base + i}&uk=40") for i in (1, 2)]
        hits("sogou", keyword, 1, found)
        rows[keyword] = {(title, prefix + tail) for title, tail in found}
    return served, rows


def expected_requests():
    """(engine, keyword) -> the pages asked for, in order."""
    return {
        # A page that repeats the one before ends the run: pages 1 and 2.
        ("sogou", PAGES): [1, 2],
        ("yahoo", PAGES): list(range(1, LAST_PAGE + 1)),
        # Page 2 is garbage, without hits.
        ("sogou", BIG): [1, 2],
        ("yahoo", BIG): [1],
        # Sogou's page 2 is empty; Yahoo China's page 1 never answered.
        ("sogou", HANG): [1, 2],
        ("yahoo", HANG): [1],
        ("sogou", AGAIN): [1, 2],
        ("yahoo", AGAIN): [1],
    }


class Handler(EngineHandler):
    def answer(self, engine, page):
        state = self.server.state
        keyword = keyword_of(self.path, SEARCHES)
        if os.path.exists(state["signal"]("closing")):
            with state["lock"]:
                state["after_close"].append(self.path)
        if engine == "yahoo" and keyword in (HANG, AGAIN) and page == 1:
            self.hang(state)
        elif (engine, keyword, page) == ("sogou", BIG, 1):
            self.send_in_halves(state, *state["pages"][(engine, keyword, page)])
        else:
            self.send_page(*state["pages"].get((engine, keyword, page), DEFAULT_PAGE))

    def hang(self, state):
        with state["lock"]:
            state["hanging"] += 1
            name = f"hang-{state['hanging']}"
        open(state["signal"](name), "wb").close()
        state["finished"].wait(HANG_LIMIT_SECONDS)

    def send_in_halves(self, state, content_type, body):
        half = len(body) // 2
        self.send_head(content_type, len(body))
        try:
            self.wfile.write(body[:half])
            self.wfile.flush()
            open(state["signal"]("big-half-sent"), "wb").close()
            deadline = time.monotonic() + SIGNAL_LIMIT_SECONDS
            while (not os.path.exists(state["signal"]("big-release"))
                   and time.monotonic() < deadline):
                time.sleep(0.05)
            self.wfile.write(body[half:])
            self.wfile.flush()
        except OSError:
            pass  # the program went away; the driver says why


def refusing_port(port):
    """A socket bound to the port and never listening: every connection to it
    is refused, and nothing else can listen there meanwhile."""
    refuser = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        refuser.bind(("127.0.0.1", port))
    except OSError as error:
        refuser.close()
        print(f"e2e: cannot take 127.0.0.1:{port} ({error}); the program was built to find "
              f"Soso there refusing (TAVIRO_E2E_FAULTS_PORT)", file=sys.stderr)
        return None
    return refuser


def main():
    args = arguments(("port", "program", "driver", "wine-run", "site", "share-host"), (WINE64,))
    if args is None:
        return 1
    port = int(args.port)
    out = args.out
    signals = os.path.join(out, "signals")
    os.makedirs(signals)
    report_path = os.path.join(out, "driver-report.txt")

    prefix = f"http://{args.share_host}/share/link"
    pages, rows = fixtures(prefix)
    log = RequestLog()
    state = {"pages": pages, "signal": lambda name: os.path.join(signals, name),
             "lock": threading.Lock(), "hanging": 0, "after_close": [],
             "finished": threading.Event()}
    refuser = refusing_port(port)
    if refuser is None:
        return 1
    servers = []
    for engine_port in (port + 1, port + 2):
        server = listen(engine_port, Handler, log, state, "TAVIRO_E2E_FAULTS_PORT")
        if server is None:
            break
        servers.append(server)

    wine = Wine(args.wine_run, out)
    program = driver = None
    program_status = driver_status = "not started"
    try:
        if len(servers) == 2:
            program = wine.start(args.program, [], "program.log")
            steps = []
            for keyword in SEARCHES:
                steps += [keyword.encode("gbk").hex(), str(len(rows[keyword]))]
            driver = wine.start(args.driver, [window_title(args.site), windows_path(report_path),
                                              windows_path(signals), *steps], "driver.log")
            driver_status = wait(driver, 150)
            # The driver has seen the process end, or reported that it did not.
            program_status = wait(program, 5)
    finally:
        stop(driver, "driver")
        stop(program, "program")
        state["finished"].set()
        for server in servers:
            server.close()
        refuser.close()
    log.write(os.path.join(out, "requests.txt"))
    if len(servers) != 2:
        return 1

    checks = Checks()
    checks.equal("driver exit status", driver_status, 0)
    report = parse_report(report_path)
    checks.equal("driver errors", report.get("error"), None)
    # The window answered at once at each of these moments (every other
    # message of the driver is a probe as well).
    checks.equal("window answered", report.get("answered"),
                 ["start", "twenty pages", "10 MB page half read", "10 MB page released",
                  "request hanging", "two requests hanging", "before closing"])

    # What each engine was asked (Soso's port refuses every connection, so
    # none of its requests can show up here).
    got = {}
    for path, _ in log.entries:
        engine, page = engine_page(path)
        got.setdefault((engine, keyword_of(path, SEARCHES)), []).append(page if engine else path)
    checks.equal("pages asked for", got, expected_requests())

    # The rows of each search: each link once; Soso's refusal loses nothing
    # of the others; no page past the last; nothing out of the garbage.
    for keyword in SEARCHES:
        shown = report_rows(report, "row" + SUFFIXES[keyword])
        checks.rows(f"rows of the search {keyword}", shown, rows[keyword])
        checks.equal(f"column title of the search {keyword}",
                     report.get("column" + SUFFIXES[keyword]), [f"文件名({len(rows[keyword])})"])

    # Closing with two workers blocked in requests: the process ends, cleanly
    # and in bounded time, and asks nothing more.
    exit_ms = report.get("exit_ms", ["none"])[0]
    checks.true(f"process ended within {EXIT_LIMIT_MS} ms of WM_CLOSE (took {exit_ms})",
                exit_ms.isdigit() and int(exit_ms) < EXIT_LIMIT_MS)
    checks.equal("program exit code", report.get("exit_code"), ["00000000"])
    checks.equal("program (wine-run) status", program_status, 0)
    checks.equal("hanging requests", state["hanging"], 2)
    checks.equal("requests after the close", state["after_close"], [])

    return checks.outcome(out, f"closed in {exit_ms} ms")


if __name__ == "__main__":
    sys.exit(main())
