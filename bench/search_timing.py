#!/usr/bin/env python3
"""A full search of 60 local pages in the Windows program, next to curl.

  bench/search_timing.py [--build DIR] [--reps N] [--hits N] [--page-kb N]
                         [--poll-ms N] [--workers] [--out DIR] [--no-build]

Builds the timing programs of the Windows build DIR (default build/win64;
bench/windows/CMakeLists.txt), serves three fake engines on loopback
(bench/fake_engines.py: 20 pages of --page-kb KB per engine, --hits share
links per page, no stop text, no repeated page), starts the program built
against them (taviro_bench) under Wine and, once its window is up, repeats:

  - the search: a driver program types a new keyword, clicks Search and
    polls the list until the last expected row is in (3 x 20 x hits rows),
    then until the column title shows the count; start-up is not included;
  - the reference: three curl processes at once, one per engine, each
    fetching that engine's 20 addresses of the same keyword one after the
    other, a new connection per page (the server closes each).

With --workers, a third measurement: the same three engine workers without
the window (taviro_bench_worker_timing, rows counted instead of shown), which
tells the window's share from the workers' own.

The measurements take turns in order from one repetition to the next. A
first round warms up and is not counted. The program's page requests are
logged per repetition (requestsN.tsv in the output folder). Prints each repetition, the
medians and the ratio of medians, and the load average. Starts Xvfb when
DISPLAY is unset; stops every process it started.
"""

import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fake_engines  # noqa: E402
import wine_bench  # noqa: E402

KEYWORD = "基准"


