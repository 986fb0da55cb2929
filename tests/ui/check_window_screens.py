#!/usr/bin/env python3
"""The real window under Xvfb (Mesa's software OpenGL): screenshots of a few
states checked at known pixels, and clicks through the real program.

  check_window_screens.py --states <window_states> --client <TarvoClient> --out <folder>
                          --orchestrator <tarvo_sim_orchestrator> --orchestrator-host <name>
                          [--patience <seconds>]

Every screenshot is kept in --out for people to look at. The click test runs
the program inside a network namespace of its own (root only) with the test
orchestrator on its loopback, so nothing it sends leaves the namespace. Exit code 77 means skipped.

Nothing waits for a fixed time: a state's screenshot is taken once
window_states says its window has settled at the expected size, and each
click's effect (pixels, client.json) is polled for, each wait bounded by
--patience seconds (longer in the sanitizer builds).
"""
import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from xvfb_display import start_xvfb  # noqa: E402

FONTS = "/usr/share/fonts/truetype/dejavu"
PATIENCE = 45.0  # seconds; --patience


class WaitFailed(Exception):
    pass


def wait_for(awaited, look, holds=bool, interval=0.1):
    """Calls look() until holds(what it returned), at most PATIENCE seconds;
    returns what it saw, or raises WaitFailed naming what was awaited, what
    was seen last and how long it waited."""
    start = time.monotonic()
    while True:
        seen = look()
        if holds(seen):
            return seen
        waited = time.monotonic() - start
        if waited >= PATIENCE:
            raise WaitFailed(f"waited {waited:.1f} s for {awaited}; last seen: {describe(seen)}")
        time.sleep(interval)


def describe(seen):
    if isinstance(seen, Picture):
        return f"a {seen.width} x {seen.height} screenshot"
    return repr(seen)


def ended(proc):
    """Raises WaitFailed once the program under test has ended: whatever was
    awaited of it will not come."""
    if proc.poll() is not None:
        raise WaitFailed(f"{' '.join(os.path.basename(a) for a in proc.args)} ended with exit code {proc.returncode}")


def passed(what):
    print("ok   " + what)


class Lines:
    """The lines a process prints, collected as they come."""

    def __init__(self, stream):
        self.lines = []
        self._thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self._thread.start()

    def _read(self, stream):
        for line in stream:
            self.lines.append(line.rstrip("\n"))

    def last(self):
        return self.lines[-1] if self.lines else None


class Screen:
    """One Xvfb server of the given size."""

    def __init__(self, width, height, dpi=96):
        self.proc, self.display = start_xvfb(width, height, ["-noreset"])
        self.env = dict(os.environ, DISPLAY=f":{self.display}")
        # GLFW takes the window's content scale from Xft.dpi (kept: -noreset).
        subprocess.run(["xprop", "-root", "-format", "RESOURCE_MANAGER", "8s", "-set", "RESOURCE_MANAGER",
                        f"Xft.dpi:\t{dpi}\n"], env=self.env, check=True)

    def close(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait()

    def window_id(self, proc):
        """The window of process `proc`: a window left by an earlier process
        may still be listed under the same name."""
        def look():
            ended(proc)
            return subprocess.run(["xdotool", "search", "--all", "--pid", str(proc.pid), "--name",
                                   "Tarvo Enterprise Client"], env=self.env, capture_output=True, text=True).stdout.split()
        return wait_for(f"a window named Tarvo Enterprise Client of process {proc.pid}", look)[0]

    def shot(self, window, path):
        """A screenshot of the window (kept at `path`), or the error text of
        the tool that could not take it."""
        xwd = subprocess.run(["xwd", "-silent", "-id", window], env=self.env, capture_output=True)
        if xwd.returncode != 0:
            return f"xwd: {xwd.stderr.decode(errors='replace').strip()} (exit code {xwd.returncode})"
        ppm = subprocess.run(["convert", "xwd:-", "-write", path, "ppm:-"], input=xwd.stdout, capture_output=True,
                             check=True).stdout
        return Picture(ppm)

    def shot_when(self, proc, window, path, awaited, holds):
        """Screenshots of process `proc`'s window until one satisfies `holds`."""
        return wait_for(awaited, lambda: ended(proc) or self.shot(window, path),
                        lambda pic: isinstance(pic, Picture) and holds(pic))

    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], env=self.env, check=True)


