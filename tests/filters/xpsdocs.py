"""Small XPS documents for the filter tests, and the sheets two XPS readers
render from them.

Each source page is filled with a colour of its own (pages are told apart by
it after N-up and booklet), except for a margin that shows the paper."""
import os
import re
import struct
import subprocess
import zipfile
import zlib

XPS = "http://schemas.microsoft.com/xps/2005/06"
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"


def part(package, name):
    """A part's content, joined from interleaved pieces where it has them."""
    names = package.namelist()
    if name in names:
        return package.read(name)
    pieces = sorted((n for n in names if n.startswith(name + "/[")),
                    key=lambda n: int(re.search(r"\[(\d+)\]", n[len(name):]).group(1)))
    return b"".join(package.read(n) for n in pieces)


def colour(index):
    """A distinct, saturated colour for page index (0-based)."""
    palette = [(220, 30, 30), (30, 160, 30), (30, 30, 220), (200, 200, 0), (200, 0, 200), (0, 190, 190),
               (240, 120, 0), (120, 0, 240), (0, 100, 60), (150, 80, 20), (255, 120, 160), (90, 90, 90)]
    return palette[index % len(palette)]


def png(width, height, rgb):
    """A one-colour PNG."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes(rgb) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def page_markup(index, width, height, kind, key, lines=1):
    r, g, b = colour(index)
    fill = "#%02X%02X%02X" % (r, g, b)
    box = "M 10,10 L %g,10 %g,%g 10,%g Z" % (width - 10, width - 10, height - 10, height - 10)
    # Every page keeps its colour in an inline resource under the same key,
    # so pages that share a sheet would clash if keys were not kept apart.
    body = ('<FixedPage.Resources><ResourceDictionary><SolidColorBrush x:Key="%s" Color="%s"/>'
            '</ResourceDictionary></FixedPage.Resources>' % (key, fill))
    if kind == "image":
        body += ('<Path Data="%s"><Path.Fill><ImageBrush ImageSource="../../../Resources/square.png" '
                 'Viewbox="0,0,4,4" ViewboxUnits="Absolute" Viewport="0,0,%g,%g" ViewportUnits="Absolute"/>'
                 '</Path.Fill></Path>' % (box, width, height))
    else:
        body += '<Path Data="%s" Fill="{StaticResource %s}"/>' % (box, key)
    for line in range(lines if kind == "font" else 0):
        size = height / 3 / lines
        body += ('<Glyphs FontUri="../../../Resources/font.ttf" FontRenderingEmSize="%g" OriginX="20" '
                 'OriginY="%g" UnicodeString="%s" Fill="#000000"/>' % (size, height / 2 + line * size, "MMMM" * lines))
    return ('<FixedPage xmlns="%s" xmlns:x="http://schemas.microsoft.com/xps/2005/06/resourcedictionary-key" '
            'Width="%g" Height="%g" xml:lang="en-US">%s</FixedPage>' % (XPS, width, height, body))


def make(path, sizes, kind="plain", pages_per_document=None, broken_page=None, shared_key=True, lines=1):
    """Writes an XPS document: one page per (width, height) in sizes. With shared_key every page
    names its colour by the same resource key."""
    documents = [sizes[i:i + pages_per_document] for i in range(0, len(sizes), pages_per_document)] \
        if pages_per_document else [sizes]
    types = ('<?xml version="1.0" encoding="utf-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/'
             'content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.'
             'relationships+xml"/><Default Extension="fdseq" ContentType="application/vnd.ms-package.xps-'
             'fixeddocumentsequence+xml"/><Default Extension="fdoc" ContentType="application/vnd.ms-package.'
             'xps-fixeddocument+xml"/><Default Extension="fpage" ContentType="application/vnd.ms-package.'
             'xps-fixedpage+xml"/><Default Extension="png" ContentType="image/png"/><Default Extension="ttf" '
             'ContentType="application/vnd.ms-opentype"/></Types>')
    rels = '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">%s</Relationships>'
    rel = '<Relationship Id="R%d" Type="http://schemas.microsoft.com/xps/2005/06/%s" Target="%s"/>'
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as package:
        package.writestr("[Content_Types].xml", types)
        package.writestr("_rels/.rels", rels % (rel % (0, "fixedrepresentation", "/FixedDocumentSequence.fdseq")))
        references = "".join('<DocumentReference Source="Documents/%d/FixedDocument.fdoc"/>' % (d + 1)
                             for d in range(len(documents)))
        package.writestr("FixedDocumentSequence.fdseq", '<FixedDocumentSequence xmlns="%s">%s</FixedDocumentSequence>'
                         % (XPS, references))
        index = 0
        for d, document in enumerate(documents):
            folder = "Documents/%d/" % (d + 1)
            contents = "".join('<PageContent Source="Pages/%d.fpage"/>' % (p + 1) for p in range(len(document)))
            package.writestr(folder + "FixedDocument.fdoc", '<FixedDocument xmlns="%s">%s</FixedDocument>' % (XPS, contents))
            for p, (width, height) in enumerate(document):
                markup = page_markup(index, width, height, kind, "paint" if shared_key else "paint%d" % index, lines)
                if broken_page == index:
                    markup = markup[: len(markup) // 2]
                package.writestr(folder + "Pages/%d.fpage" % (p + 1), markup)
                resource = {"image": "/Resources/square.png", "font": "/Resources/font.ttf"}.get(kind)
                if resource:
                    package.writestr(folder + "Pages/_rels/%d.fpage.rels" % (p + 1),
                                     rels % (rel % (0, "required-resource", resource)))
                index += 1
        if kind == "image":
            package.writestr("Resources/square.png", png(4, 4, (250, 130, 10)))
        if kind == "font":
            with open(FONT, "rb") as font:
                package.writestr("Resources/font.ttf", font.read())


def ticket(path, **features):
    """A print ticket with the given Print Schema options, e.g.
    ticket(p, nup=4, direction="RightBottom", booklet=True, watermark="DRAFT", fit=True, scale=50,
           media=(210000, 297000), output="PDF")."""
    parts = []
    def feature(name, option, *properties, prefix="psk"):
        parts.append('<psf:Feature name="%s:%s"><psf:Option name="%s">%s</psf:Option></psf:Feature>' %
                     (prefix, name, option, "".join(properties)))
    def scored(name, value, kind="integer"):
        return ('<psf:ScoredProperty name="psk:%s"><psf:Value xsi:type="xsd:%s">%s</psf:Value>'
                '</psf:ScoredProperty>' % (name, kind, value))
    if "nup" in features:
        direction = '<psf:Feature name="psk:PresentationDirection"><psf:Option name="psk:%s"/></psf:Feature>' % \
            features.get("direction", "RightBottom")
        nup = "JobNUpAllDocumentsContiguously" if features.get("contiguous") else "DocumentNUp"
        parts.append('<psf:Feature name="psk:%s"><psf:Option>%s</psf:Option>%s</psf:Feature>' %
                     (nup, scored("PagesPerSheet", features["nup"]), direction))
    if features.get("booklet"):
        feature("JobBindAllDocuments" if features.get("contiguous") else "DocumentBinding", "psk:Booklet")
    if "watermark" in features:
        feature("PageWatermark", "psk:Text")
        parts.append('<psf:ParameterInit name="psk:PageWatermarkTextText"><psf:Value xsi:type="xsd:string">%s'
                     '</psf:Value></psf:ParameterInit>' % features["watermark"])
        parts.append('<psf:ParameterInit name="psk:PageWatermarkTextFontSize"><psf:Value xsi:type="xsd:integer">'
                     '%d</psf:Value></psf:ParameterInit>' % features.get("watermark_size", 60))
    if features.get("fit"):
        feature("PageScaling", "psk:FitApplicationMediaSizeToPageImageableSize")
    if "scale" in features:
        feature("PageScaling", "psk:CustomSquare")
        parts.append('<psf:ParameterInit name="psk:PageScalingScale"><psf:Value xsi:type="xsd:integer">%d'
                     '</psf:Value></psf:ParameterInit>' % features["scale"])
    if "media" in features:
        width, height = features["media"]
        feature("PageMediaSize", "psk:Custom", scored("MediaSizeWidth", width), scored("MediaSizeHeight", height))
    if "output" in features:
        feature("OutputFormat", "zc:" + features["output"], prefix="zc")
    with open(path, "w", encoding="utf-8") as out:
        out.write('<?xml version="1.0" encoding="utf-8"?><psf:PrintTicket version="1" '
                  'xmlns:psf="http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework" '
                  'xmlns:psk="http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords" '
                  'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" '
                  'xmlns:zc="http://schemas.zorvane.com/creator/printschema/2026" '
                  'xmlns:xsd="http://www.w3.org/2001/XMLSchema">%s</psf:PrintTicket>' % "".join(parts))
