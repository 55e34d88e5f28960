#!/usr/bin/env python3
"""Times extraction commands in interleaved rounds, so that a change in the machine's load over
time affects every command alike (a block of runs per command, as most timers do, does not).
Before each run the output folders are emptied and the page cache is written back, so no run
pays for the previous one's writes.

Usage: measure.py <runs> <out> <tmp> <payload> <setup> <reference>
"""
import os
import shutil
import statistics
import sys
import time


def main(runs, out, tmp, payload, setup, reference):
    commands = {
        "setup": ([setup], {"TMPDIR": tmp}),
        "bsdtar": (["bsdtar", "-xf", payload, "-C", out], {}),
        "unzip": (["unzip", "-q", "-o", payload, "-d", out], {}),
        "7z": (["7z", "x", "-y", "-bd", "-o" + out, payload], {}),
        "reference": ([reference, "zlib", payload, out], {}),
        "isal floor": ([reference, "isal", payload, out], {}),
    }
    names = list(commands)
    quiet = [(os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0),
             (os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
             (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)]
    wall = {n: [] for n in names}
    cpu = {n: [] for n in names}
    for round_ in range(runs + 1):  # the first round warms the caches and is not counted
        order = names[round_ % len(names):] + names[:round_ % len(names)]
        for name in order:
            for folder in (out, tmp):
                shutil.rmtree(folder, ignore_errors=True)
                os.makedirs(folder)
            os.sync()
            argv, extra_env = commands[name]
            start = time.perf_counter()
            pid = os.posix_spawnp(argv[0], argv, {**os.environ, **extra_env}, file_actions=quiet)
            _, _, usage = os.wait4(pid, 0)
            elapsed = time.perf_counter() - start
            if round_ > 0:
                wall[name].append(elapsed)
                cpu[name].append(usage.ru_utime + usage.ru_stime)
    for folder in (out, tmp):
        shutil.rmtree(folder, ignore_errors=True)

    med = {n: statistics.median(wall[n]) for n in names}
    med_cpu = {n: statistics.median(cpu[n]) for n in names}
    ref, ref_cpu = med["reference"], med_cpu["reference"]
    print(f"{runs} interleaved rounds; medians (wall: elapsed, cpu: user + system)")
    print(f"{'':10} {'wall s':>7} {'min s':>7} {'max s':>7} {'/ ref':>6} {'cpu s':>7} {'/ ref':>6}")
    for n in names:
        print(f"{n:10} {med[n]:7.3f} {min(wall[n]):7.3f} {max(wall[n]):7.3f} {med[n] / ref:6.3f}"
              f" {med_cpu[n]:7.3f} {med_cpu[n] / ref_cpu:6.3f}")
    tools = ["bsdtar", "unzip", "7z"]
    fastest = min(tools, key=lambda n: med[n])
    print(f"setup / isal floor: wall {med['setup'] / med['isal floor']:.3f} (goal <= 1.30); "
          f"setup / bsdtar: wall {med['setup'] / med['bsdtar']:.3f} (goal <= 0.60); "
          f"setup / fastest tool ({fastest}): wall {med['setup'] / med[fastest]:.3f}")


if __name__ == "__main__":
    if len(sys.argv) != 7:
        raise SystemExit(__doc__)
    main(int(sys.argv[1]), *sys.argv[2:])
