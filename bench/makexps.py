#!/usr/bin/env python3
"""The engine benchmark's document: an XPS document of N US Letter pages of
text and graphics, the same bytes for the same N.

    bench/makexps.py OUT.xps PAGES

Each page: a heading and 44 lines of body text as Glyphs in DejaVu Sans (one
embedded TrueType part shared by every page), a bar chart of paths with solid
fills and strokes, a box with a linear and a disc with a radial gradient, a
curve stroked over the chart; every fifth page a photograph-like RGB image of
its own (a PNG part, 320 x 240) in place of the disc."""
import math
import random
import struct
import sys
import zipfile
import zlib

XPS = "http://schemas.microsoft.com/xps/2005/06"
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
WIDTH, HEIGHT = 816, 1056
IMAGE_EVERY = 5
WORDS = ("the printer writes each page as it arrives and keeps nothing of the pages before it while "
         "fonts are subset to the glyphs used images go in as they are or deflated gradients become "
         "shadings über façade naïve déjà vu résumé quantity 1,250.75 (42%) [draft] #7 x=y+z").split()


def png(width, height, seed):
    """A smooth colour field with some grain: compresses like a photograph, not like a flat fill."""
    grain = random.Random(seed).randbytes(width * 3 + 97)
    phase = seed * 0.7
    red = [int(128 + 100 * math.sin(x / 37.0 + phase)) for x in range(width)]
    blue = [int(128 + 100 * math.sin(s / 51.0)) for s in range(width + height)]
    rows = bytearray()
    for y in range(height):
        green = int(128 + 100 * math.sin(y / 23.0 - phase))
        base = [c for x in range(width) for c in (red[x], green, blue[x + y])]
        # Channels stay within 28..228, so grain of -12..12 needs no clamping.
        rows.append(0)
        rows += bytes(c + grain[(i + y * 7) % len(grain)] % 25 - 12 for i, c in enumerate(base))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace('"', "&quot;")


def glyphs(x, y, size, text, fill="#FF000000"):
    return ('<Glyphs FontUri="/Resources/DejaVuSans.ttf" FontRenderingEmSize="%g" OriginX="%g" OriginY="%g" '
            'UnicodeString="%s" Fill="%s"/>' % (size, x, y, escape(text), fill))


def page(number, words, image):
    body = [glyphs(72, 90, 22, "Section %d: %s" % (number, " ".join(words.choice(WORDS) for _ in range(4))),
                   "#FF1F3A93")]
    for line in range(44):
        text = " ".join(words.choice(WORDS) for _ in range(words.randint(9, 13)))
        body.append(glyphs(72, 124 + line * 13.5, 10.5, text))
    # The chart: bars with solid fills and a frame, and a curve across them.
    top = 730
    body.append('<Path Data="M 72,%d L 480,%d 480,%d 72,%d Z" Stroke="#FF404040" StrokeThickness="0.75"/>'
                % (top, top, top + 180, top + 180))
    for bar in range(12):
        h = 20 + (number * 7 + bar * 29) % 150
        body.append('<Path Data="M %d,%d h 24 v %d h -24 Z" Fill="#FF%02X%02X%02X"/>'
                    % (84 + bar * 33, top + 180 - h, h, 40 + bar * 17, 90 + (number * 13) % 120, 200 - bar * 11))
    curve = " ".join("%d,%d" % (84 + i * 33, top + 40 + (number * 11 + i * 37) % 120) for i in range(1, 13))
    body.append('<Path Data="M 84,%d C %s" Stroke="#FFC00000" StrokeThickness="2" StrokeLineJoin="Round"/>'
                % (top + 90, curve))
    body.append('<Path Data="M 510,%d L 744,%d 744,%d 510,%d Z"><Path.Fill><LinearGradientBrush '
                'MappingMode="Absolute" StartPoint="510,%d" EndPoint="744,%d"><LinearGradientBrush.GradientStops>'
                '<GradientStop Color="#FF2060C0" Offset="0"/><GradientStop Color="#FFF0F0FF" Offset="0.6"/>'
                '<GradientStop Color="#FFE08020" Offset="1"/></LinearGradientBrush.GradientStops>'
                '</LinearGradientBrush></Path.Fill></Path>' % (top, top, top + 60, top + 60, top, top + 60))
    if image:
        body.append('<Path Data="M 510,%d L 750,%d 750,%d 510,%d Z"><Path.Fill><ImageBrush ImageSource="%s" '
                    'Viewbox="0,0,320,240" ViewboxUnits="Absolute" Viewport="510,%d,240,180" '
                    'ViewportUnits="Absolute"/></Path.Fill></Path>'
                    % (top + 70, top + 70, top + 250, top + 250, image, top + 70))
    else:
        body.append('<Path Data="M 560,%d A 60,60 0 1 1 680,%d A 60,60 0 1 1 560,%d Z"><Path.Fill>'
                    '<RadialGradientBrush MappingMode="Absolute" Center="620,%d" GradientOrigin="600,%d" '
                    'RadiusX="60" RadiusY="60"><RadialGradientBrush.GradientStops>'
                    '<GradientStop Color="#FFFFFFFF" Offset="0"/><GradientStop Color="#FF10A050" Offset="1"/>'
                    '</RadialGradientBrush.GradientStops></RadialGradientBrush></Path.Fill></Path>'
                    % (top + 140, top + 140, top + 140, top + 140, top + 120))
    body.append(glyphs(390, 1010, 9, "%d" % number, "#FF606060"))
    return '<FixedPage xmlns="%s" Width="%d" Height="%d" xml:lang="en-US">%s</FixedPage>' % (
        XPS, WIDTH, HEIGHT, "".join(body))


