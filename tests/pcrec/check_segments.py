#!/usr/bin/env python3
"""Checks recorded segments against what the simulator sent, with ffprobe and ffmpeg as readers.

    check_segments.py MEDIA_LOG CAMERA_ID [--apart] FILE...

Each file's video packets, read back by ffmpeg, must be the camera's frames byte for byte (H.264
is stored with length prefixes: a packet matches a sent frame when putting the frame's start
codes back gives its size and CRC-32) and follow one another as the simulator sent them, with
nothing missing, across the files (or, with --apart, within each file). Prints one JSON object:
{"files", "packets", "unmatched", "codec", "width", "height", "audio": [files with sound],
"worst_av_drift": seconds between the end of the sound and of the pictures, worst file}.
"""
import itertools
import json
import subprocess
import sys
import zlib


def sent_frames(media_log, camera):
    frames = []
    with open(media_log) as f:
        for line in f:
            m = dict(kv.split("=", 1) for kv in line.split()[1:] if "=" in kv)
            if m.get("cam") == camera and m.get("stream") == "live":
                frames.append((int(m["es_size"]), int(m["es_crc"], 16)))
    return frames


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                          "stream=index,codec_type,codec_name,width,height:packet=stream_index,pts_time,duration_time,size",
                          "-of", "json", path], check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def video_bytes(path):
    return subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:v", "-c", "copy", "-f", "data", "-"],
                          check=True, capture_output=True).stdout


def matches(packet, want, h264):
    size, crc = want
    if not h264:
        return len(packet) == size and zlib.crc32(packet) == crc
    nals, pos = [], 0
    while pos + 4 <= len(packet):
        n = int.from_bytes(packet[pos:pos + 4], "big")
        nals.append(packet[pos + 4:pos + 4 + n])
        pos += 4 + n
    longs = size - sum(len(n) for n in nals) - 3 * len(nals)
    if pos != len(packet) or not 0 <= longs <= len(nals):
        return False
    for four in itertools.combinations(range(len(nals)), longs):
        es = b"".join((b"\0\0\0\1" if i in four else b"\0\0\1") + n for i, n in enumerate(nals))
        if zlib.crc32(es) == crc:
            return True
    return False


def follow(runs, sent, h264):
    """Unmatched packets when each run of packets must be sent frames one after another; a looped
    clip repeats its frames, so every place the run's first packet fits is tried."""
    bad = 0
    for run in runs:
        best = len(run)
        for j in (j for j, w in enumerate(sent) if run and matches(run[0], w, h264)):
            miss = sum(1 for k, p in enumerate(run) if j + k >= len(sent) or not matches(p, sent[j + k], h264))
            best = min(best, miss)
            if best == 0:
                break
        bad += best
    return bad


def main(args):
    media_log, camera = args[0], args[1]
    apart = args[2] == "--apart"
    files = args[3:] if apart else args[2:]
    sent = sent_frames(media_log, camera)
    result = {"files": len(files), "packets": 0, "unmatched": 0, "audio": [], "worst_av_drift": 0.0}
    runs = [[]]
    for path in files:
        info = probe(path)
        video = [s for s in info["streams"] if s["codec_type"] == "video"][0]
        audio = [s for s in info["streams"] if s["codec_type"] == "audio"]
        result.update(codec=video["codec_name"], width=video["width"], height=video["height"])
        h264 = video["codec_name"] == "h264"
        ends = {}
        sizes = []
        for p in info["packets"]:
            start, dur = float(p["pts_time"]), float(p.get("duration_time", 0) or 0)
            lo, hi = ends.get(p["stream_index"], (start, start))
            ends[p["stream_index"]] = (min(lo, start), max(hi, start + dur))
            if p["stream_index"] == video["index"]:
                sizes.append(int(p["size"]))
        if audio:
            result["audio"].append(path)
            # A player starts the sound at 0: the encoder's priming before it is cut by the edit list.
            v, a = ends[video["index"]], ends.get(audio[0]["index"], (0, 0))
            result["worst_av_drift"] = max(result["worst_av_drift"], abs((v[1] - v[0]) - (a[1] - max(0, a[0]))))
        data, pos = video_bytes(path), 0
        if apart and runs[-1]:
            runs.append([])
        for size in sizes:
            runs[-1].append(data[pos:pos + size])
            pos += size
        result["packets"] += len(sizes)
        if pos != len(data):
            result["unmatched"] += 1
    result["unmatched"] += follow(runs, sent, h264)
    print(json.dumps(result))


if __name__ == "__main__":
    main(sys.argv[1:])
