#!/usr/bin/env python3
"""Writes the fuzzers' initial inputs.

corpus/decode/: for every payload type, its first event's index byte and a
full-sized payload of distinct field values, plus hand-picked url payloads
(empty, cut short, long). Field widths come from the payload descriptions the
library is generated from, so the files follow the catalogue when it changes.

corpus/trace_file/: hand-picked damaged and unusual trace files, and, when
the path of a vxtrace binary is given, a few small generated traces.

Usage: make_corpus.py [path/to/vxtrace]"""
import pathlib
import re
import struct
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
WIDTHS = {"u8": 1, "u16": 2, "i16": 2, "u32": 4, "i32": 4, "u64": 8, "i64": 8, "f32": 4}


def payload_types():
    """Every type as a list of members: ('field', width) / ('record', type) / ('blob',)."""
    types = {}
    current = None
    for part in ("session", "audio", "video", "media"):
        text = (ROOT / "include/vexlo/payloads" / f"{part}.def").read_text()
        for macro, args in re.findall(r"^\s*(VX_\w+)\(([^)]*)\)", text, re.M):
            args = [a.strip() for a in args.split(",")]
            if macro in ("VX_PAYLOAD", "VX_NESTED"):
                current = types.setdefault(args[0], [])
            elif macro == "VX_FIELD":
                current.append(("field", WIDTHS[args[0]]))
            elif macro == "VX_RECORD":
                current.append(("record", args[0]))
            elif macro == "VX_BLOB":
                current.append(("blob",))
    return types


def catalogue():
    text = (ROOT / "events/catalogue.def").read_text()
    return re.findall(r"^VX_EVENT\((\w+), (\w+)\)", text, re.M)


def sample(types, name, counter, url=b"http://a/b"):
    out = b""
    for member in types[name]:
        if member[0] == "field":
            counter[0] += 1
            value = (counter[0] * 0x0101010101010101 + 0x0807060504030201) & ((1 << 64) - 1)
            out += value.to_bytes(8, "little")[: member[1]]
        elif member[0] == "record":
            out += sample(types, member[1], counter, url)
        else:
            out += struct.pack("<H", len(url)) + url
    return out


HEADER = b"\x89VXT\r\n\x1a\n" + struct.pack("<II", 1, 0)


def definition(event_id, name):
    return b"D" + struct.pack("<I", event_id) + name + b"\0"


def event(event_id, timestamp, payload, announced=None):
    size = len(payload) if announced is None else announced
    return b"E" + struct.pack("<IQI", event_id, timestamp, size) + payload


def write_trace_corpus(vxtrace):
    directory = ROOT / "fuzz/corpus/trace_file"
    directory.mkdir(parents=True, exist_ok=True)
    flush = b"/velocast/audio_flush"
    load = b"/velocast/media_channel_load_media"
    picks = {
        "header_only": HEADER,
        "header_cut": HEADER[:11],
        "bad_magic": b"\x89VXS" + HEADER[4:],
        "version_2": HEADER[:8] + struct.pack("<II", 2, 0),
        "redefinition_and_unknown_id": HEADER + definition(3, flush) + event(3, 1, b"\1\0\0\0")
        + definition(3, load) + event(3, 2, b"\1\0\0\0\3\0abc") + event(9, 3, b""),
        "url_longer_than_payload": HEADER + definition(7, load) + event(7, 5, b"\1\0\0\0\xff\xffab"),
        "payload_size_beyond_end": HEADER + definition(1, flush) + event(1, 1, b"\1\2", 9),
        "payload_size_beyond_limit": HEADER + event(1, 1, b"", 0x01000001),
        "id_beyond_limit": HEADER + definition(65536, flush),
        "name_without_nul": HEADER + b"D" + struct.pack("<I", 1) + flush,
        "empty_name": HEADER + definition(1, b""),
        "unknown_tag": HEADER + definition(1, flush) + b"X",
    }
    for pick, body in picks.items():
        (directory / pick).write_bytes(body)
    if vxtrace is None:
        return
    for events, start, mix in ((1, 1, "realistic"), (5, 2, "realistic"), (20, 3, "realistic"),
                              (10, 5, "bench"), (40, 6, "bench")):
        output = directory / f"generated_{events}_events_start_{start}_{mix}.vxt"
        # --force: the corpus is made again over its earlier files.
        subprocess.run([vxtrace, "generate", "--force", "-o", str(output),
                        "--events", str(events), "--seed", str(start), "--mix", mix,
                        "--no-progress"], check=True)


def write_decode_corpus():
    types = payload_types()
    events = catalogue()
    directory = ROOT / "fuzz/corpus/decode"
    directory.mkdir(parents=True, exist_ok=True)
    written = set()
    for index, (short_name, type_name) in enumerate(events):
        if type_name in written:
            continue
        written.add(type_name)
        payload = sample(types, type_name, [0])
        (directory / f"{index:03d}_{type_name}").write_bytes(bytes([index]) + payload)
        if type_name == "load_media_payload":
            session = payload[:4]
            picks = {
                "empty_url": session + struct.pack("<H", 0),
                "url_one_byte_short": session + struct.pack("<H", 5) + b"abcd",
                "url_size_cut": session + b"\x07",
                "long_url": session + struct.pack("<H", 300) + bytes(range(256)) + b"x" * 44,
            }
            for pick, body in picks.items():
                (directory / f"{index:03d}_{pick}").write_bytes(bytes([index]) + body)


def main():
    write_decode_corpus()
    write_trace_corpus(sys.argv[1] if len(sys.argv) > 1 else None)


if __name__ == "__main__":
    main()
