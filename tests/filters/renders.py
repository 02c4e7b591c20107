"""Reading the pictures the XPS readers draw: MuPDF's PNM and libgxps's PNG,
as (width, height, rows of RGB tuples); and libgxps's drawing of a document."""
import os
import re
import struct
import subprocess
import zipfile
import zlib

from xpsdocs import part


def read_png(path):
    """(width, height, rows of RGB tuples) of an 8-bit RGB(A) PNG."""
    data = open(path, "rb").read()
    pos, chunks, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        header = body if kind == b"IHDR" else header
        chunks += body if kind == b"IDAT" else b""
        pos += 12 + length
    width, height, depth, colour_type = struct.unpack(">IIBB", header[:10])
    channels = {2: 3, 6: 4}[colour_type]
    raw, stride, rows, previous = zlib.decompress(chunks), width * channels, [], bytearray(width * channels)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up, corner = previous[i], previous[i - channels] if i >= channels else 0
            predictor = [0, left, up, (left + up) // 2,
                         min((left, up, corner), key=lambda p: (abs(left + up - corner - p), [left, up, corner].index(p)))][kind]
            line[i] = (line[i] + predictor) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def read_pnm(path):
    data = open(path, "rb").read()
    header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
    width, height, pixels = int(header.group(1)), int(header.group(2)), data[header.end():]
    return width, height, [[tuple(pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)]
                           for y in range(height)]


def blocks(image, x0, y0, width, height, grid=8):
    """The mean colour of each cell of a grid laid over a region."""
    _, _, rows = image
    result = []
    for gy in range(grid):
        for gx in range(grid):
            xs = range(int(x0 + gx * width / grid), max(int(x0 + gx * width / grid) + 1, int(x0 + (gx + 1) * width / grid)))
            ys = range(int(y0 + gy * height / grid), max(int(y0 + gy * height / grid) + 1, int(y0 + (gy + 1) * height / grid)))
            pixels = [rows[min(y, len(rows) - 1)][min(x, len(rows[0]) - 1)] for y in ys for x in xs]
            result.append(tuple(sum(p[c] for p in pixels) / len(pixels) for c in range(3)))
    return result


def libgxps_drawings(xps, folder, dpi):
    """The XPS as libgxps draws it, one document at a time: the PNG files of
    all its pages in order, in folder (any there before are removed)."""
    for name in os.listdir(folder):
        if name.startswith("gx") and name.endswith(".png"):
            os.remove(os.path.join(folder, name))
    with zipfile.ZipFile(xps) as package:
        rels = part(package, "_rels/.rels").decode("utf-8-sig", "replace")
        sequence = re.search(r'Target="/?([^"]+\.fdseq)"', rels, re.I)
        count = len(re.findall(rb"DocumentReference", part(package, sequence.group(1)))) if sequence else 1
    pages = []
    for document in range(count):
        prefix = os.path.join(folder, "gx%02d" % document)
        subprocess.run(["xpstopng", "-r", str(dpi), "-d", str(document + 1), xps, prefix],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        names = sorted((n for n in os.listdir(folder) if n.startswith("gx%02d" % document) and n.endswith(".png")),
                       key=lambda n: int(re.search(r"-(\d+)\.png$", n).group(1)))
        pages += [os.path.join(folder, n) for n in names]
    return pages
