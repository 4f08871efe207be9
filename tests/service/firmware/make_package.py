#!/usr/bin/python3
"""Builds firmware packages for the tests with Python's zipfile.

Usage: make_package.py DESCRIPTION.json
The description: {"zip": OUT, "entries": [ENTRY, ...]}, each entry one of
  {"name": N, "text": T}                    a stored text
  {"name": N, "file": PATH}                 a file's bytes
  {"name": N, "bytes": K}                   K zero bytes (deflated)
  {"name": N, "squashfs": DIR, "start": S, "end": E}
  {"name": N, "cramfs": DIR, "start": S, "end": E}
      a partition image: 64-byte header (start and end addresses big-endian at
      16 and 20) followed by mksquashfs's or mkfs.cramfs's image of DIR
  {"name": N, "header": [S, E], "raw": T}   a header followed by the text T
  {"name": P, "many": K}                    K empty entries named P0, P1, ...
A text entry may add "link": true (stored as a Unix link to the text) or
"badcrc": true (its checksum in the central directory is wrong); any entry
"declare": D (the central directory says it unpacks to D bytes, D < 2**32).
Names are stored exactly as given ("../evil", "/abs", "a\\\\..\\\\b").
"""
import json
import os
import struct
import subprocess
import sys
import tempfile
import zipfile


def header(start, end):
    return b"\0" * 16 + struct.pack(">II", start, end) + b"\0" * 40


def image(kind, folder):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "fs.img")
        if kind == "squashfs":
            cmd = ["mksquashfs", folder, out, "-noappend", "-no-progress", "-quiet", "-all-root"]
        else:
            cmd = ["mkfs.cramfs", folder, out]
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
        with open(out, "rb") as f:
            return f.read()


def main():
    with open(sys.argv[1]) as f:
        desc = json.load(f)
    with zipfile.ZipFile(desc["zip"], "w", zipfile.ZIP_DEFLATED) as z:
        for e in desc["entries"]:
            if "many" in e:
                for i in range(e["many"]):
                    z.writestr("%s%d" % (e["name"], i), b"", zipfile.ZIP_STORED)
                continue
            if "text" in e:
                data = e["text"].encode()
            elif "file" in e:
                with open(e["file"], "rb") as f:
                    data = f.read()
            elif "bytes" in e:
                data = b"\0" * e["bytes"]
            elif "raw" in e:
                data = header(*e["header"]) + e["raw"].encode()
            else:
                kind = "squashfs" if "squashfs" in e else "cramfs"
                data = header(e["start"], e["end"]) + image(kind, e[kind])
            info = zipfile.ZipInfo(e["name"])
            if e.get("link"):
                info.create_system = 3
                info.external_attr = 0o120777 << 16
            z.writestr(info, data, zipfile.ZIP_DEFLATED)
    damaged = [e["name"].encode() for e in desc["entries"] if e.get("badcrc")]
    declared = {e["name"].encode(): e["declare"] for e in desc["entries"] if "declare" in e}
    if damaged or declared:
        with open(desc["zip"], "r+b") as f:
            raw = bytearray(f.read())
            at = raw.find(b"PK\x01\x02")
            while at >= 0:
                name_length = struct.unpack_from("<H", raw, at + 28)[0]
                name = bytes(raw[at + 46 : at + 46 + name_length])
                if name in damaged:
                    raw[at + 16] ^= 0xFF
                if name in declared:
                    struct.pack_into("<I", raw, at + 24, declared[name])
                at = raw.find(b"PK\x01\x02", at + 4)
            f.seek(0)
            f.write(raw)


main()
