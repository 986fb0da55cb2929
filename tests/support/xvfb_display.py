"""Xvfb on a display number it picks itself.

A number chosen from the free lock files in /tmp can be chosen at the same
moment by another test starting its own server; the second server then fails,
its test draws on the first one's screen and loses it when that test ends.
With -displayfd the server takes a free number under its own lock and says
which once it accepts connections.
"""
import os
import select
import subprocess
import time


def start_xvfb(width, height, extra=(), limit=60):
    """Returns (process, display number); raises RuntimeError when the server
    says no number within `limit` seconds."""
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
                             "-nolisten", "tcp", *extra],
                            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    said = b""
    deadline = time.monotonic() + limit
    try:
        while not said.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([read_end], [], [], left)[0]:
                break
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            said += chunk
    finally:
        os.close(read_end)
    if not said.strip().isdigit():
        proc.kill()
        proc.wait()
        raise RuntimeError(f"Xvfb said no display number within {limit} s (said {said!r})")
    return proc, int(said)
