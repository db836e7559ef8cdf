#!/usr/bin/env python3
"""End figures of a soak run from its CSV: per process the RSS, PSS and heap slopes over the last
two thirds (least squares, MiB per hour), and descriptors and threads at the end against their
warm counts (the most seen in the middle third). Exit 1 when a count did not come back, when an
RSS slope is above its bound (MiB/h) in a run of 30 minutes or more (in a shorter one a client
that decodes is still settling), or when the CLI's heap slope is above its bound (its heap holds
no pictures, so a few minutes show a leak of a few bytes a frame): by default 4 MiB/h, 80 in a run
under 30 minutes, whose last two thirds still hold the CLI's warm-up (about 40 MiB/h over a
five-minute run; keeping every frame number seen made it 180).
The recorder holds one segment file open per camera that streams, so its descriptors follow its
cameras: up to one per camera (the fourth argument) above the warm count is a camera that was
away in the middle third (a reboot) and back at the end, not a leak; a leak opens one per segment.
With a faults file (lines "BEGIN END NAME", seconds from the start), the RSS slope judged is
the one over the samples of the last two thirds outside every fault and SETTLE_S after it: a
camera that reboots takes its decoder's pictures with it for a minute, and an hour's window holds
a few such dips wherever the seed put them, which tilt a slope over every sample by several MiB/h
either way with nothing growing. The slope over every sample is printed beside it.
   soak_check.py soak.csv [RSS MiB/h] [CLI heap MiB/h] [recorder cameras] [faults file]"""
import csv
import os
import sys


def slope(points):
    """Least-squares slope of (seconds, KiB) points, in MiB per hour."""
    n = len(points)
    if n < 3:
        return 0.0
    mx = sum(p[0] for p in points) / n
    my = sum(p[1] for p in points) / n
    sxx = sum((p[0] - mx) ** 2 for p in points)
    sxy = sum((p[0] - mx) * (p[1] - my) for p in points)
    return sxy / sxx * 3600 / 1024 if sxx else 0.0


# After a fault, what it took away (a camera's decoder, the frames of a link that was down) comes
# back within this long.
SETTLE_S = 60


def read_faults(path):
    faults = []
    if not os.path.exists(path):
        return faults
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 2:
                faults.append((int(parts[0]), int(parts[1])))
    return faults


def steady(rows, faults):
    """The rows outside every fault and SETTLE_S after it."""
    return [r for r in rows if not any(b <= int(r["t"]) <= e + SETTLE_S for b, e in faults)]


def main():
    bound = float(sys.argv[2]) if len(sys.argv) > 2 else 1.0
    heap_bound = float(sys.argv[3]) if len(sys.argv) > 3 and sys.argv[3] else None
    recorder_cameras = int(sys.argv[4]) if len(sys.argv) > 4 and sys.argv[4] else 0
    faults = read_faults(sys.argv[5]) if len(sys.argv) > 5 else []
    rows = {}
    with open(sys.argv[1], newline="") as f:
        for r in csv.DictReader(f):
            rows.setdefault(r["proc"], []).append(r)
    ok = True
    for proc, rs in rows.items():
        span = int(rs[-1]["t"])
        last = [r for r in rs if int(r["t"]) >= span / 3]
        warm = [r for r in rs if span / 3 <= int(r["t"]) < 2 * span / 3]

        def fig(key, sample=last):
            return slope([(int(r["t"]), int(r[key] or 0)) for r in sample])

        rss, pss, heap = fig("rss_kb"), fig("pss_kb"), fig("heap_kb")
        # RSS apart: anonymous memory (what the heap and the stacks take) and the rest.
        anon = fig("anon_kb") if "anon_kb" in rs[0] else 0.0
        print(f"{proc}: RSS {int(rs[0]['rss_kb']) / 1024:.1f} -> {int(rs[-1]['rss_kb']) / 1024:.1f} MiB over {span} s; "
              f"slope over the last two thirds: RSS {rss:+.2f} MiB/h (anonymous {anon:+.2f}), PSS {pss:+.2f} MiB/h, "
              f"heap {heap:+.2f} MiB/h")
        calm = steady(last, faults)
        # Too few samples between faults (a short run): every sample.
        if faults and len(calm) >= 30:
            rss = fig("rss_kb", calm)
            print(f"{proc}: outside the faults ({len(calm)} of {len(last)} samples): RSS {rss:+.2f} MiB/h, "
                  f"heap {fig('heap_kb', calm):+.2f} MiB/h")
        if rss > bound and span >= 1800:
            print(f"FAIL: {proc}: RSS grows {rss:.2f} MiB/h (bound {bound})")
            ok = False
        cli_bound = heap_bound if heap_bound is not None else (4.0 if span >= 1800 else 80.0)
        if proc == "cli" and heap > cli_bound:
            print(f"FAIL: cli: heap grows {heap:.2f} MiB/h (bound {cli_bound})")
            ok = False
        for key in ("fds", "threads"):
            warm_count = max((int(r[key]) for r in warm), default=0)
            end = int(rs[-1][key])
            slack = recorder_cameras if proc == "recorder" and key == "fds" else 0
            print(f"{proc}: {key} {end} at the end, {warm_count} warm")
            if warm and end > warm_count + slack:
                print(f"FAIL: {proc}: {key} {end} at the end, above the warm {warm_count}")
                ok = False
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