def make(path, pages):
    rels = '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">%s</Relationships>'
    rel = '<Relationship Id="R%d" Type="http://schemas.microsoft.com/xps/2005/06/%s" Target="%s"/>'
    types = ('<?xml version="1.0" encoding="utf-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/'
             'content-types">' + "".join('<Default Extension="%s" ContentType="%s"/>' % pair for pair in (
                 ("rels", "application/vnd.openxmlformats-package.relationships+xml"),
                 ("fdseq", "application/vnd.ms-package.xps-fixeddocumentsequence+xml"),
                 ("fdoc", "application/vnd.ms-package.xps-fixeddocument+xml"),
                 ("fpage", "application/vnd.ms-package.xps-fixedpage+xml"),
                 ("png", "image/png"), ("ttf", "application/vnd.ms-opentype"))) + '</Types>')
    words = random.Random(pages)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as package:
        package.writestr("[Content_Types].xml", types)
        package.writestr("_rels/.rels", rels % (rel % (0, "fixedrepresentation", "/FixedDocumentSequence.fdseq")))
        package.writestr("FixedDocumentSequence.fdseq", '<FixedDocumentSequence xmlns="%s"><DocumentReference '
                         'Source="/Documents/1/FixedDocument.fdoc"/></FixedDocumentSequence>' % XPS)
        package.writestr("Documents/1/FixedDocument.fdoc", '<FixedDocument xmlns="%s">%s</FixedDocument>' % (
            XPS, "".join('<PageContent Source="Pages/%d.fpage"/>' % n for n in range(1, pages + 1))))
        with open(FONT, "rb") as font:
            package.writestr("Resources/DejaVuSans.ttf", font.read())
        for n in range(1, pages + 1):
            image = "/Resources/image%d.png" % n if n % IMAGE_EVERY == 0 else None
            resources = [rel % (0, "required-resource", "/Resources/DejaVuSans.ttf")]
            if image:
                package.writestr(image[1:], png(320, 240, n))
                resources.append(rel % (1, "required-resource", image))
            package.writestr("Documents/1/Pages/%d.fpage" % n, page(n, words, image))
            package.writestr("Documents/1/Pages/_rels/%d.fpage.rels" % n, rels % "".join(resources))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: makexps.py OUT.xps PAGES")
    make(sys.argv[1], int(sys.argv[2]))
