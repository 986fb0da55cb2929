"""The process that takes the simulated SD-WAN launcher's signals (root).

run-sim execs this once its options are checked. A signal only records that
the run must end: SIGINT or SIGTERM write one line to the run's control pipe
and nothing else. The run itself (run-sim again, as a bash worker) goes on in
a session of its own, so neither a Ctrl-C at the terminal nor a signal for
this process reaches it or the commands it is in the middle of; it reads the
pipe between its steps and while it waits, and tears down once, from its own
flow. Bash runs a trap where it happens to be, even halfway through reading a
command, which is why no bash process takes these signals.

It also takes the lock that every run holds, and which namespace tests share
(the client's adapter name is one for the whole machine), in a folder that
only root may write: a local user cannot plant a link where root opens files.
"""

import os
import signal

# First, before anything slower: from here on a signal ends the run cleanly.
_ended = False
_control_write = None


def _record(_signum, _frame):
    global _ended
    if _ended:
        return  # already told
    _ended = True
    if _control_write is not None:
        try:
            os.write(_control_write, b"end\n")
        except OSError:
            pass  # the worker is gone already


signal.signal(signal.SIGINT, _record)
signal.signal(signal.SIGTERM, _record)

import errno  # noqa: E402
import fcntl  # noqa: E402
import stat  # noqa: E402
import subprocess  # noqa: E402
import sys  # noqa: E402
import time  # noqa: E402

# Locks and state of the project's root test tooling; the C++ tests name the
# same folder in tests/support/adapter_lock.h.
LAB_FOLDER = "/run/tarvo-lab"
LOCK_NAME = "adapter.lock"


class Refused(Exception):
    """A lab folder or lock file that root must not trust."""


def open_lab_folder(folder):
    """The folder, opened; made with mode 0700 when missing. Refuses a symbolic
    link, anything but a folder, and a folder that is not root's or that
    others may write."""
    try:
        os.mkdir(folder, 0o700)
    except FileExistsError:
        pass
    try:
        fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW | os.O_CLOEXEC)
    except OSError as error:
        if error.errno in (errno.ELOOP, errno.ENOTDIR):
            raise Refused(f"{folder} is a symbolic link or not a folder: refused") from None
        raise Refused(f"{folder} cannot be opened ({error.strerror})") from None
    info = os.fstat(fd)
    if info.st_uid != 0:
        os.close(fd)
        raise Refused(f"{folder} belongs to uid {info.st_uid}, not root: refused")
    if info.st_mode & (stat.S_IWGRP | stat.S_IWOTH):
        os.close(fd)
        raise Refused(f"{folder} may be written by others than root (mode {stat.S_IMODE(info.st_mode):04o}): refused")
    return fd


def open_lock(folder):
    """The lock file in the folder, opened without following a link."""
    folder_fd = open_lab_folder(folder)
    path = os.path.join(folder, LOCK_NAME)
    try:
        fd = os.open(LOCK_NAME, os.O_RDWR | os.O_CREAT | os.O_NOFOLLOW | os.O_CLOEXEC, 0o600, dir_fd=folder_fd)
    except OSError as error:
        if error.errno == errno.ELOOP:
            raise Refused(f"{path} is a symbolic link: refused") from None
        raise Refused(f"{path} cannot be opened ({error.strerror})") from None
    finally:
        os.close(folder_fd)
    if not stat.S_ISREG(os.fstat(fd).st_mode):
        os.close(fd)
        raise Refused(f"{path} is not a regular file: refused")
    return fd


def high_fd(fd):
    """`fd` moved to a number of 10 or above."""
    if fd >= 10:
        return fd
    moved = fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10)
    os.close(fd)
    return moved


def take_lock(fd, path):
    """True once held; False when the run must end first."""
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        return True
    except BlockingIOError:
        pass
    print(f"== waiting for another simulated network or tunnel test to end (lock {path})", flush=True)
    while not _ended:
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return True
        except BlockingIOError:
            time.sleep(0.1)
    return False


def main(worker):
    global _control_write
    try:
        lock = open_lock(LAB_FOLDER)
    except Refused as refusal:
        print(f"run-sim: {refusal}", file=sys.stderr, flush=True)
        return 1
    if not take_lock(lock, os.path.join(LAB_FOLDER, LOCK_NAME)):
        return 0  # ended while waiting: nothing was made
    control_read, control_write = os.pipe()
    # Above the numbers a shell script names in its own redirections (such as
    # Xvfb's "5>"), which closing these in the run's children would undo.
    control_read = high_fd(control_read)
    lock = high_fd(lock)
    os.set_inheritable(control_read, True)
    os.set_inheritable(lock, True)
    env = dict(os.environ, SIM_CONTROL_FD=str(control_read), SIM_LOCK_FD=str(lock), SIM_LAB_FOLDER=LAB_FOLDER)
    # A killed supervisor takes the worker along (--pdeathsig), as a killed
    # launcher always did: what it made stays for the next run to remove.
    process = subprocess.Popen(
        ["setpriv", "--pdeathsig", "KILL", "--"] + worker,
        stdin=subprocess.DEVNULL,
        pass_fds=(control_read, lock),
        start_new_session=True,
        env=env,
    )
    os.close(control_read)
    _control_write = control_write
    if _ended:
        os.write(control_write, b"end\n")  # came while the worker was starting
    code = process.wait()
    if code < 0:
        print(f"run-sim: the run was ended by signal {-code}", file=sys.stderr, flush=True)
        return 1
    return code


if __name__ == "__main__":
    code = main(sys.argv[1:])
    # Python puts the default handlers back while it shuts down, where a late
    # signal would end it with that signal: block them and leave at once.
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM})
    sys.stdout.flush()
    sys.stderr.flush()
    os._exit(code)
