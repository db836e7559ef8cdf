#!/usr/bin/env python3
"""Which mappings of a process grew between two /proc/PID/smaps copies (the soak rig keeps
NAME.smaps.warm and NAME.smaps.end): resident KiB per mapping, largest changes first. Named
mappings ([heap], [stack], libraries) are summed by name; anonymous ones are told apart by their
start address (their size at the end is shown: thread stacks are 8 MiB, the reassembly pool's
reservation 125 MiB, malloc's thread arenas grow within 64 MiB).
   smaps_diff.py WARM END"""
import re
import sys


def mappings(path, sizes):
    out, key = {}, None
    for line in open(path):
        m = re.match(r'^([0-9a-f]+)-([0-9a-f]+) \S+ \S+ \S+ \S+\s*(.*)$', line)
        if m:
            size = (int(m.group(2), 16) - int(m.group(1), 16)) // 1024
            key = m.group(3) or f"anon {m.group(1)}"
            if not m.group(3):
                sizes[key] = size
        elif line.startswith('Rss:') and key is not None:
            out[key] = out.get(key, 0) + int(line.split()[1])
    return out


def kind(key):
    """malloc's main heap, its thread arenas (64 MiB aligned), other anonymous memory (large
    blocks malloc maps alone, stacks, the pool), or files and shared memory."""
    if key == "[heap]":
        return "main heap"
    if key.startswith("anon "):
        return "thread arenas" if int(key[5:], 16) % (64 << 20) == 0 else "other anonymous"
    return "files and shared"


sizes = {}
warm = mappings(sys.argv[1], sizes)
end = mappings(sys.argv[2], sizes)
rows = sorted(((end.get(k, 0) - warm.get(k, 0), k) for k in set(warm) | set(end)), key=lambda r: -abs(r[0]))
print(f"resident: {sum(warm.values())} -> {sum(end.values())} KiB")
for name in ("main heap", "thread arenas", "other anonymous", "files and shared"):
    before = sum(v for k, v in warm.items() if kind(k) == name)
    after = sum(v for k, v in end.items() if kind(k) == name)
    print(f"  {name}: {before} -> {after} KiB ({after - before:+d})")
for delta, k in rows[:15]:
    if delta:
        size = f" ({sizes[k]} KiB mapped)" if k in sizes else ""
        print(f"{delta:+8d} KiB  {warm.get(k, 0):8d} -> {end.get(k, 0):8d}  {k}{size}")
