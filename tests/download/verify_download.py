#!/usr/bin/env python3
"""Checks downloaded AVI files against what the simulator's SD card holds.

verify_download.py SIM SCENARIO ADDR CAMERA_ID REC_START FPS CLIP_FRAMES FIRST LAST FOLDER [SWITCH]

Every video chunk of the files in FOLDER (in name order) must be the codec data of the
recording's frame its stamp names, byte for byte (CRC-32 against the simulator's --sd-frame),
the frames must run from second FIRST to second LAST without a gap or a repeat, and each file
must be named by the seconds of its first and last frame. From second SWITCH on, the card holds
the clip at its other picture size. Prints one JSON line; exit 1 on a mismatch.
"""
import calendar
import json
import os
import struct
import subprocess
import sys
import time
import zlib


def stamp(seconds):
    return time.strftime("%y%m%d%H%M%S", time.gmtime(seconds))


def chunks(path):
    data = open(path, "rb").read()
    if data[322:326] != b"movi":
        raise ValueError(path + ": no movi list")
    movi = struct.unpack_from("<I", data, 318)[0]
    idx = 326 + ((movi - 4 + 1) & ~1)
    if data[idx:idx + 4] != b"idx1":
        raise ValueError(path + ": no index")
    count = struct.unpack_from("<I", data, idx + 4)[0] // 16
    for i in range(count):
        cid, flags, off, length = struct.unpack_from("<4sIII", data, idx + 8 + 16 * i)
        yield cid, flags, data[322 + off + 8:322 + off + 8 + length]


def main():
    sim, scenario, addr, cam, rec_start, fps, clip, first, last, folder = sys.argv[1:11]
    rec_start, fps, clip, first, last = int(rec_start), int(fps), int(clip), int(first), int(last)
    switch = int(sys.argv[11]) if len(sys.argv) > 11 else None

    def clip_from(start):
        # Frame n of the recording is clip frame n % clip: one period read from second start.
        table = {}
        for second in range((clip + fps - 1) // fps):
            out = subprocess.run([sim, "--scenario", scenario, "--addresses", addr, "--sd-frame", cam,
                                  str(start + second), "all"], capture_output=True, text=True, check=True)
            for line in out.stdout.splitlines():
                info = json.loads(line)
                k = ((start - rec_start + second) * fps + info["index"]) % clip
                table[k] = (int(info["es_crc"], 16), bool(info["key"]))
        return table

    expected = clip_from(rec_start)
    switched = clip_from(switch) if switch is not None else None
    errors = []
    frames = []
    files = sorted(f for f in os.listdir(folder) if f.endswith(".avi"))
    for name in files:
        times = []
        for cid, flags, payload in chunks(os.path.join(folder, name)):
            if cid == b"01wb":
                continue
            header = payload[0]
            seconds, micros = struct.unpack_from("<II", payload, 2)
            n = (seconds - rec_start) * fps + round(micros * fps / 1000000)
            times.append(seconds)
            crc, key = (switched if switch is not None and seconds >= switch else expected)[n % clip]
            if zlib.crc32(payload[header:]) != crc:
                errors.append("%s: frame %d differs" % (name, n))
            if (cid == b"00db") != key:
                errors.append("%s: frame %d chunk %s" % (name, n, cid.decode()))
            frames.append(n)
        if not times:
            errors.append(name + ": no video")
        elif name != stamp(times[0]) + "-" + stamp(times[-1]) + ".avi":
            errors.append("%s: holds %s to %s" % (name, stamp(times[0]), stamp(times[-1])))
    want = list(range((first - rec_start) * fps, (last - rec_start + 1) * fps))
    if frames != want:
        missing = sorted(set(want) - set(frames))
        extra = len(frames) - len(set(frames))
        errors.append("frames %d, want %d; missing %s; repeated %d" % (len(frames), len(want), missing[:10], extra))
    print(json.dumps({"files": files, "frames": len(frames), "errors": errors[:20]}))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