def curl_chains(addresses):
    """Wall time of three concurrent curl processes, and the longest chain's
    sum of transfer times as curl reports them (no process start)."""
    commands = []
    for engine in fake_engines.ENGINES:
        command = ["curl", "-s", "--noproxy", "*", "-w", "%{time_total}\\n"]
        for address in addresses[engine]:
            command += ["-o", os.devnull, address]
        commands.append(command)
    start = time.monotonic()
    processes = [subprocess.Popen(c, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
                 for c in commands]
    outputs = [p.communicate()[0] for p in processes]
    wall_ms = (time.monotonic() - start) * 1000
    if any(p.returncode for p in processes):
        raise RuntimeError("curl failed")
    transfer_ms = max(sum(float(v) for v in out.split()) * 1000 for out in outputs)
    return wall_ms, transfer_ms


def read_report(path):
    report = {}
    if os.path.exists(path):
        with open(path, "rb") as f:
            for line in f.read().decode("gbk", "replace").splitlines():
                name, _, value = line.partition(" ")
                report[name] = value
    return report


def page_cycles(log):
    """Per engine, the program's time from one page request to the next
    (fetch, matching, rows), in ms, from the server's log."""
    cycles = {}
    for engine in fake_engines.ENGINES:
        times = sorted(received for e, _, received, _, client in log
                       if e == engine and client == "program")
        cycles[engine] = [(b - a) * 1000 for a, b in zip(times, times[1:])]
    return cycles


def main():
    parser = wine_bench.arguments(__doc__)
    parser.add_argument("--reps", type=int, default=7)
    parser.add_argument("--hits", type=int, default=5)
    parser.add_argument("--page-kb", type=int, default=100)
    parser.add_argument("--poll-ms", type=int, default=2)
    parser.add_argument("--workers", action="store_true")
    args = parser.parse_args()
    config, out = wine_bench.prepare(args, ["taviro_bench", "taviro_bench_search_driver",
                                            "taviro_bench_worker_timing"], "search-timing")

    engines = fake_engines.FakeEngines(config["ports"], config["share_host"], args.hits,
                                       args.page_kb * 1024)
    results = []
    try:
        with wine_bench.Session(out) as session:
            session.start([config["bench_program"]], "program")
            for rep in range(args.reps + 1):
                keyword = f"{KEYWORD}{rep}"
                # A total of its own: the column title cannot still show the
                # previous search's count when the driver looks for this one.
                addresses, rows = engines.prepare(keyword, rep + 1, extra=rep)
                engines.take_log()
                report_path = os.path.join(out, f"search{rep}.txt")
                driver_args = [config["search_driver"], config["bench_title"],
                               keyword.encode("gbk").hex(), str(rows),
                               wine_bench.windows_path(report_path), str(args.poll_ms)]
                timed = {}
                order = ["curl", "search"] + (["workers"] if args.workers else [])
                order = order[rep % len(order):] + order[:rep % len(order)]
                for what in order:
                    if what == "curl":
                        timed["curl"] = curl_chains(addresses)
                    elif what == "workers":
                        status = session.run([config["worker_timing"], keyword.encode("gbk").hex(),
                                              "parallel"], f"workers{rep}", timeout=400)
                        with open(os.path.join(out, f"workers{rep}.log")) as f:
                            output = f.read()
                        total = re.search(r"total_ms ([0-9.]+)", output)
                        if status != 0 or not total:
                            raise RuntimeError(f"worker timing {rep} failed: {output}")
                        timed["workers"] = float(total.group(1))
                    else:
                        # The driver's own start-up is outside what it times.
                        begin = time.monotonic()
                        status = session.run(driver_args, f"driver{rep}", timeout=400)
                        window_span = (begin, time.monotonic())
                        timed["search"] = read_report(report_path)
                        if status != 0 or "rows_ms" not in timed["search"]:
                            raise RuntimeError(f"search {rep} failed: {timed['search']}")
                    time.sleep(0.5)
                log, unknown = engines.take_log()
                with open(os.path.join(out, f"requests{rep}.tsv"), "w") as f:
                    f.write("engine\tclient\treceived_s\tsent_s\tpath\n")
                    for engine, path, received, sent, client in sorted(log, key=lambda e: e[2]):
                        f.write(f"{engine}\t{client}\t{received:.4f}\t{sent:.4f}\t{path}\n")
                if unknown:
                    raise RuntimeError(f"addresses the fake engines do not serve: {unknown[:3]}")
                asked = sum(1 for entry in log if entry[4] == "program")
                want = 3 * fake_engines.LAST_PAGE * (2 if args.workers else 1)
                if asked != want:
                    raise RuntimeError(f"the program asked for {asked} pages, not {want}")
                search = timed["search"]
                wall, transfer = timed["curl"]
                # The window's requests only (the worker timing asks for the
                # same pages at another time).
                begin, end = window_span
                window_log = [entry for entry in log if begin <= entry[2] <= end]
                cycles = page_cycles(window_log)
                served = [(sent - received) * 1000 for _, _, received, sent, c in window_log
                          if c == "program"]
                line = {
                    "rep": rep, "rows": int(search["rows"]), "rows_ms": float(search["rows_ms"]),
                    "first_row_ms": float(search.get("first_row_ms", "nan")),
                    "title_ms": float(search.get("title_ms", "nan")),
                    "click_ms": float(search["click_ms"]),
                    "curl_ms": wall, "curl_transfer_ms": transfer,
                    "cycle_ms": {e: wine_bench.median(c) for e, c in cycles.items()},
                    "served_ms": wine_bench.median(served),
                    "workers_ms": timed.get("workers", float("nan")),
                }
                label = "warm-up" if rep == 0 else f"rep {rep}"
                print(f"{label}: search {line['rows_ms']:.0f} ms to the last of {line['rows']} "
                      f"rows (first row {line['first_row_ms']:.0f} ms, title "
                      f"{line['title_ms']:.0f} ms); curl {wall:.0f} ms (transfers "
                      f"{transfer:.0f} ms); ratio {line['rows_ms'] / wall:.2f}; "
                      + (f"workers alone {line['workers_ms']:.0f} ms; " if args.workers else "")
                      + "page cycle "
                      + " / ".join(f"{e} {v:.1f}" for e, v in line["cycle_ms"].items())
                      + f" ms; server write {line['served_ms']:.1f} ms", flush=True)
                if rep > 0:
                    results.append(line)
    finally:
        engines.stop()

    def med(key):
        return wine_bench.median([r[key] for r in results])

    print(f"median of {len(results)}: search {med('rows_ms'):.0f} ms (title "
          f"{med('title_ms'):.0f} ms), curl chains {med('curl_ms'):.0f} ms "
          f"(transfers {med('curl_transfer_ms'):.0f} ms); ratio {med('rows_ms') / med('curl_ms'):.2f}"
          f" (title {med('title_ms') / med('curl_ms'):.2f})")
    if args.workers:
        print(f"workers alone: median {med('workers_ms'):.0f} ms, ratio "
              f"{med('workers_ms') / med('curl_ms'):.2f} to curl")
    print(f"load average after: {wine_bench.load_average()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
