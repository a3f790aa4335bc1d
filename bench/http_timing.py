#!/usr/bin/env python3
"""VisitUrl against curl on one machine and one loopback server, per target.

  bench/http_timing.py [--pages N] [--size BYTES] -- PROGRAM [ARG...]

Starts tests/http/test_server.py in this process with one page of BYTES
(default 100 KB), fetches it N times (default 200) with the curl tool (the
server closes every connection, so each page comes over a new one), then runs
PROGRAM ARG... URL N, a build of tests/http/visit_url_timing.cpp, for example

  bench/http_timing.py -- tools/wine-run build/win32/tests/http/visit_url_timing.exe
  bench/http_timing.py -- build/host-release/tests/http/visit_url_timing

and prints both times (the program reports its own, without process start-up)
and their ratio.
"""

import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "http"))
import test_server  # noqa: E402


def main(argv):
    pages, size = 200, 100 * 1024
    args = list(argv)
    while args and args[0] != "--":
        option, value = args[0], args[1]
        if option == "--pages":
            pages = int(value)
        elif option == "--size":
            size = int(value)
        else:
            sys.exit(__doc__)
        args = args[2:]
    if len(args) < 2:
        sys.exit(__doc__)
    program = args[1:]

    server = test_server.Server()
    try:
        head = b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n" % size
        server.state.add_route("/page", {"raw": head, "fill": size, "delay_ms": 0,
                                         "close_after": None}, False)
        url = "http://127.0.0.1:%d/page" % server.port

        command = ["curl", "-s", "--noproxy", "*"]
        for _ in range(pages):
            command += ["-o", os.devnull, url]
        start = time.monotonic()
        subprocess.run(command, check=True)
        curl_ms = (time.monotonic() - start) * 1000

        output = subprocess.run(program + [url, str(pages)], check=True,
                                capture_output=True, text=True).stdout
        match = re.search(r"([0-9.]+) ms", output)
        if not match:
            sys.exit("unexpected output: " + output)
        visit_ms = float(match.group(1))
    finally:
        server.stop()

    print("%d pages of %d bytes: curl %.0f ms, VisitUrl %.0f ms, ratio %.2f"
          % (pages, size, curl_ms, visit_ms, visit_ms / curl_ms))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
