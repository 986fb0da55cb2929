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
import shutil
import signal
import subprocess
import sys
import time

failures = []


def expect(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def wine_reg(inside, loader, env, key, name, kind, value):
    subprocess.run(inside + [loader, "reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f"], env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def open_and_close(args, inside, loader, env, dpi):
    """One run of the program at a display scale of dpi / 96."""
    scale = dpi / 96
    program = subprocess.Popen(inside + [loader, args.exe, "--no-tap"], env=env)
    try:
        window = None
        deadline = time.time() + 60
        while time.time() < deadline and not window:
            found = subprocess.run(["xdotool", "search", "--name", "Tarvo Enterprise Client"], env=env,
                                   capture_output=True, text=True).stdout.split()
            window = found[0] if found else None
            time.sleep(0.2)
        expect(window is not None, f"{dpi} dpi: the window opens")
        if not window:
            return
        time.sleep(4)  # first frames: sizing, then the fonts for the settled size
        shot = os.path.join(args.work, f"wine-window-{dpi}dpi.png")
        xwd = subprocess.run(["xwd", "-silent", "-root"], env=env, capture_output=True, check=True).stdout
        subprocess.run(["convert", "xwd:-", shot], input=xwd, check=True)
        info = subprocess.run(["xwininfo", "-id", window], env=env, capture_output=True, text=True).stdout
        sizes = dict(line.strip().split(": ", 1) for line in info.splitlines()
                     if line.strip().startswith(("Width", "Height")))
        frame_w = int(sizes.get("Width", 0)) - round(780 * scale)
        frame_h = int(sizes.get("Height", 0)) - round(810 * scale)
        # The outer window is Wine's own frame around the inner area (760 x 690 points before sizing).
        expect(0 <= frame_w < 30 and 0 <= frame_h < 60,
               f"{dpi} dpi: first-frame sizing to an inner 780 x 810 points ({sizes})")
        histogram = subprocess.run(["convert", shot, "-format", "%c", "histogram:info:-"], capture_output=True,
                                   text=True).stdout.replace(" ", "")
        expect("(11,17,32)" in histogram, f"{dpi} dpi: the panel's fill (11, 17, 32) is drawn")
        expect("(16,185,129)" in histogram, f"{dpi} dpi: the power-on button's green (16, 185, 129) is drawn")
        print(f"screenshot: {shot}")

        subprocess.run(["xdotool", "windowfocus", window], env=env)
        subprocess.run(["xdotool", "key", "--window", window, "alt+F4"], env=env)
        try:
            program.wait(timeout=20)
            expect(program.returncode == 0, f"{dpi} dpi: the program ends with exit code 0 when its window closes")
        except subprocess.TimeoutExpired:
            expect(False, f"{dpi} dpi: the program ends when its window closes")
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    for tool in ("Xvfb", "xdotool", "xwd", "convert", "ip"):
        if not shutil.which(tool):
            print(f"skip: {tool} is not installed (scripts/setup installs it)")
            return 77
    if os.geteuid() != 0:
        print("skip: the program runs in a network namespace of its own, which needs root")
        return 77
    loader = "/usr/lib/wine/wine64" if os.access("/usr/lib/wine/wine64", os.X_OK) else "wine"

    display = next(n for n in range(400, 600) if not os.path.exists(f"/tmp/.X{n}-lock"))
    namespace = f"tarvo-wine-window-{os.getpid()}"
    prefix = os.path.join(args.work, "wineprefix")
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(prefix)
    env = dict(os.environ, DISPLAY=f":{display}", WINEPREFIX=prefix, WINEDEBUG="-all", WINEARCH="win64")
    inside = ["ip", "netns", "exec", namespace]

    xvfb = subprocess.Popen(["Xvfb", f":{display}", "-screen", "0", "2880x1620x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["ip", "netns", "add", namespace], check=True)
    try:
        # Every Wine command gets the display: the first one starts Wine's desktop with it.
        subprocess.run(inside + ["wineboot", "--init"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Without a window manager an unmanaged window closes without Wine's two-second wait.
        wine_reg(inside, loader, env, r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "N")
        for dpi in (96, 144):
            wine_reg(inside, loader, env, r"HKCU\Control Panel\Desktop", "LogPixels", "REG_DWORD", str(dpi))
            subprocess.run(inside + ["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
            open_and_close(args, inside, loader, env, dpi)
    finally:
        subprocess.run(inside + ["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        subprocess.run(["ip", "netns", "delete", namespace])
        xvfb.send_signal(signal.SIGTERM)
        xvfb.wait()
        shutil.rmtree(prefix, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
