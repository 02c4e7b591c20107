#!/usr/bin/env python3
"""Seeds for every fuzz target, made from real XPS documents: the packages
themselves, their markup, fonts (restored when obfuscated), images, print
tickets and path data.

  seeds.py XPS_DIR OUT_DIR [MAX_BYTES [PER_TARGET]]

writes OUT_DIR/<target>/<name>; seeds over MAX_BYTES are left out, and at
most PER_TARGET are made for each target."""
import glob
import hashlib
import os
import re
import struct
import sys
import zipfile

xps_dir, out_dir = sys.argv[1], sys.argv[2]
max_bytes = int(sys.argv[3]) if len(sys.argv) > 3 else 1 << 30
per_target = int(sys.argv[4]) if len(sys.argv) > 4 else 1 << 30
made = {}


def put(target, data):
    if len(data) > max_bytes or made.get(target, 0) >= per_target:
        return
    os.makedirs(os.path.join(out_dir, target), exist_ok=True)
    name = hashlib.sha1(data).hexdigest()[:16]
    with open(os.path.join(out_dir, target, name), "wb") as f:
        f.write(data)
    made[target] = made.get(target, 0) + 1


def parts(path):
    """The parts of a package by name, interleaved pieces joined."""
    z = zipfile.ZipFile(path)
    pieces = {}
    for info in z.infolist():
        m = re.match(r"(.*)/\[(\d+)\](\.last)?\.piece$", info.filename)
        name, index = (m.group(1), int(m.group(2))) if m else (info.filename, 0)
        pieces.setdefault(name, {})[index] = z.read(info)
    return {name: b"".join(p[i] for i in sorted(p)) for name, p in pieces.items()}


def restore_font(name, data):
    guid = re.sub(r"[{}-]", "", os.path.basename(name).split(".")[0])
    if len(guid) != 32 or len(data) < 32:
        return None
    key = bytes.fromhex(guid)
    head = bytes(data[i] ^ key[15 - i % 16] for i in range(32))
    return head + data[32:]


def text(value):
    """A field of FuzzedDataProvider's ConsumeRandomLengthString, ended."""
    return value.replace(b"\\", b"\\\\") + b"\\ "


def file_set(files):
    out = b"\x89ZCR\r\n\x1a\n" + struct.pack("<I", 1)
    for f in files:
        out += struct.pack("<I", len(f)) + f
    return out + struct.pack("<II", 0xFFFFFFFF, len(files))


documents = sorted(glob.glob(os.path.join(xps_dir, "*.xps")), key=os.path.getsize)
pngs, jpegs, tickets = [], [], []
for mode, path in enumerate(documents):
    data = open(path, "rb").read()
    put("fuzz_package", data)
    put("fuzz_page", data)
    for m in range(6):
        put("fuzz_writers", bytes([(mode + m) % 6]) + data)
    for name, content in sorted(parts(path).items(), key=lambda p: len(p[1])):
        lower = name.lower()
        if lower.endswith((".fpage", ".fdoc", ".fdseq", ".rels", ".xml", ".struct", ".frag")):
            put("fuzz_xml", b"\x3f" + content)
        if lower.endswith((".odttf", ".ttf", ".otf", ".ttc")):
            font = restore_font(name, content) if lower.endswith(".odttf") else content
            if font:
                # Read from the end: four glyph ids, their count, face 0, not obfuscated.
                put("fuzz_font", font + struct.pack("<4H", 1, 2, 3, 36) + b"\x04\x00\x00")
        if content.startswith(b"\x89PNG"):
            pngs.append(content)
            for prefix in (0, 1, 3):
                put("fuzz_image", bytes([prefix]) + content)
        if content.startswith(b"\xff\xd8"):
            jpegs.append(content)
            for prefix in (2, 4):
                put("fuzz_image", bytes([prefix]) + content)
        if lower.endswith("_pt.xml"):
            tickets.append(content)
        if lower.endswith(".fpage"):
            values = lambda attribute: re.findall(rb'\b' + attribute + rb'="([^"]*)"', content)
            datas = [d for d in values(b"Data") if d[:1] in b"FfMm"]
            matrices = values(b"RenderTransform") + values(b"Matrix")
            colors = values(b"Fill") + values(b"Color")
            runs = list(zip(values(b"UnicodeString"), values(b"Indices")))
            for i, d in enumerate(datas[:4]):
                unicode, indices = runs[i % len(runs)] if runs else (b"Hello", b";;;")
                put("fuzz_markup", b"".join(text(v) for v in [
                    d, (matrices or [b"1,0,0,1,0,0"])[i % max(1, len(matrices))],
                    (colors or [b"#FF000000"])[i % max(1, len(colors))],
                    b"ContextColor /profile.icc 1,0.5,0.25,0", b"0,0,816,1056", b"12",
                    b"{StaticResource R1}", b"a b  c", unicode, indices]) + b"\x40\x00\x10\x00")
                put("fuzz_drawing", text(d) + bytes(range(64)))
for i in range(len(tickets)):
    put("fuzz_ticket", text(tickets[i]) + tickets[(i + 1) % len(tickets)])
for group in (pngs[:1], pngs[1:4], jpegs[:2]):
    if group:
        put("fuzz_fileset", file_set(group))
for target in sorted(made):
    print(f"{target}: {made[target]} seeds")
