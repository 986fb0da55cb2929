"""A private Wine prefix on an Xvfb screen of its own, for the window tests
under Wine: each test gets its own display, prefix and wine server, so it
neither sees nor stops another test's."""
import os
import shutil
import signal
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from xvfb_display import start_xvfb  # noqa: E402

LOADER = "/usr/lib/wine/wine64" if os.access("/usr/lib/wine/wine64", os.X_OK) else "wine"
# As in scripts/wine-run: without address randomisation no brk heap lands where
# Wine maps its shared user data.
NO_ASLR = ["setarch", os.uname().machine, "--addr-no-randomize"]


failures = []


def expect(ok, what):
    """Prints one check's outcome and keeps its text when it failed."""
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)
    return ok


def says_tool_missing(tools):
    """True, after printing the skip line, when one of `tools` is not installed."""
    tool = next((tool for tool in tools if not shutil.which(tool)), None)
    if tool:
        print(f"skip: {tool} is not installed (scripts/setup installs it)")
    return tool is not None


class WineSession:
    """`wrap` goes in front of every Wine command (for example `ip netns exec NAME`)."""

    def __init__(self, work, width, height, wrap=()):
        self.work = work
        self.wrap = list(wrap)
        self.xvfb, self.display = start_xvfb(width, height)
        self.prefix = os.path.join(work, "wineprefix")
        shutil.rmtree(self.prefix, ignore_errors=True)
        os.makedirs(self.prefix)
        self.env = dict(os.environ, DISPLAY=f":{self.display}", WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEARCH="win64")
        # Every Wine command gets the display: the first one starts Wine's desktop with it.
        self.run("wineboot", "--init")
        # Without a window manager an unmanaged window closes without Wine's two-second wait.
        self.reg_add(r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "N")

    def command(self, *args):
        return self.wrap + NO_ASLR + [LOADER, *args]

    def run(self, *args):
        subprocess.run(self.command(*args), env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def reg_add(self, key, name, kind, value):
        self.run("reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f")

    def stop_server(self):
        subprocess.run(self.wrap + ["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)

    def close(self):
        self.stop_server()
        self.xvfb.send_signal(signal.SIGTERM)
        self.xvfb.wait()
        shutil.rmtree(self.prefix, ignore_errors=True)
