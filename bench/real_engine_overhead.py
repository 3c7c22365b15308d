#!/usr/bin/python3
"""The bundled engine, measured two ways; runs alternate, figures are medians of one run.

1. One 1 GiB file from 127.0.0.1 through kestro-dl, against the bundled engine started alone
   with the download arguments kestro-dl gave it. The engine check and the metadata probe
   that kestro-dl runs first are timed on their own, so the difference can be split.
2. Engine start-up: "--version" through the bundle's one file, against the same release run
   from an unpacked directory with compiled bytecode.

usage: /usr/bin/python3 bench/real_engine_overhead.py [BUILD_DIR] [RUNS]
"""

import functools
import http.server
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release")
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 3
CONTENTS = os.path.join(BUILD, "brisvane-download", "Contents")
ENGINE = os.path.join(CONTENTS, "Helpers", "yt-dlp")
SITE = os.path.join(ROOT, "build", "engine", "root", "usr", "lib", "python3", "dist-packages")
SIZE = 1 << 30

# Stands in for yt-dlp in a scratch bundle: runs the real engine and logs each start's
# wall time and arguments (tab-separated) for the comparison.
SHIM = """#!/bin/sh
start=$(date +%%s%%N)
/usr/bin/python3 %(engine)s "$@"
status=$?
end=$(date +%%s%%N)
{ printf '%%s %%s %%s' "$start" "$end" "$PWD"; for a in "$@"; do printf '\\t%%s' "$a"; done; printf '\\n'; } >> %(log)s
exit $status
"""


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def handle(self):
        try:
            super().handle()
        except (BrokenPipeError, ConnectionResetError):
            pass


def make_media(path):
    """A 1 GiB file that the engine's post-processing accepts: a short real video followed by
    a sparse "free" box (players and ffmpeg skip it)."""
    subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc=duration=1:size=160x120:rate=10", "-c:v", "libx264", "-preset", "ultrafast",
                    "-pix_fmt", "yuv420p", "-movflags", "+faststart", path], check=True)
    with open(path, "r+b") as f:
        f.seek(0, os.SEEK_END)
        padding = SIZE - f.tell()
        f.write(padding.to_bytes(4, "big") + b"free")
        f.truncate(SIZE)


def make_bundle(scratch, log):
    bundle = os.path.join(scratch, "bundle", "Contents")
    shutil.copytree(CONTENTS, bundle, symlinks=True)
    shim = os.path.join(bundle, "Helpers", "yt-dlp")
    os.remove(shim)
    with open(shim, "w") as f:
        f.write(SHIM % {"engine": ENGINE, "log": log})
    os.chmod(shim, 0o755)
    return os.path.join(bundle, "Helpers", "kestro-dl")