class Picture:
    def __init__(self, ppm):
        fields, at = [], 0
        while len(fields) < 4:  # magic, width, height, maximum; comments skipped
            while ppm[at:at + 1].isspace():
                at += 1
            if ppm[at:at + 1] == b"#":
                at = ppm.index(b"\n", at) + 1
                continue
            end = at
            while not ppm[end:end + 1].isspace():
                end += 1
            fields.append(ppm[at:end])
            at = end
        assert fields[0] == b"P6" and fields[3] == b"255"
        self.width, self.height = int(fields[1]), int(fields[2])
        self.data = ppm[at + 1:]

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def has_near(self, colour, box, tolerance=14):
        x0, y0, x1, y1 = box
        for y in range(y0, y1):
            for x in range(x0, x1):
                if all(abs(a - b) <= tolerance for a, b in zip(self.at(x, y), colour)):
                    return True
        return False


def host_root():
    root = tempfile.mkdtemp(prefix="tarvo-window-")
    fonts = os.path.join(root, "C", "Windows", "Fonts")
    os.makedirs(fonts)
    shutil.copy(os.path.join(FONTS, "DejaVuSans.ttf"), os.path.join(fonts, "segoeui.ttf"))
    shutil.copy(os.path.join(FONTS, "DejaVuSansMono.ttf"), os.path.join(fonts, "consola.ttf"))
    appdata = os.path.join(root, "C", "Users", "demo", "AppData", "Roaming")
    os.makedirs(appdata)
    return root, appdata


GREEN, AMBER, RED, SLATE, CYAN = (16, 185, 129), (245, 158, 11), (239, 68, 68), (100, 116, 139), (6, 182, 212)
EDGE, SECTION_FILL = (45, 62, 90), (22, 32, 50)
failures = []


