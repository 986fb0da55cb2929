#!/usr/bin/env python3
"""The Windows program's window under Wine and Xvfb: it opens through WGL and
the OpenGL 3 renderer, sizes itself at its first frame, draws the panel with
the fonts it carries, and ends when the window is closed (Alt+F4).

  check_window.py --exe <TarvoClient.exe> --work <folder>

The program runs inside a network namespace of its own (root only), so its
status check reaches nothing outside it. Exit code 77 means skipped.
"""
import argparse
import os
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no cache files in the source tree
from wine_session import WineSession, expect, failures, says_tool_missing  # noqa: E402

WAIT = 60  # seconds for any one condition; Wine's first start and software OpenGL are slow under load


def window_state(env, window, scale, shot):
    """What the window shows now: its outer size against the sized inner area
    (Wine's own frame around it) and whether the two colours are drawn."""
    info = subprocess.run(["xwininfo", "-id", window], env=env, capture_output=True, text=True).stdout
    sizes = dict(map(str.strip, line.split(": ", 1)) for line in info.splitlines()
                 if line.strip().startswith(("Width", "Height", "Absolute")))
    # The screen cut to the window: xwd cannot read a window that is not mapped yet.
    crop = "{}x{}+{}+{}".format(*(sizes.get(k, "0") for k in ("Width", "Height", "Absolute upper-left X",
                                                              "Absolute upper-left Y")))
    xwd = subprocess.run(["xwd", "-silent", "-root"], env=env, capture_output=True, check=True).stdout
    subprocess.run(["convert", "xwd:-", "-crop", crop, "+repage", shot], input=xwd, check=True)
    frame_w = int(sizes.get("Width", 0)) - round(780 * scale)
    frame_h = int(sizes.get("Height", 0)) - round(810 * scale)
    histogram = subprocess.run(["convert", shot, "-format", "%c", "histogram:info:-"], capture_output=True,
                               text=True).stdout.replace(" ", "")
    # The inner area is 760 x 690 points before the first-frame sizing.
    return [(0 <= frame_w < 30 and 0 <= frame_h < 60, f"first-frame sizing to an inner 780 x 810 points ({sizes})"),
            ("(11,17,32)" in histogram, "the panel's fill (11, 17, 32) is drawn"),
            ("(16,185,129)" in histogram, "the power-on button's green (16, 185, 129) is drawn")]


def open_and_close(args, session, dpi):
    """One run of the program at a display scale of dpi / 96."""
    env = session.env
    program = subprocess.Popen(session.command(args.exe, "--no-tap"), env=env)
    try:
        window = None
        start = time.time()
        while time.time() - start < WAIT and not window:
            found = subprocess.run(["xdotool", "search", "--name", "Tarvo Enterprise Client"], env=env,
                                   capture_output=True, text=True).stdout.split()
            window = found[0] if found else None
            time.sleep(0.2)
        expect(window is not None, f"{dpi} dpi: the window opens (waited {time.time() - start:.0f} s)")
        if not window:
            return
        # First frames: the sizing, then the fonts for the settled size.
        shot = os.path.join(args.work, f"wine-window-{dpi}dpi.png")
        start = time.time()
        while True:
            seen = window_state(env, window, dpi / 96, shot)
            if all(ok for ok, _ in seen) or time.time() - start > WAIT:
                break
            time.sleep(0.2)
        for ok, what in seen:
            expect(ok, f"{dpi} dpi: {what}" + ("" if ok else f" (waited {time.time() - start:.0f} s)"))
        print(f"screenshot: {shot}")

        subprocess.run(["xdotool", "windowfocus", window], env=env)
        subprocess.run(["xdotool", "key", "--window", window, "alt+F4"], env=env)
        try:
            program.wait(timeout=WAIT)
            expect(program.returncode == 0, f"{dpi} dpi: the program ends with exit code 0 when its window closes")
        except subprocess.TimeoutExpired:
            expect(False, f"{dpi} dpi: the program ends within {WAIT} s of its window being closed")
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    if says_tool_missing(("Xvfb", "xdotool", "xwd", "convert", "ip")):
        return 77
    if os.geteuid() != 0:
        print("skip: the program runs in a network namespace of its own, which needs root")
        return 77

    namespace = f"tarvo-wine-window-{os.getpid()}"
    subprocess.run(["ip", "netns", "add", namespace], check=True)
    try:
        session = WineSession(args.work, 2880, 1620, wrap=["ip", "netns", "exec", namespace])
        try:
            for dpi in (96, 144):
                session.reg_add(r"HKCU\Control Panel\Desktop", "LogPixels", "REG_DWORD", str(dpi))
                session.stop_server()
                open_and_close(args, session, dpi)
        finally:
            session.close()
    finally:
        subprocess.run(["ip", "netns", "delete", namespace])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
