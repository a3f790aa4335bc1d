"""What the Windows timing scripts share: building their programs, an X
display, a Wine server of their own, and stopping every process they start.

Programs run through tools/wine-run (the tests' prefix, code page 936, quiet
logging); the prefix is $TAVIRO_WINEPREFIX, by default build/wineprefix. Use
a prefix no other run is using at the same time: the timings would share its
Wine server, and a test run ending with `wineserver -k` would end ours too.
"""

import argparse
import json
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_RUN = os.path.join(ROOT, "tools", "wine-run")
WINESERVER = "/usr/lib/wine/wineserver"


def arguments(doc):
    """A parser with what every timing script takes: --build (default
    build/win64), --out and --no-build. The script adds its own options."""
    parser = argparse.ArgumentParser(description=doc.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "win64"))
    parser.add_argument("--out")
    parser.add_argument("--no-build", action="store_true")
    return parser


def prepare(args, targets, name):
    """Builds the targets (unless --no-build), reads the build's settings and
    makes the output folder (--out, or a new one named after the script
    under build/). Returns the settings and the folder."""
    if not args.no_build:
        build(args.build, targets)
    settings = config(args.build)
    out = args.out or temp_dir(name + "-")
    print(f"load average before: {load_average()}; logs in {out}")
    return settings, out


def build(build_dir, targets):
    subprocess.run(["cmake", "--build", build_dir, "-j2", "--target", *targets], check=True,
                   stdout=subprocess.DEVNULL)


def config(build_dir):
    path = os.path.join(build_dir, "bench", "windows", "bench_config.json")
    if not os.path.exists(path):
        sys.exit(f"{path} is missing: configure {build_dir} as a Windows build (preset win64 "
                 f"or win32) with TAVIRO_BENCHMARKS and BUILD_TESTING on")
    with open(path) as f:
        return json.load(f)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def median(values):
    return statistics.median(values) if values else float("nan")


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


RUN_MARKER = "TAVIRO_BENCH_RUN"


def processes_of(sids, marker):
    """Ids of the processes in any of these sessions or carrying our marker in
    their environment. Wine's own services (services.exe, rpcss.exe, ...)
    start in sessions of their own but inherit the environment of the
    process that started them."""
    pids = []
    own = os.getpid()
    needle = f"{RUN_MARKER}={marker}".encode() + b"\0"
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == own:
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
            fields = stat[stat.rindex(")") + 2:].split()
            if int(fields[3]) in sids:  # field 6 of stat: the session
                pids.append(int(entry))
                continue
            with open(f"/proc/{entry}/environ", "rb") as f:
                if needle in f.read() + b"\0":
                    pids.append(int(entry))
        except (OSError, ValueError):
            continue
    return pids


class Session:
    """An X display (our own Xvfb unless DISPLAY is set), a Wine server for
    the prefix, and every process started through start()/run(), each in a
    session of its own. On leaving, every process of those sessions is ended
    by its id, then our Wine server and our Xvfb."""

    def __init__(self, out):
        self.out = out
        os.makedirs(out, exist_ok=True)
        self.env = dict(os.environ)
        # Absolute: Wine refuses a relative prefix.
        self.env["TAVIRO_WINEPREFIX"] = os.path.abspath(
            self.env.get("TAVIRO_WINEPREFIX") or os.path.join(ROOT, "build", "wineprefix"))
        self.env.update(WINEPREFIX=self.env["TAVIRO_WINEPREFIX"], WINEDEBUG="-all")
        self.marker = f"{os.getpid()}-{time.monotonic_ns()}"
        self.env[RUN_MARKER] = self.marker
        self.sessions = set()
        self.processes = []
        self.xvfb = None
        self.wineserver = None

    def __enter__(self):
        try:
            if not self.env.get("DISPLAY"):
                self._start_xvfb()
            self._start_wineserver()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
             "-nolisten", "tcp"], pass_fds=(write_end,), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number

    def _start_wineserver(self):
        # Persistent while we run, so that every Wine process start finds it
        # up. When the prefix already has a server, ours ends at once and that
        # one is used (and left alone).
        log = open(os.path.join(self.out, "wineserver.log"), "wb")
        server = subprocess.Popen([WINESERVER, "-f", "-p"], env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=log, stderr=log, start_new_session=True)
        log.close()
        try:
            server.wait(timeout=1)
            print("note: the prefix's Wine server was already running; it is shared",
                  file=sys.stderr)
        except subprocess.TimeoutExpired:
            self.wineserver = server

    def start(self, args, name):
        """Starts a Windows program through tools/wine-run; output to files."""
        with open(os.path.join(self.out, name + ".log"), "wb") as log:
            process = subprocess.Popen([WINE_RUN, *args], env=self.env, stdin=subprocess.DEVNULL,
                                       stdout=log, stderr=log, start_new_session=True)
        self.sessions.add(process.pid)
        self.processes.append(process)
        return process

    def run(self, args, name, timeout):
        process = self.start(args, name)
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self._end_sessions({process.pid}, exclude=self._own_helpers())
            raise

    def _own_helpers(self):
        return {p.pid for p in (self.wineserver, self.xvfb) if p is not None}

    def _end_sessions(self, sids, exclude=()):
        for sig in (signal.SIGTERM, signal.SIGKILL):
            pids = [p for p in processes_of(sids, self.marker) if p not in exclude]
            for pid in pids:
                try:
                    os.kill(pid, sig)
                except ProcessLookupError:
                    pass
            deadline = time.monotonic() + 5
            while pids and time.monotonic() < deadline:
                for process in self.processes:
                    process.poll()  # reaps what we started directly
                time.sleep(0.1)
                pids = [p for p in processes_of(sids, self.marker) if p not in exclude]
            if not pids:
                return

    def __exit__(self, *exc):
        # The Windows processes first, then the Wine server they talked to.
        self._end_sessions(self.sessions, exclude=self._own_helpers())
        for process in self.processes:
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
        for extra in (self.wineserver, self.xvfb):
            if extra is None or extra.poll() is not None:
                continue
            extra.terminate()
            try:
                extra.wait(timeout=10)
            except subprocess.TimeoutExpired:
                extra.kill()
                extra.wait()
        return False


def temp_dir(prefix):
    return tempfile.mkdtemp(prefix=prefix, dir=os.path.join(ROOT, "build"))
