#!/usr/bin/env python3
"""Checks a stream vistrel-cli live saved for one camera against what the simulator sent.

    check_saved.py MEDIA_LOG FRAME_LOG SAVED_FILE CAMERA_ID

The saved file must be the codec data of the camera's video frames, in the order the frame log
lists them, each one byte for byte a frame the simulator's media log has for that camera (its
size and CRC-32). Prints "frames unmatched": the video frames the file holds and those whose
bytes are not the camera's (a file longer or shorter than its frames counts as one more).
"""
import sys
import zlib


def fields(line):
    return dict(kv.split("=", 1) for kv in line.split()[1:] if "=" in kv)


def main(media_log, frame_log, saved, camera):
    sent = set()
    with open(media_log) as f:
        for line in f:
            m = fields(line)
            if m.get("cam") == camera and m.get("type") != "0x21":
                sent.add((int(m["es_size"]), int(m["es_crc"], 16)))
    with open(saved, "rb") as f:
        data = f.read()
    frames = unmatched = pos = 0
    with open(frame_log) as f:
        for line in f:
            m = fields(line)
            if m.get("id") != camera or m.get("codec") == "0":
                continue
            size = int(m["es_size"])
            chunk = data[pos:pos + size]
            pos += size
            frames += 1
            if len(chunk) != size or (size, zlib.crc32(chunk)) not in sent:
                unmatched += 1
    if pos != len(data):
        unmatched += 1
    print(frames, unmatched)


if __name__ == "__main__":
    main(*sys.argv[1:5])
