#!/usr/bin/env python3
"""Start-up of the Windows program to its window shown, next to a bare window.

  bench/start_timing.py [--build DIR] [--rounds N] [--warmups N] [--out DIR]
                        [--no-build]

Builds the product (taviro) and the timing programs of the Windows build DIR
(default build/win64; bench/windows/CMakeLists.txt), then runs, under Wine,
taviro_bench_start_probe, which starts in turn, each round:

  - taviro:       the product as built, timed from CreateProcess to its main
                  window being visible;
  - bare window:  taviro_bench_bare_window, a window program of ours that
                  only registers a class, creates and shows one window, timed
                  the same way;
  - bare process: the same program told to end at once, timed from
                  CreateProcess to the process's end: Wine's own cost of a
                  process start.

Each program is closed (WM_CLOSE) and awaited before the next start; the
first program of a round changes from round to round. Warm-up rounds (the
first start in a prefix loads everything from disk) are not counted. Prints
the medians and the ratio product : bare window. Starts Xvfb when DISPLAY is
unset; stops every process it started.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_bench  # noqa: E402

BARE_TITLE = "TaviroBenchBareWindow"


def main():
    parser = wine_bench.arguments(__doc__)
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--warmups", type=int, default=2)
    args = parser.parse_args()
    config, out = wine_bench.prepare(args, ["taviro", "taviro_bench_bare_window",
                                            "taviro_bench_start_probe"], "start-timing")

    def quoted(path):
        return '"' + wine_bench.windows_path(path) + '"'

    programs = [
        ("taviro", config["product_title"], quoted(config["product"])),
        ("bare_window", BARE_TITLE, quoted(config["bare_window"]) + " " + BARE_TITLE),
        ("bare_process", "-", quoted(config["bare_window"])),
    ]
    report = os.path.join(out, "start.txt")
    probe = [config["start_probe"], wine_bench.windows_path(report), str(args.rounds),
             str(args.warmups)]
    for program in programs:
        probe += list(program)
    with wine_bench.Session(out) as session:
        status = session.run(probe, "probe", timeout=120 + 30 * args.rounds)

    times = {name: [] for name, _, _ in programs}
    errors = []
    with open(report) as f:
        for line in f:
            name, _, rest = line.strip().partition(" ")
            if name == "error":
                errors.append(rest)
                continue
            round_number, ms = rest.split()
            if int(round_number) >= 0:
                times[name].append(float(ms))
    if status != 0 or errors:
        sys.exit(f"start probe failed ({status}): {errors}")

    for name, values in times.items():
        ordered = sorted(values)
        print(f"{name}: median {wine_bench.median(values):.0f} ms over {len(values)} starts "
              f"(min {ordered[0]:.0f}, max {ordered[-1]:.0f})")
    ratio = wine_bench.median(times["taviro"]) / wine_bench.median(times["bare_window"])
    print(f"ratio taviro : bare window {ratio:.2f}")
    print(f"load average after: {wine_bench.load_average()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
