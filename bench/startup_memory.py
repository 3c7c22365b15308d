#!/usr/bin/python3
"""Cold start to the first painted main window, and resident memory 5 s later when idle:
Kestro (from the build's bundle) against bench_bare_window (a QMainWindow with a toolbar and an
empty QListView) built in the same tree. Every run gets a fresh home, so Kestro starts as on a
first launch (settings, desktop entry, engine check). Runs alternate; prints medians.

usage: /usr/bin/python3 bench/startup_memory.py [BUILD_DIR] [RUNS]
"""

import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(ROOT, "build", "bench")
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 7
KESTRO = os.path.join(BUILD, "brisvane-download", "Contents", "Linux", "Kestro")
BARE = os.path.join(BUILD, "bench", "bench_bare_window")
IDLE_SECONDS = 5


def environment(scratch):
    env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "KESTRO_"))}
    home = os.path.join(scratch, "home")
    runtime = os.path.join(scratch, "runtime")
    for folder in (home, runtime):
        os.makedirs(folder, mode=0o700)
    env.update(HOME=home, XDG_RUNTIME_DIR=runtime, TMPDIR=scratch, QT_QPA_PLATFORM="offscreen",
               KESTRO_STARTUP_PROBE="1", XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_DATA_HOME=os.path.join(home, ".local", "share"))
    return env


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS")


def run(program):
    scratch = tempfile.mkdtemp(prefix="kestro-startup-")
    try:
        started = time.monotonic_ns()
        process = subprocess.Popen([program], env=environment(scratch), stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True)
        line = process.stdout.readline()
        if not line.startswith("painted "):
            raise RuntimeError(f"{program}: no paint report ({line!r})")
        startup = (int(line.split()[1]) - started) / 1e6
        time.sleep(IDLE_SECONDS)
        memory = resident_kib(process.pid) / 1024
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        return startup, memory
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def main():
    results = {"kestro": [], "bare": []}
    for _ in range(RUNS):
        results["kestro"].append(run(KESTRO))
        results["bare"].append(run(BARE))
    start = {name: statistics.median(r[0] for r in runs) for name, runs in results.items()}
    memory = {name: statistics.median(r[1] for r in runs) for name, runs in results.items()}
    print(f"runs: {RUNS} alternating")
    print(f"first paint, Kestro: {start['kestro']:.1f} ms   bare: {start['bare']:.1f} ms   "
          f"ratio: {start['kestro'] / start['bare']:.2f}x")
    print(f"resident {IDLE_SECONDS} s later, Kestro: {memory['kestro']:.1f} MiB   bare: {memory['bare']:.1f} MiB   "
          f"ratio: {memory['kestro'] / memory['bare']:.2f}x")
    for name, runs in results.items():
        print(name, " ".join(f"{s:.0f}ms/{m:.1f}MiB" for s, m in runs))


if __name__ == "__main__":
    main()
