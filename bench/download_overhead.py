#!/usr/bin/python3
"""Wall time and CPU of kestro-dl fetching one 1 GiB file through the engine double, against
the double started alone with the same download arguments. Runs alternate; prints medians.

usage: /usr/bin/python3 bench/download_overhead.py [BUILD_DIR] [RUNS]
"""

import functools
import http.server
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(ROOT, "build", "bench")
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 3
KESTRO_DL = os.path.join(BUILD, "brisvane-download", "Contents", "Helpers", "kestro-dl")
DOUBLE = os.path.join(ROOT, "tests", "support", "fake-yt-dlp")
SIZE = 1 << 30
TICKS = os.sysconf("SC_CLK_TCK")


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def handle(self):
        # The metadata probe drops its connection early; that is not an error here.
        try:
            super().handle()
        except (BrokenPipeError, ConnectionResetError):
            pass


def make_bundle(scratch):
    helpers = os.path.join(scratch, "bundle", "Contents", "Helpers")
    os.makedirs(helpers)
    shutil.copy(DOUBLE, os.path.join(helpers, "yt-dlp"))
    for tool in ("ffmpeg", "ffprobe", "deno"):
        with open(os.path.join(helpers, tool), "w") as f:
            f.write("#!/bin/sh\nexit 0\n")
    for name in os.listdir(helpers):
        os.chmod(os.path.join(helpers, name), 0o755)
    with open(os.path.join(scratch, "bundle", "Contents", "Info.json"), "w") as f:
        f.write('{"CFBundleVersion":"1"}')
    # kestro-dl finds its bundle from its own path, so it must really be in there.
    target = os.path.join(helpers, "kestro-dl")
    try:
        os.link(KESTRO_DL, target)
    except OSError:
        shutil.copy2(KESTRO_DL, target)
    return target


def thread_runtimes(pid):
    """Nanoseconds on the CPU of each thread of pid (first field of schedstat)."""
    times = {}
    try:
        for tid in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                times[tid] = int(f.read().split()[0])
    except OSError:
        pass
    return times


def own_cpu_at_exit(pid):
    """Waits for the child and returns its own CPU seconds (children excluded), the CPU seconds
    of the children it waited for, and its exit status.

    The leader's schedstat stays readable while the child is a zombie and is exact to the
    nanosecond; threads that ended earlier are taken from their last sample (every 50 ms).
    The children's time is cutime+cstime of the zombie's stat, in clock ticks."""
    samples = {}
    done = threading.Event()

    def poll():
        while not done.wait(0.05):
            samples.update(thread_runtimes(pid))

    poller = threading.Thread(target=poll)
    poller.start()
    os.waitid(os.P_PID, pid, os.WEXITED | os.WNOWAIT)
    done.set()
    poller.join()
    samples.update(thread_runtimes(pid))
    own = sum(samples.values()) / 1e9
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rpartition(")")[2].split()
    # fields[0] is field 3 (state); 16 and 17 are cutime and cstime.
    children = (int(fields[13]) + int(fields[14])) / TICKS
    _, status, _ = os.wait4(pid, 0)
    return own, children, os.waitstatus_to_exitcode(status), len(samples)


def run_kestro(kestro, env, out, url):
    shutil.rmtree(out, ignore_errors=True)
    started = time.monotonic()
    child = subprocess.Popen([kestro, "--dir", out, url], env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    child.stderr.close()  # nothing is expected there; the exit status says enough
    own, children, code, threads = own_cpu_at_exit(child.pid)
    child.returncode = code
    wall = time.monotonic() - started
    if code != 0:
        sys.exit("kestro-dl failed with status %d" % code)
    return wall, own, children, threads


def download_start(start_log):
    """The last download start the double logged: its arguments, folder and environment."""
    with open(start_log) as f:
        starts = [json.loads(line) for line in f if line.strip()]
    downloads = [s for s in starts if "-J" not in s["argv"] and "--version" not in s["argv"]]
    return downloads[-1]


def run_bare(engine, start, out):
    argv = start["argv"]
    shutil.rmtree(out, ignore_errors=True)
    # The folders kestro-dl would have made before starting the engine.
    for i, value in enumerate(argv):
        if argv[i - 1] == "-P" and value.startswith("temp:"):
            os.makedirs(value[len("temp:"):])
    started = time.monotonic()
    child = subprocess.Popen([engine] + argv, env=start["env"], cwd=start["cwd"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    wall = time.monotonic() - started
    if child.returncode != 0:
        sys.exit("the bare engine failed with status %d" % child.returncode)
    return wall, usage.ru_utime + usage.ru_stime


def main():
    if not os.access(KESTRO_DL, os.X_OK):
        sys.exit("no kestro-dl at %s; build the bench tree first" % KESTRO_DL)
    scratch = tempfile.mkdtemp(prefix="kestro-overhead-")
    server = None
    try:
        www = os.path.join(scratch, "www")
        os.makedirs(www)
        with open(os.path.join(www, "big.mp4"), "wb") as f:
            f.truncate(SIZE)
        handler = functools.partial(QuietHandler, directory=www)
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        url = "http://127.0.0.1:%d/big.mp4" % server.server_address[1]

        kestro = make_bundle(scratch)
        home = os.path.join(scratch, "home")
        env = dict(os.environ)
        for name, sub in (("HOME", ""), ("XDG_CONFIG_HOME", "config"), ("XDG_DATA_HOME", "data"),
                          ("XDG_CACHE_HOME", "cache"), ("TMPDIR", "tmp")):
            env[name] = os.path.join(home, sub)
            os.makedirs(env[name], exist_ok=True)
        start_log = os.path.join(scratch, "starts.jsonl")
        env["FAKE_YTDLP_START_LOG"] = start_log
        out = os.path.join(scratch, "out")

        app_wall, app_cpu, app_engine_cpu, bare_wall, bare_cpu = [], [], [], [], []
        for run in range(RUNS):
            wall, own, children, threads = run_kestro(kestro, env, out, url)
            app_wall.append(wall)
            app_cpu.append(own)
            app_engine_cpu.append(children)
            engine = os.path.join(os.path.dirname(kestro), "yt-dlp")
            wall, cpu = run_bare(engine, download_start(start_log), out)
            bare_wall.append(wall)
            bare_cpu.append(cpu)
            print("run %d: kestro-dl %.2f s (own CPU %.4f s in %d threads, engines %.2f s), bare engine %.2f s "
                  "(CPU %.2f s)" % (run + 1, app_wall[-1], own, threads, children, wall, cpu), flush=True)
            shutil.rmtree(out, ignore_errors=True)

        median = statistics.median
        print("download of 1 GiB from 127.0.0.1, %d alternating runs each, medians" % RUNS)
        print("wall:  kestro-dl %.2f s, bare engine %.2f s, ratio %.3f"
              % (median(app_wall), median(bare_wall), median(app_wall) / median(bare_wall)))
        print("CPU:   kestro-dl itself %.4f s, bare engine %.2f s, ratio %.4f"
              % (median(app_cpu), median(bare_cpu), median(app_cpu) / median(bare_cpu)))
        print("       (engines under kestro-dl, probe included: %.2f s)" % median(app_engine_cpu))
    finally:
        if server is not None:
            server.shutdown()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
