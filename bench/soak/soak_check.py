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
   soak_check.py soak.csv [RSS MiB/h] [CLI heap MiB/h] [recorder cameras]"""
import csv
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


def main():
    bound = float(sys.argv[2]) if len(sys.argv) > 2 else 1.0
    heap_bound = float(sys.argv[3]) if len(sys.argv) > 3 and sys.argv[3] else None
    recorder_cameras = int(sys.argv[4]) if len(sys.argv) > 4 and sys.argv[4] else 0
    rows = {}
    with open(sys.argv[1], newline="") as f:
        for r in csv.DictReader(f):
            rows.setdefault(r["proc"], []).append(r)
    ok = True
    for proc, rs in rows.items():
        span = int(rs[-1]["t"])
        last = [r for r in rs if int(r["t"]) >= span / 3]
        warm = [r for r in rs if span / 3 <= int(r["t"]) < 2 * span / 3]

        def fig(key):
            return slope([(int(r["t"]), int(r[key] or 0)) for r in last])

        rss, pss, heap = fig("rss_kb"), fig("pss_kb"), fig("heap_kb")
        # RSS apart: anonymous memory (what the heap and the stacks take) and the rest.
        anon = fig("anon_kb") if "anon_kb" in rs[0] else 0.0
        print(f"{proc}: RSS {int(rs[0]['rss_kb']) / 1024:.1f} -> {int(rs[-1]['rss_kb']) / 1024:.1f} MiB over {span} s; "
              f"slope over the last two thirds: RSS {rss:+.2f} MiB/h (anonymous {anon:+.2f}), PSS {pss:+.2f} MiB/h, "
              f"heap {heap:+.2f} MiB/h")
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
