# An nbdkit plugin that serves a disk image as a failing drive: reads that touch the chosen
# sector ranges fail with EIO, reads that touch the slow ranges take the given milliseconds more
# (a weak area the drive reads only after retries), every read is logged, and the process named
# in a pid file can be sent SIGINT after a number of reads (to stop a rescue midway at a known
# point).
#   nbdkit -s python failing_disk.py file=IMAGE bad=FIRST-LAST,... [slow=FIRST-LAST:MS,...]
#          [log=FILE] [interrupt_after=N pidfile=FILE]
import builtins
import errno
import os
import signal
import time

import nbdkit

API_VERSION = 2

image = None
bad = []
slow = []
log_path = None
interrupt_after = 0
pid_path = None
reads = 0


def config(key, value):
    global image, log_path, interrupt_after, pid_path
    if key == "file":
        image = value
    elif key == "bad":
        for r in value.split(","):
            if r:
                first, last = r.split("-")
                bad.append((int(first), int(last)))
    elif key == "slow":
        for r in value.split(","):
            if r:
                span, ms = r.split(":")
                first, last = span.split("-")
                slow.append((int(first), int(last), int(ms) / 1000.0))
    elif key == "log":
        log_path = value
    elif key == "interrupt_after":
        interrupt_after = int(value)
    elif key == "pidfile":
        pid_path = value
    else:
        raise RuntimeError("unknown parameter " + key)


def open(readonly):
    return os.open(image, os.O_RDONLY)


def get_size(h):
    return os.fstat(h).st_size


def can_write(h):
    return False


def pread(h, buf, offset, flags):
    global reads
    reads += 1
    if log_path:
        with builtins.open(log_path, "a") as f:
            f.write("%d %d\n" % (offset, len(buf)))
    if interrupt_after and reads == interrupt_after and pid_path:
        with builtins.open(pid_path) as f:
            os.kill(int(f.read().strip()), signal.SIGINT)
    first = offset // 512
    last = (offset + len(buf) - 1) // 512
    for a, b, seconds in slow:
        if first <= b and last >= a:
            time.sleep(seconds)
    for a, b in bad:
        if first <= b and last >= a:
            raise OSError(errno.EIO, "unreadable sector")
    buf[:] = os.pread(h, len(buf), offset)


def close(h):
    os.close(h)
