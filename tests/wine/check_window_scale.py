#!/usr/bin/env python3
"""The window on both of its renderers and through changes of scale, under
Wine and Xvfb (Mesa's software OpenGL).

  check_window_scale.py --probe <window_scale_probe.exe> --work <folder>

Two runs of the probe (window_scale_probe.cpp, the start look): one with
OpenGL as the driver offers it (4.5, the OpenGL 3 renderer) and one with
Mesa offering only OpenGL 1.1, as Microsoft's software renderer does (the
OpenGL 2 fallback). Each run draws at 96 dpi, is sent WM_DPICHANGED for
144 dpi and then for 96 again; after each the window must have taken the
suggested rectangle and drawn at the new scale, checked at pixels of known
colour and by the title's text. The screenshots stay in --work. Exit code 77 means skipped.
"""
import argparse
import os
import queue
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True  # no cache files in the source tree
from wine_session import WineSession, expect, failures, says_tool_missing  # noqa: E402

GREEN, SLATE, PANEL, DARK = (16, 185, 129), (100, 116, 139), (11, 17, 32), (13, 20, 36)
# The start look in points (as in the linux screenshot checks, at 780 x 810).
KNOWN_PIXELS = [((4, 4), PANEL, "panel fill"), ((52, 258), GREEN, "power-on button fill"),
                ((405, 258), DARK, "power-off button fill, dark"), ((51, 367), SLATE, "first card's OFFLINE dot"),
                ((299, 367), SLATE, "second card's OFFLINE dot"), ((547, 367), SLATE, "third card's OFFLINE dot")]
# The title "Tarvo Enterprise Client" in (248, 250, 252): its box in points and
# how many pixels of that colour it holds at the least, per point squared (96 at 96 dpi).
TITLE_BOX, SNOW, TITLE_PIXELS_PER_POINT2 = (130, 38, 350, 62), (248, 250, 252), 40
RUNS = [("opengl3", {}, "imgui_impl_opengl3", lambda gl: int(gl.split(".")[0]) >= 3),
        ("opengl2", {"MESA_GL_VERSION_OVERRIDE": "1.1"}, "imgui_impl_opengl2", lambda gl: gl.startswith("1.1"))]
WAIT = 60  # seconds for any one condition; Wine's first start and software OpenGL are slow under load



class Drawn:
    """One "drawn" report of the probe."""

    def __init__(self, line):
        words = line.split()
        self.width, self.height = map(int, words[1].split("x"))
        self.x, self.y = map(int, words[3].split(","))
        self.scale = float(words[5])
        self.renderer = words[7]
        self.gl = " ".join(words[9:])


class Probe:
    def __init__(self, session, exe, extra_env):
        self.session = session
        self.proc = subprocess.Popen(session.command(exe), env=dict(session.env, **extra_env), text=True,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.lines = queue.Queue()
        self.last_line = "(nothing yet)"
        self.drawn = None
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line.strip())
        self.lines.put(None)

    def await_line(self, wanted, what):
        """The next line for which wanted(line) holds, within WAIT seconds."""
        start = time.time()
        while time.time() - start < WAIT:
            try:
                line = self.lines.get(timeout=0.5)
            except queue.Empty:
                continue
            if line is None:
                break
            self.last_line = line
            if line.startswith("drawn "):
                self.drawn = Drawn(line)
            if wanted(line):
                return line
        expect(False, f"awaited {what} for {time.time() - start:.0f} s; last line from the probe: {self.last_line}")
        return None

    def await_drawn(self, scale, what):
        line = self.await_line(lambda l: l.startswith("drawn ") and Drawn(l).scale == scale, what)
        return Drawn(line) if line else None

    def send(self, text):
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()

    def end(self):
        try:
            self.proc.stdin.close()
            self.proc.wait(timeout=WAIT)
            expect(self.proc.returncode == 0, f"the probe ends with exit code 0 when its window closes "
                                              f"({self.proc.returncode})")
        except (subprocess.TimeoutExpired, BrokenPipeError):
            expect(False, f"the probe ends within {WAIT} s of its window being closed")
        finally:
            if self.proc.poll() is None:
                self.proc.kill()
                self.proc.wait()


def client_pixels(session, drawn):
    """The client area as it is on the screen now: (width, RGB bytes)."""
    xwd = subprocess.run(["xwd", "-silent", "-root"], env=session.env, capture_output=True, check=True).stdout
    crop = f"{drawn.width}x{drawn.height}+{drawn.x}+{drawn.y}"
    rgb = subprocess.run(["convert", "xwd:-", "-crop", crop, "+repage", "-depth", "8", "rgb:-"], input=xwd,
                         capture_output=True, check=True).stdout
    return xwd, rgb


