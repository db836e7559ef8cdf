#!/usr/bin/env python3
"""Send-to-receive time of each video frame through the RTSP bridge.

    latency.py MEDIA_LOG CAMERA_ID SECONDS READER_COMMAND...

The simulator writes a frame's media log line just before it sends the frame; a process of its
own follows the log and notes when each line of the camera appears (a thread beside the reader
lagged behind it now and then, for the interpreter's lock, and a frame then seemed not sent yet).
The reader (gst-launch-1.0 with a verbose fakesink) prints one line per access unit as it
receives it; its time is noted here. When the reader is done, the units are matched to the sent
frames in sending order by size: RTP loses the start codes' length, so a unit may be up to 8 bytes
longer than its frame; and the depayloader puts the parameter sets of the SDP in front of the
first unit, which makes that one longer by their size as well. Prints one JSON object: the
matched units' delays, the units that are no frame sent ("unmatched"), and the frames sent
within the run that the reader lacks ("missing").
"""
import base64
import json
import re
import subprocess
import sys
import time

FOLLOW = r"""
import re, sys, time
path, camera = sys.argv[1], sys.argv[2]
with open(path) as f:
    f.seek(0, 2)
    pending = ""
    while True:
        chunk = f.read()
        now = time.monotonic()
        if not chunk:
            time.sleep(0.0005)
            continue
        pending += chunk
        *lines, pending = pending.split("\n")
        for line in lines:
            if " cam=%s stream=live " % camera in line:
                print(now, re.search(r" es_size=(\d+)", line).group(1), flush=True)
"""

log_path, camera, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
follower = subprocess.Popen([sys.executable, "-c", FOLLOW, log_path, camera], stdout=subprocess.PIPE, text=True)
# Started first, so that it is at the log's end before the reader asks for the stream.
time.sleep(0.5)
reader = subprocess.Popen(sys.argv[4:], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
size_re = re.compile(r"chain.*?\((\d+) bytes")
# As gst-launch prints caps: sprop-parameter-sets=(string)"Z2QAH6y0\=\,aO88sA\=\="
sprop_re = re.compile(r'sprop-parameter-sets=\(string\)"([A-Za-z0-9+/=,\\]+)"')
received = []  # (time, size)
sprop = 0  # bytes of the SDP's parameter sets with their start codes
start = time.monotonic()
for line in reader.stdout:
    now = time.monotonic()
    if not sprop:
        m = sprop_re.search(line)
        if m:
            sets = m.group(1).replace("\\", "").split(",")
            sprop = sum(4 + len(base64.b64decode(s)) for s in sets if s)
    m = size_re.search(line)
    if m:
        received.append((now, int(m.group(1))))
    if now - start >= seconds:
        break
reader.terminate()
reader.wait()
time.sleep(0.2)
follower.terminate()
sent = [(float(t), int(s)) for t, s in (line.split() for line in follower.communicate()[0].splitlines())]

# In sending order: each unit is the next sent frame it can be.
delays = []
unmatched = 0
missing = 0
next_sent = 0
for n, (t, size) in enumerate(received):
    extra = (0, sprop) if n == 0 else (0,)
    # The first unit may be any frame sent; later ones follow within a second of frames.
    last = len(sent) if not delays else min(len(sent), next_sent + 25)
    hit = next((k for k in range(next_sent, last) if any(0 <= size - e - sent[k][1] <= 8 for e in extra)), None)
    if hit is None:
        unmatched += 1
        continue
    if delays:
        missing += hit - next_sent
    delays.append((t - sent[hit][0]) * 1000)
    next_sent = hit + 1
delays.sort()


def pct(p):
    return round(delays[min(len(delays) - 1, int(p * len(delays)))], 2) if delays else None


print(json.dumps({"seconds": seconds, "frames": len(delays), "unmatched": unmatched, "missing": missing,
                  "p50_ms": pct(0.5), "p95_ms": pct(0.95), "max_ms": round(delays[-1], 2) if delays else None}))
