#!/usr/bin/env python3
"""Checks what RTSP clients read from vistrel-cli serve against what the simulator sent.

    check_rtsp.py units MEDIA_LOG FRAMEHASH STREAM CAMERA_ID
        FRAMEHASH and STREAM: `-c copy -f framehash` and `-c copy -f h264` (or m4v) of one
        ffmpeg run over the video, which cut the stream into its access units. Prints
        "units unmatched in_order missing backwards": the access units read, those that are no frame the
        camera sent, 1 when the units are one unbroken run of the camera's frames in sending
        order, the camera's frames within the run that were not read, and the units that repeat
        a frame already read or come after a newer one.
    check_rtsp.py audio SOURCE_WAV RECEIVED_WAV
        Prints "correlation lag_ms": the best normalised correlation of the received audio with
        the looped source, and where in the loop it lies.
    check_rtsp.py sdp FMTP_LINE
        Prints "same" when the H.264 fmtp line's profile-level-id is bytes 1 to 3 of the SPS in
        its sprop-parameter-sets, else what each says.

RTP carries NAL units without their start codes, so a client writes its own (ffmpeg: four
bytes); a unit matches a sent frame when some choice of 3- or 4-byte start codes gives the
frame's size and CRC-32. MPEG-4 start codes have one form only.
"""
import base64
import itertools
import re
import math
import struct
import sys
import zlib


def fields(line):
    return dict(kv.split("=", 1) for kv in line.split()[1:] if "=" in kv)


def nal_units(data):
    """The NAL units of an Annex-B access unit, start codes removed; None when it has none."""
    starts = []
    i = 0
    while True:
        i = data.find(b"\x00\x00\x01", i)
        if i < 0:
            break
        starts.append(i + 3)
        i += 3
    if not starts or starts[0] > 4:
        return None
    units = []
    for k, s in enumerate(starts):
        end = starts[k + 1] - 3 if k + 1 < len(starts) else len(data)
        unit = data[s:end]
        if k + 1 < len(starts) and unit.endswith(b"\x00"):
            unit = unit[:-1]  # the leading zero of a 4-byte start code
        units.append(unit)
    return units


def forms(size, crc, raw):
    """Every (size, crc) the sender may have written for these bytes."""
    yield size, crc
    units = nal_units(raw) if raw is not None else None
    if units is None or len(units) > 8:
        return
    for codes in itertools.product((b"\x00\x00\x01", b"\x00\x00\x00\x01"), repeat=len(units)):
        data = b"".join(c + u for c, u in zip(codes, units))
        yield len(data), zlib.crc32(data)


def units(media_log, framehash, stream, camera):
    sent = []
    with open(media_log) as f:
        for line in f:
            m = fields(line)
            if m.get("cam") == camera and m.get("stream") == "live":
                sent.append((int(m["es_size"]), int(m["es_crc"], 16)))
    sizes = []
    with open(framehash) as f:
        for line in f:
            if not line.startswith("#"):
                sizes.append(int(line.split(",")[4]))
    with open(stream, "rb") as f:
        data = f.read()
    # Each unit as the forms its bytes could have had at the sender.
    received = []
    pos = 0
    for size in sizes:
        raw = data[pos:pos + size]
        pos += size
        received.append(set(forms(len(raw), zlib.crc32(raw), raw)))
    sent_set = set(sent)
    unmatched = sum(1 for r in received if not r & sent_set) + (pos != len(data))
    # One unbroken run: some start in the sent list from which every received unit follows.
    in_order = int(any(all(i + k < len(sent) and sent[i + k] in r for k, r in enumerate(received))
                       for i in range(len(sent))))
    # Frames sent within the run that the reader lacks: each unit taken at the next sent frame it
    # can be, from the first one's earliest place.
    missing = 0
    start = next((i for i, f in enumerate(sent) if received and f in received[0]), None)
    if start is not None:
        i = start
        for r in received:
            j = i
            while j < len(sent) and sent[j] not in r:
                j += 1
            if j == len(sent):
                continue
            missing += j - i
            i = j + 1
    # Units that repeat a frame already read or come after a newer one. The simulator's clips
    # loop, so a unit's bytes are several sent frames: it is the one nearest the last unit's.
    backwards = 0
    last = None
    for r in received:
        places = [k for k, f in enumerate(sent) if f in r]
        if not places:
            continue
        k = min(places) if last is None else min(places, key=lambda k: (abs(k - last), -k))
        if last is not None and k <= last:
            backwards += 1
        else:
            last = k
    print(len(received), unmatched, in_order, missing, backwards)


def read_wav(path):
    with open(path, "rb") as f:
        data = f.read()
    pos = 12
    while pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        if tag == b"data":
            body = data[pos + 8:pos + 8 + size]
            return list(struct.unpack("<%dh" % (len(body) // 2), body[:len(body) // 2 * 2]))
        pos += 8 + size
    raise SystemExit("no data chunk in " + path)


def correlation_at(rec, src, lag):
    n = len(src)
    num = sum(rec[k] * src[(k + lag) % n] for k in range(n))
    den = math.sqrt(sum(x * x for x in rec[:n]) * sum(x * x for x in src))
    return num / den if den else 0.0


def audio(source, received):
    src = read_wav(source)
    rec = read_wav(received)
    n = len(src)
    # Skip the first second (the jitter of the start), then one whole loop.
    rec = rec[8000:8000 + n]
    if len(rec) < n:
        print(0.0, 0)
        return
    # Coarse search on 8-sample means, then the exact lag around the best one.
    dec = 8
    cs = [sum(src[k:k + dec]) for k in range(0, n - n % dec, dec)]
    cr = [sum(rec[k:k + dec]) for k in range(0, n - n % dec, dec)]
    m = len(cs)
    best = max(range(m), key=lambda lag: sum(cr[k] * cs[(k + lag) % m] for k in range(m)))
    lag, corr = max(((lag, correlation_at(rec, src, lag)) for lag in range(best * dec - dec, best * dec + dec + 1)),
                    key=lambda t: t[1])
    print("%.3f %d" % (corr, (lag % n) * 1000 // 8000))


def sdp(fmtp):
    sprop = re.search(r"sprop-parameter-sets=([^,;]+)", fmtp)
    level = re.search(r"profile-level-id=([0-9a-fA-F]{6})", fmtp)
    sps = base64.b64decode(sprop.group(1)) if sprop else b""
    same = level and sps[1:4].hex() == level.group(1).lower()
    print("same" if same else f"{level and level.group(1)} against {sps[1:4].hex()}")


if __name__ == "__main__":
    if sys.argv[1] == "units":
        units(*sys.argv[2:6])
    elif sys.argv[1] == "sdp":
        sdp(sys.argv[2])
    else:
        audio(*sys.argv[2:4])