def window_rect(session):
    info = subprocess.run(["xwininfo", "-name", "Tarvo Enterprise Client"], env=session.env, capture_output=True,
                          text=True).stdout
    fields = dict(line.strip().split(": ", 1) for line in info.splitlines() if ": " in line)
    try:
        x, y = int(fields["Absolute upper-left X"]), int(fields["Absolute upper-left Y"])
        return x, y, x + int(fields["Width"]), y + int(fields["Height"])
    except (KeyError, ValueError):
        return None


def check_drawn(session, probe, name, scale, suggested=None):
    """Waits until the window has the suggested rectangle and the pixels of
    the start look at `scale`; keeps the last screenshot."""
    start = time.time()
    while True:
        drawn = probe.drawn
        # The pointer rests on the panel's margin: anywhere else it may hover a button and change its colour.
        subprocess.run(["xdotool", "mousemove", str(drawn.x + 2), str(drawn.y + 2)], env=session.env, check=True)
        seen = []
        if suggested:
            rect = window_rect(session)
            seen.append((rect == suggested, f"window rectangle {rect}, suggested {suggested}"))
        xwd, rgb = client_pixels(session, drawn)
        for (px, py), colour, what in KNOWN_PIXELS:
            x, y = round(px * scale), round(py * scale)
            i = (y * drawn.width + x) * 3
            got = tuple(rgb[i:i + 3])
            seen.append((got == colour, f"{what} {colour} at ({x}, {y}): {got}"))
        x0, y0, x1, y1 = (round(v * scale) for v in TITLE_BOX)
        title = sum(1 for y in range(y0, y1) for x in range(x0, x1)
                    if tuple(rgb[(y * drawn.width + x) * 3:(y * drawn.width + x) * 3 + 3]) == SNOW)
        least = round(TITLE_PIXELS_PER_POINT2 * scale * scale)
        seen.append((title >= least, f"title text drawn: {title} pixels of {SNOW}, at least {least}"))
        if all(ok for ok, _ in seen) or time.time() - start > WAIT:
            break
        time.sleep(0.2)
    shot = os.path.join(probe.session.work, f"{name}.png")
    crop = f"{drawn.width}x{drawn.height}+{drawn.x}+{drawn.y}"
    subprocess.run(["convert", "xwd:-", "-crop", crop, "+repage", shot], input=xwd, check=True)
    waited = f" (waited {time.time() - start:.0f} s)" if not all(ok for ok, _ in seen) else ""
    for ok, what in seen:
        expect(ok, f"{name}: {what}{waited}")
    print(f"screenshot: {shot}")


def run_probe(session, exe, name, extra_env, renderer, gl_ok):
    probe = Probe(session, exe, extra_env)
    try:
        # The first-frame sizing on a 2880 x 1620 screen at 96 dpi.
        drawn = probe.await_line(lambda l: l.startswith("drawn 780x810 "), f"{name}: a frame drawn at 780 x 810")
        if not drawn:
            return
        drawn = Drawn(drawn)
        expect(drawn.renderer == renderer and gl_ok(drawn.gl),
               f"{name}: renderer {drawn.renderer} on OpenGL {drawn.gl}, expected {renderer}")
        check_drawn(session, probe, f"{name}-96dpi", 1.0)
        for dpi in (144, 96):
            probe.send(f"dpi {dpi}")
            line = probe.await_line(lambda l: l.startswith("suggested "), f"{name}: the probe's WM_DPICHANGED")
            if not line:
                return
            suggested = tuple(int(v) for v in line.split()[1].split(","))
            if not probe.await_drawn(dpi / 96, f"{name}: a frame drawn at scale {dpi / 96:g} after WM_DPICHANGED"):
                return
            check_drawn(session, probe, f"{name}-{dpi}dpi-after-change", dpi / 96, suggested)
    finally:
        probe.end()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    if says_tool_missing(("Xvfb", "xdotool", "xwd", "xwininfo", "convert")):
        return 77
    os.makedirs(args.work, exist_ok=True)
    session = WineSession(args.work, 2880, 1620)
    try:
        for name, extra_env, renderer, gl_ok in RUNS:
            run_probe(session, args.probe, name, extra_env, renderer, gl_ok)
    finally:
        session.close()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