def expect(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


# Window coordinates at 780 x 810 (a 1920 x 1080 screen): margin 24, no scaling.
CARD_DOTS = [(51, 367), (299, 367), (547, 367)]  # each card's dot, clear of its highlight
BADGE = (570, 40, 736, 70)
POWER_ON_FILL, POWER_OFF_FILL = (52, 258), (405, 258)
TOGGLE_FILL = (580, 84)


def state_checks(name, pic):
    expect((pic.width, pic.height) == (780, 810), f"{name}: inner size 780 x 810 on a 1920 x 1080 screen")
    expect(pic.at(4, 4) == (11, 17, 32), f"{name}: panel fill (11, 17, 32)")
    expect(pic.at(*POWER_ON_FILL) == GREEN, f"{name}: power-on button fill")
    if name == "start":
        expect(pic.at(*POWER_OFF_FILL) == (13, 20, 36), f"{name}: power-off button dark")
        expect(pic.has_near(SLATE, BADGE), f"{name}: slate accent in the badge")
        expect(all(pic.at(*d) == SLATE for d in CARD_DOTS), f"{name}: three OFFLINE dots")
    if name == "connected":
        expect(pic.at(*POWER_OFF_FILL) == (153, 27, 27), f"{name}: power-off button red")
        expect(pic.has_near(GREEN, BADGE), f"{name}: green accent in the badge")
        expect(all(pic.at(*d) == GREEN for d in CARD_DOTS), f"{name}: three ONLINE dots")
        expect(pic.at(*TOGGLE_FILL) == (13, 20, 36), f"{name}: automatic mode toggle dark")
        expect([pic.at(x, 530) for x in (389, 390, 391)] == [SECTION_FILL, EDGE, SECTION_FILL],
               f"{name}: telemetry divider one pixel wide at the section's middle")
    if name == "forced":
        expect(pic.has_near(AMBER, BADGE), f"{name}: amber accent in the badge")
        expect(pic.at(*TOGGLE_FILL) == AMBER, f"{name}: forced mode toggle amber")
        expect(pic.at(*CARD_DOTS[2]) == SLATE, f"{name}: bridge card OFFLINE")
    if name == "refused":
        expect(pic.has_near(RED, BADGE), f"{name}: red accent in the badge")
        expect(pic.at(*CARD_DOTS[0]) == GREEN, f"{name}: orchestrator card ONLINE (online wins over standby)")
        expect(pic.at(*CARD_DOTS[1]) == AMBER, f"{name}: tunnel card STANDBY")
    if name == "full-log":
        # The scroll bar's grab, in the border colour, at the bottom of its track: the newest row shows.
        expect(pic.has_near(EDGE, (721, 745, 726, 758), tolerance=2)
               and not pic.has_near(EDGE, (721, 640, 726, 740), tolerance=2), f"{name}: log scrolled to its end")
    if name == "editing":
        expect(pic.has_near(CYAN, (43, 200, 47, 225), tolerance=40), f"{name}: key box border cyan")


def run_states(args):
    root, _ = host_root()
    for screen_size, dpi, names in (((1920, 1080), 96, ["start", "connected", "forced", "refused", "editing", "full-log"]),
                                    ((640, 560), 96, ["narrow-short"]), ((2880, 1620), 144, ["scale-1.5"]),
                                    ((2400, 1350), 120, ["scale-1.25"])):
        screen = Screen(*screen_size, dpi)
        try:
            for name in names:
                look = {"narrow-short": "full-log", "scale-1.5": "connected", "scale-1.25": "connected"}.get(name, name)
                size = {"narrow-short": (620, 500), "scale-1.5": (1170, 1215), "scale-1.25": (975, 1013)}.get(name, (780, 810))
                proc = subprocess.Popen([args.states, look], env=dict(screen.env, TARVO_HOST_ROOT=root),
                                        stdout=subprocess.PIPE, text=True)
                said = Lines(proc.stdout)
                begun = time.monotonic()
                try:
                    window = screen.window_id(proc)
                    # The first frame asks for the settled size; the fonts follow it.
                    drawn = f"drawn {size[0]} {size[1]}"
                    wait_for(f"{name}: window_states saying \"{drawn}\"", lambda: ended(proc) or said.last(),
                             lambda line: line == drawn)
                    settled = time.monotonic()
                    pic = screen.shot_when(proc, window, os.path.join(args.out, f"window-{name}.png"),
                                           f"{name}: a screenshot of {size[0]} x {size[1]} pixels",
                                           lambda pic: (pic.width, pic.height) == size)
                    print(f"{name}: settled after {settled - begun:.1f} s, screenshot after {time.monotonic() - settled:.1f} s")
                    if name == "narrow-short":
                        passed(f"{name}: 620 x 500 on a 640 x 560 screen")
                    elif name == "scale-1.5":
                        passed(f"{name}: 780 x 810 points in 1170 x 1215 pixels")
                        expect(pic.at(78, 387) == GREEN, f"{name}: power-on fill where 1.5 x its points put it")
                        expect(pic.at(608, 387) == (153, 27, 27), f"{name}: power-off fill, connected")
                    elif name == "scale-1.25":
                        # 178 points of controls are 222.5 pixels: its bottom border still fills one pixel row.
                        expect(pic.at(200, 402) == EDGE, f"{name}: controls' bottom border on a whole pixel row")
                        expect([pic.at(x, 660) for x in (486, 487, 488)] == [SECTION_FILL, EDGE, SECTION_FILL],
                               f"{name}: telemetry divider one pixel wide")
                    else:
                        state_checks(name, pic)
                finally:
                    proc.terminate()
                    proc.wait()
        finally:
            screen.close()
    shutil.rmtree(root)


def read_json(path):
    """The file's JSON, or what stands in its way."""
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError) as e:
        return f"({type(e).__name__}: {e})"


REFUSED_PASS = {
    "node_id": 77, "name": "Serwis", "node_type": "pass", "pass_code": "PASS-48H-ABCD1234",
    "pass_status": "EXPIRED", "allow_l3": False, "project_enabled": True, "owner_active": True,
    "hub": {"endpoint": "192.0.2.1:51820", "server_public_key": "c2VydmVyLXB1YmxpYy1rZXktZm9yLXRlc3RzLTAwMDA=",
            "hub_wg_ip": "10.200.0.1"},
    "links": [],
}


