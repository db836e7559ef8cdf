#!/usr/bin/env python3
"""What a process allocated and kept between two moments of a heaptrack recording: live bytes by
call stack, largest growth first. A service's own structures are freed when it stops, so the
leaks heaptrack lists at exit miss a map or a queue that grows while it runs; this compares the
live allocations of two moments instead. heaptrack attached to a running process (-p) sees only
what was allocated after it came, which suits this: warm up first, then attach.
   zstd -dc FILE.zst | heap_window.py FROM TO [COUNT]    (seconds since heaptrack started)"""
import sys
from collections import defaultdict


def main():
    t_from, t_to = float(sys.argv[1]) * 1000, float(sys.argv[2]) * 1000
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 25
    # The interpreted format: s strings, i instruction pointers, t trace nodes (ip, parent),
    # a allocation sites (size, trace), +/- an allocation or a free of a site, c time in ms.
    strings, ips, traces, sites = [None], [None], [(0, 0)], []
    live, at_from, now = defaultdict(int), None, 0
    for line in sys.stdin:
        kind = line[0]
        if kind == '+':
            live[int(line[2:], 16)] += 1
        elif kind == '-':
            live[int(line[2:], 16)] -= 1
        elif kind == 'c':
            now = int(line[2:], 16)
            if at_from is None and now >= t_from:
                at_from = dict(live)
            if now >= t_to:
                break
        elif kind == 'a':
            size, trace = line[2:].split()
            sites.append((int(size, 16), int(trace, 16)))
        elif kind == 't':
            ip, parent = line[2:].split()
            traces.append((int(ip, 16), int(parent, 16)))
        elif kind == 'i':
            ips.append([int(x, 16) for x in line[2:].split()])
        elif kind == 's':
            strings.append(line[2:].rstrip('\n').split(' ', 1)[1])
    if at_from is None:
        sys.exit(f'heap_window.py: the recording ends at {now / 1000:.0f} s, before {t_from / 1000:.0f} s')

    def frames(trace, depth=12):
        out = []
        while trace and len(out) < depth:
            ip, trace = traces[trace]
            f = ips[ip]
            # A frame with a function name, else the address in its module.
            out.append(strings[f[2]] if len(f) > 2 else f'{f[0]:x} in {strings[f[1]].rsplit("/", 1)[-1]}')
        return out

    grown = defaultdict(lambda: [0, 0])
    for site in set(live) | set(at_from):
        n = live.get(site, 0) - at_from.get(site, 0)
        if n:
            size, trace = sites[site]
            grown[trace][0] += n * size
            grown[trace][1] += n
    total = sum(b for b, _ in grown.values())
    print(f'live bytes {total:+d} from {t_from / 1000:.0f} s to {min(t_to, now) / 1000:.0f} s')
    for trace, (b, n) in sorted(grown.items(), key=lambda kv: -kv[1][0])[:count]:
        print(f'{b:+9d} B {n:+7d}  ' + ' <- '.join(f[:60] for f in frames(trace)))


main()