def timed(argv, env, cwd=None):
    started = time.monotonic()
    child = subprocess.Popen(argv, env=env, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - started
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("%s failed with status %d" % (argv[0], os.waitstatus_to_exitcode(status)))
    return wall, usage.ru_utime + usage.ru_stime


def starts(log):
    """(seconds, cwd, arguments) of each engine start the shim logged."""
    result = []
    with open(log) as f:
        for line in f:
            head, *arguments = line.rstrip("\n").split("\t")
            start, end, cwd = head.split(" ", 2)
            result.append(((int(end) - int(start)) / 1e9, cwd, arguments))
    return result


def main():
    kestro_dl = os.path.join(CONTENTS, "Helpers", "kestro-dl")
    if not os.access(kestro_dl, os.X_OK) or not os.access(ENGINE, os.X_OK):
        sys.exit("no kestro-dl or engine in %s; build it first (scripts/run builds build/release)" % CONTENTS)
    scratch = tempfile.mkdtemp(prefix="kestro-real-engine-")
    server = None
    try:
        www = os.path.join(scratch, "www")
        os.makedirs(www)
        make_media(os.path.join(www, "big.mp4"))
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(QuietHandler, directory=www))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        url = "http://127.0.0.1:%d/big.mp4" % server.server_address[1]

        log = os.path.join(scratch, "starts.log")
        kestro = make_bundle(scratch, log)
        env = dict(os.environ)
        for name, sub in (("HOME", "home"), ("XDG_CONFIG_HOME", "config"), ("XDG_DATA_HOME", "data"),
                          ("XDG_CACHE_HOME", "cache"), ("TMPDIR", "tmp")):
            env[name] = os.path.join(scratch, sub)
            os.makedirs(env[name], exist_ok=True)
        engine_env = dict(env, PATH=os.path.dirname(ENGINE) + ":/usr/bin:/bin")
        out = os.path.join(scratch, "out")

        figures = {key: [] for key in ("app_wall", "app_cpu", "bare_wall", "bare_cpu", "check", "probe")}
        for run in range(RUNS):
            open(log, "w").close()
            shutil.rmtree(out, ignore_errors=True)
            wall, cpu = timed([kestro, "--dir", out, url], env)
            figures["app_wall"].append(wall)
            figures["app_cpu"].append(cpu)
            logged = starts(log)
            download = [s for s in logged if "-J" not in s[2] and "--version" not in s[2]
                        and "--list-impersonate-targets" not in s[2]][-1]
            figures["check"].append(sum(s[0] for s in logged if "--version" in s[2] or "--list-impersonate-targets" in s[2]))
            figures["probe"].append(sum(s[0] for s in logged if "-J" in s[2]))

            shutil.rmtree(out, ignore_errors=True)
            arguments = download[2]
            for i, value in enumerate(arguments):
                if i and arguments[i - 1] == "-P" and value.startswith("temp:"):
                    os.makedirs(value[len("temp:"):], exist_ok=True)
            wall, cpu = timed(["/usr/bin/python3", ENGINE] + arguments, engine_env, cwd=download[1])
            figures["bare_wall"].append(wall)
            figures["bare_cpu"].append(cpu)
            print("run %d: kestro-dl %.2f s (CPU %.2f s; check %.2f s, probe %.2f s), bare engine %.2f s (CPU %.2f s)"
                  % (run + 1, figures["app_wall"][-1], figures["app_cpu"][-1], figures["check"][-1],
                     figures["probe"][-1], wall, cpu), flush=True)

        # Start-up: the packed file against an unpacked copy with compiled bytecode.
        unpacked = os.path.join(scratch, "site")
        shutil.copytree(SITE, unpacked)
        subprocess.run(["/usr/bin/python3", "-m", "compileall", "-q", unpacked], check=True)
        packed_start, unpacked_start = [], []
        for _ in range(max(RUNS, 5)):
            packed_start.append(timed(["/usr/bin/python3", ENGINE, "--version"], env)[0])
            unpacked_start.append(timed(["/usr/bin/python3", "-m", "yt_dlp", "--version"],
                                        dict(env, PYTHONPATH=unpacked))[0])

        m = {key: statistics.median(values) for key, values in figures.items()}
        print("download of 1 GiB from 127.0.0.1, %d alternating runs each, medians" % RUNS)
        print("wall:  kestro-dl %.2f s, bare engine %.2f s, ratio %.3f"
              % (m["app_wall"], m["bare_wall"], m["app_wall"] / m["bare_wall"]))
        print("CPU:   kestro-dl with its engines %.2f s, bare engine %.2f s, ratio %.3f"
              % (m["app_cpu"], m["bare_cpu"], m["app_cpu"] / m["bare_cpu"]))
        print("       of the wall difference %.2f s: engine check %.2f s, metadata probe %.2f s"
              % (m["app_wall"] - m["bare_wall"], m["check"], m["probe"]))
        print("start-up (--version), %d alternating runs, medians: packed file %.3f s, "
              "unpacked with bytecode %.3f s, ratio %.2f"
              % (len(packed_start), statistics.median(packed_start), statistics.median(unpacked_start),
                 statistics.median(packed_start) / statistics.median(unpacked_start)))
    finally:
        if server is not None:
            server.shutdown()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
