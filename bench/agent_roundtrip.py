#!/usr/bin/python3
"""Round trip of one MCP "tools/call" of list_downloads, from the client writing its line to
the reply line read back: KestroMCP -> exchange directory -> kestro-dl --serve -> back.
Measured with both sides watching the file system (inotify / QFileSystemWatcher) and with
both polling only (KESTRO_AGENT_POLL_ONLY=1: 250 ms application passes, 100 ms server checks),
in alternating rounds of CALLS calls each; prints p50 and p95 per round and their medians.

usage: /usr/bin/python3 bench/agent_roundtrip.py [BUILD_DIR] [CALLS] [ROUNDS]
"""

import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release")
CALLS = int(sys.argv[2]) if len(sys.argv) > 2 else 200
ROUNDS = int(sys.argv[3]) if len(sys.argv) > 3 else 3
HELPERS = os.path.join(BUILD, "brisvane-download", "Contents", "Helpers")


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(fraction * (len(ordered) - 1))))]


def round_trips(poll_only, scratch):
    env = {k: v for k, v in os.environ.items() if not k.startswith(("KESTRO_", "XDG_"))}
    env.update(HOME=scratch, XDG_CONFIG_HOME=f"{scratch}/config", XDG_DATA_HOME=f"{scratch}/data",
               XDG_RUNTIME_DIR=f"{scratch}/run", TMPDIR=scratch,
               KESTRO_AGENT_BRIDGE_DIR=f"{scratch}/exchange")
    os.makedirs(f"{scratch}/run", mode=0o700, exist_ok=True)
    if poll_only:
        env["KESTRO_AGENT_POLL_ONLY"] = "1"
    serve = subprocess.Popen([os.path.join(HELPERS, "kestro-dl"), "--serve"], env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    mcp = subprocess.Popen([os.path.join(HELPERS, "KestroMCP")], env=env,
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    line = json.dumps({"jsonrpc": "2.0", "id": 1, "method": "tools/call",
                       "params": {"name": "list_downloads", "arguments": {}}}).encode() + b"\n"
    timings = []
    try:
        for i in range(CALLS + 5):  # the first calls wait for the service to come up
            start = time.perf_counter()
            mcp.stdin.write(line)
            mcp.stdin.flush()
            reply = json.loads(mcp.stdout.readline())
            elapsed = time.perf_counter() - start
            if reply["result"].get("isError"):
                sys.exit("tool error: " + reply["result"]["content"][0]["text"])
            if i >= 5:
                timings.append(elapsed * 1000)
    finally:
        mcp.stdin.close()
        mcp.wait()
        serve.terminate()
        serve.wait()
    return percentile(timings, 0.50), percentile(timings, 0.95)


def main():
    for program in ("kestro-dl", "KestroMCP"):
        if not os.path.exists(os.path.join(HELPERS, program)):
            sys.exit(f"build {program} first (cmake --build {BUILD})")
    results = {False: [], True: []}
    for _ in range(ROUNDS):
        for poll_only in (False, True):
            scratch = tempfile.mkdtemp(prefix="kestro-agent-bench-")
            try:
                p50, p95 = round_trips(poll_only, scratch)
            finally:
                shutil.rmtree(scratch, ignore_errors=True)
            results[poll_only].append((p50, p95))
            print(f"{'polling ' if poll_only else 'watching'}: p50 {p50:7.2f} ms  p95 {p95:7.2f} ms  ({CALLS} calls)")
    watch50 = statistics.median(r[0] for r in results[False])
    watch95 = statistics.median(r[1] for r in results[False])
    poll50 = statistics.median(r[0] for r in results[True])
    poll95 = statistics.median(r[1] for r in results[True])
    print(f"median of {ROUNDS} rounds: watching p50 {watch50:.2f} ms, p95 {watch95:.2f} ms; "
          f"polling p50 {poll50:.2f} ms, p95 {poll95:.2f} ms; "
          f"polling/watching p50 {poll50 / watch50:.1f}x, p95 {poll95 / watch95:.1f}x")


if __name__ == "__main__":
    main()