def run_clicks(args):
    """The real program in a namespace of its own with the test orchestrator on
    its loopback under the program's fixed host name."""
    if os.geteuid() != 0:
        print("skip clicks: the program runs in a network namespace of its own, which needs root")
        return
    namespace = f"tarvo-window-{os.getpid()}"
    subprocess.run(["ip", "netns", "add", namespace], check=True)
    inside = ["ip", "netns", "exec", namespace]
    hosts_dir = f"/etc/netns/{namespace}"
    root, appdata = host_root()
    screen = Screen(1920, 1080)
    server = proc = None
    try:
        subprocess.run(inside + ["ip", "link", "set", "lo", "up"], check=True)
        os.makedirs(hosts_dir, exist_ok=True)
        with open(os.path.join(hosts_dir, "hosts"), "w") as f:
            f.write(f"127.0.0.1 localhost\n127.0.0.1 {args.orchestrator_host}\n")
        answer = os.path.join(root, "refused-pass.json")
        with open(answer, "w") as f:
            json.dump(REFUSED_PASS, f)
        server = subprocess.Popen(inside + [args.orchestrator, "--host", args.orchestrator_host, "--port", "443",
                                            "--sync", f"PASS-48H-ABCD1234={answer}"],
                                  stdout=subprocess.PIPE, text=True)
        printed = dict(server.stdout.readline().strip().split("=", 1) for _ in range(2))
        env = dict(screen.env, TARVO_HOST_ROOT=root, APPDATA=appdata, TARVO_TEST_CA_BUNDLE=printed["ca_bundle"])
        proc = subprocess.Popen(inside + [args.client, "--no-tap"], env=env)  # ip netns exec keeps its pid
        window = screen.window_id(proc)
        clicks = os.path.join(args.out, "window-click-key-box.png")
        # The program says nothing, so its pixels tell when it has settled:
        # the settled size, drawn to its corners, the power-on button drawn.
        screen.shot_when(proc, window, clicks, "the program's window drawn at 780 x 810 pixels",
                         lambda pic: (pic.width, pic.height) == (780, 810) and pic.at(4, 4) == (11, 17, 32)
                         and pic.at(775, 805) == (11, 17, 32) and pic.at(*POWER_ON_FILL) == GREEN)
        screen.xdotool("mousemove", "--window", window, "200", "212", "click", "1")  # key_box_click
        screen.shot_when(proc, window, clicks, "click on key_box_click opening the editor (cyan border)",
                         lambda pic: pic.has_near(CYAN, (43, 200, 47, 225), tolerance=40))
        passed("click on key_box_click opens the editor")
        screen.xdotool("type", "--delay", "40", "pass-48h-abcd 1234")
        screen.xdotool("mousemove", "--window", window, "150", "278", "click", "1")  # btn_power_on
        config = os.path.join(appdata, "TARVO", "client.json")
        wanted = {"DeviceCode": "PASS48HABCD1234", "AutoConnect": True, "ForceL3": False}
        wait_for(f"click on btn_power_on writing {config} with {wanted}", lambda: ended(proc) or read_json(config),
                 lambda seen: seen == wanted)
        passed(f"click on btn_power_on stores the key cleaned of dashes and blanks, with auto-connect: {wanted}")
        screen.shot_when(proc, window, os.path.join(args.out, "window-click-power-on.png"),
                         "the power-on's sync reaching the orchestrator: its refused pass in red in the badge",
                         lambda pic: pic.has_near(RED, BADGE))
        passed("the power-on's sync reached the orchestrator: its refused pass shows in red")
    finally:
        for p in (proc, server):
            if p and p.poll() is None:
                p.terminate()
                p.wait()
        screen.close()
        subprocess.run(["ip", "netns", "delete", namespace])
        shutil.rmtree(hosts_dir, ignore_errors=True)
        shutil.rmtree(root)


def main():
    global PATIENCE
    parser = argparse.ArgumentParser()
    parser.add_argument("--states", required=True)
    parser.add_argument("--client", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--orchestrator", required=True, help="the test orchestrator's server program")
    parser.add_argument("--orchestrator-host", required=True, help="the host name built into the program")
    parser.add_argument("--patience", type=float, default=PATIENCE, help="seconds any one wait may take")
    args = parser.parse_args()
    PATIENCE = args.patience
    for tool in ("Xvfb", "xdotool", "xwd", "xprop", "convert", "ip"):
        if not shutil.which(tool):
            print(f"skip: {tool} is not installed (scripts/setup installs it)")
            return 77
    os.makedirs(args.out, exist_ok=True)
    started = time.monotonic()
    try:
        run_states(args)
        run_clicks(args)
    except WaitFailed as e:
        expect(False, str(e))
    print(f"took {time.monotonic() - started:.1f} s (each wait at most {PATIENCE:.0f} s)")
    print(f"screenshots in {args.out}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
