#!/usr/bin/python3
"""Wall time of one KestroBridge run, from start to the reply read back, for a ping and for a
valid transfer of exactly 1 MiB (stored in a scratch inbox; the opener is /bin/true through
KESTRO_OPEN_COMMAND). The host is copied into a scratch bundle; runs alternate; prints medians.

usage: /usr/bin/python3 bench/bridge_host.py [BUILD_DIR] [RUNS]
"""

import json
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release")
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 20
HOST = os.path.join(BUILD, "brisvane-download", "Contents", "Helpers", "KestroBridge")
MIB = 1 << 20


def transfer_of_size(size):
    transfer = {
        "url": "https://video.example.com/watch?v=1",
        "page": "https://video.example.com/page",
        "title": "A clip",
        "session": {
            "cookies": [{"name": "sid", "value": "abc123", "domain": ".example.com", "path": "/",
                         "secure": True, "hostOnly": False}],
            "requests": [{"url": "https://video.example.com/watch?v=1",
                          "headers": {"Referer": "https://video.example.com/page"}}],
        },
        "pad": "",
    }
    text = json.dumps(transfer, separators=(",", ":")).encode()
    transfer["pad"] = "p" * (size - len(text))
    text = json.dumps(transfer, separators=(",", ":")).encode()
    assert len(text) == size
    return text


def framed(message):
    return struct.pack("=I", len(message)) + message


def run_once(host, env, request, expected):
    start = time.perf_counter()
    done = subprocess.run([host], input=request, stdout=subprocess.PIPE, env=env, check=True)
    elapsed = time.perf_counter() - start
    if done.stdout != expected:
        sys.exit(f"unexpected reply: {done.stdout[:80]!r}")
    return elapsed


def main():
    if not os.path.exists(HOST):
        sys.exit(f"{HOST} not found: build the KestroBridge target first")
    scratch = tempfile.mkdtemp(prefix="bridge-bench-")
    try:
        helpers = os.path.join(scratch, "bundle", "Contents", "Helpers")
        os.makedirs(helpers)
        host = os.path.join(helpers, "KestroBridge")
        shutil.copy2(HOST, host)
        env = dict(os.environ)
        env.update(HOME=scratch, XDG_DATA_HOME=os.path.join(scratch, "data"),
                   XDG_CONFIG_HOME=os.path.join(scratch, "config"), KESTRO_OPEN_COMMAND="/bin/true")
        inbox = os.path.join(scratch, "data", "Kestro", "BrowserInbox")
        ping = framed(b'{"type":"ping"}')
        transfer = framed(transfer_of_size(MIB))
        ping_reply = framed(b'{"ok":true,"version":"1.4.0"}')
        ok_reply = framed(b'{"ok":true}')
        run_once(host, env, ping, ping_reply)  # warm the page cache
        pings, transfers = [], []
        for _ in range(RUNS):
            pings.append(run_once(host, env, ping, ping_reply))
            transfers.append(run_once(host, env, transfer, ok_reply))
            for name in os.listdir(inbox):
                os.unlink(os.path.join(inbox, name))
        for label, times in (("ping", pings), ("1 MiB transfer", transfers)):
            print(f"{label}: median {statistics.median(times) * 1000:.2f} ms, "
                  f"min {min(times) * 1000:.2f} ms, max {max(times) * 1000:.2f} ms ({RUNS} runs)")
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
