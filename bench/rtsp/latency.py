#!/usr/bin/env python3
"""Send-to-receive time of each video frame through the RTSP bridge.

    latency.py MEDIA_LOG CAMERA_ID SECONDS READER_COMMAND...

The simulator writes a frame's media log line just before it sends the frame; one thread here
follows the log and notes when each line of the camera appears. The reader (gst-launch-1.0 with
a verbose fakesink) prints one line per access unit as it receives it; the main thread notes
when each appears. A unit is the latest logged frame of its size (RTP loses the start codes'
length: the sent frame may be up to 8 bytes shorter). Prints one JSON object.
"""
import json
import re
import subprocess
import sys
import threading
import time

log_path, camera, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
sent = []  # (time, size), in sending order
lock = threading.Lock()
done = False


def follow():
    with open(log_path) as f:
        f.seek(0, 2)
        pending = ""
        while not done:
            chunk = f.read()
            now = time.monotonic()
            if not chunk:
                time.sleep(0.0005)
                continue
            pending += chunk
            *lines, pending = pending.split("\n")
            for line in lines:
                if " cam=%s stream=live " % camera in line:
                    size = int(re.search(r" es_size=(\d+)", line).group(1))
                    with lock:
                        sent.append((now, size))


threading.Thread(target=follow, daemon=True).start()
reader = subprocess.Popen(sys.argv[4:], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
size_re = re.compile(r"chain.*?\((\d+) bytes")
delays = []
unmatched = 0
start = time.monotonic()
next_sent = 0
for line in reader.stdout:
    m = size_re.search(line)
    if not m:
        continue
    now = time.monotonic()
    size = int(m.group(1))
    with lock:
        # The newest not yet matched frame of a fitting size sent before now.
        hit = None
        for k in range(len(sent) - 1, next_sent - 1, -1):
            if size - 8 <= sent[k][1] <= size:
                hit = k
                break
        if hit is None:
            unmatched += 1
        else:
            delays.append((now - sent[hit][0]) * 1000)
            next_sent = hit + 1
    if now - start >= seconds:
        break
done = True
reader.terminate()
reader.wait()
delays.sort()


def pct(p):
    return round(delays[min(len(delays) - 1, int(p * len(delays)))], 2) if delays else None


print(json.dumps({"seconds": seconds, "frames": len(delays), "unmatched": unmatched, "p50_ms": pct(0.5),
                  "p95_ms": pct(0.95), "max_ms": round(delays[-1], 2) if delays else None}))
