"""Process helpers of the benchmark scripts: the Unix process of a Windows
program that Wine runs, and its memory figures."""
import os
import time


def find_pid(name, deadline):
    """The pid of the process whose command line holds name (not the runner
    script, not the Wine server), or None when none appears by deadline."""
    while time.time() < deadline:
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                cmd = open(f"/proc/{pid}/cmdline", "rb").read()
            except OSError:
                continue
            if name.encode() in cmd and b"wine-run" not in cmd and b"wineserver" not in cmd:
                return int(pid)
        time.sleep(0.005)
    return None


def status(pid):
    """The kB figures of /proc/<pid>/status (VmRSS, VmHWM, ...); empty once
    the process is gone."""
    values = {}
    try:
        for line in open(f"/proc/{pid}/status"):
            k, _, v = line.partition(":")
            if v.strip().endswith("kB"):
                values[k] = int(v.split()[0])
    except OSError:
        pass
    return values
