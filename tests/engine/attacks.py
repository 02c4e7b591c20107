"""Hostile documents, each built to make one of the engine's loops, sizes or
conversions run away, with what every format must make of it: "converted",
or the words of the one reason the engine names. check-attacks runs them
through zorvaneconvert.exe; bench/attacks times them and takes their memory.

Each document is small (at most about a megabyte); a format missing from a
case's table is not run for it."""
import os
import random
import struct
import sys
import zipfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../filters"))
import xpsdocs  # noqa: E402

PAGE = "Documents/1/Pages/1.fpage"
DOC = "Documents/1/FixedDocument.fdoc"
MC = "http://schemas.openxmlformats.org/markup-compatibility/2006"
CONVERTED = "converted"
BLANK = "converted, nothing drawn"  # a picture of white pixels only
DAMAGED = "the package is damaged"
TOO_MUCH_WORK = "more work than its size allows"
ALL_FORMATS = ("pdf", "pdfa1b", "pdfa2b", "svg", "emf", "png", "jpeg", "tiff")


def rewritten(source, target, change, extra=()):
    """target: source's package with change(name, data) -> data applied to every part, and extra parts added."""
    with zipfile.ZipFile(source) as old, zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as new:
        for item in old.infolist():
            new.writestr(item.filename, change(item.filename, old.read(item.filename)))
        for name, data in extra:
            new.writestr(name, data)


def page(body, width=600, height=800, namespaces=""):
    return ('<FixedPage xmlns="%s" xmlns:x="http://schemas.microsoft.com/xps/2005/06/resourcedictionary-key"%s '
            'Width="%d" Height="%d" xml:lang="en">%s</FixedPage>' % (xpsdocs.XPS, namespaces, width, height, body))


def glyphs(origin_x, fill="#80000000"):
    return ('<Glyphs FontUri="../../../Resources/font.ttf" FontRenderingEmSize="40" OriginX="%s" OriginY="30" '
            'UnicodeString="MMMM" Fill="%s"/>' % (origin_x, fill))


def far_glyphs(data):
    """Glyphs at the top of the page whose pixel x at 300 dpi lies just below 2^31 (where a box of the glyph
    wraps around), at 2^31 and far past it, and as far to the left: nothing of them is on the page. Also in a
    translucent group, which PDF/A-1b and EMF draw as a picture."""
    # 687194767 XPS units at 300 dpi are 2,147,483,647 pixels.
    near = "".join(glyphs("%d.%d" % (x, f), "#FF000000") for x in range(687194740, 687194770) for f in (0, 3, 5, 7))
    inner = near + glyphs("687194768") + glyphs("1e12") + glyphs("-687194767")
    return page('<Canvas Opacity="0.5">%s</Canvas>%s' % (inner, inner)).encode()


def countless_tiles(data):
    """A tiled image brush with a viewport so small that the tiles across times the tiles down pass 2^64."""
    return data.replace(b'ViewboxUnits="Absolute" Viewport="0,0,600,800"',
                        b'ViewboxUnits="Absolute" TileMode="Tile" Viewport="0,0,1e-7,1e-7"')


def nested_tiles(depth):
    """Visual brushes tiled 64 by 64, each tile's visual filled with the next brush, depth deep."""
    brush = '<SolidColorBrush Color="#FF2080C0"/>'
    for _ in range(depth):
        brush = ('<VisualBrush TileMode="Tile" Viewbox="0,0,10,10" ViewboxUnits="Absolute" Viewport="0,0,10,10" '
                 'ViewportUnits="Absolute"><VisualBrush.Visual><Path Data="M 0,0 L 640,0 640,640 0,640 Z">'
                 '<Path.Fill>%s</Path.Fill></Path></VisualBrush.Visual></VisualBrush>' % brush)
    return lambda data: page('<Path Data="M 0,0 L 640,0 640,640 0,640 Z"><Path.Fill>%s</Path.Fill></Path>'
                             % brush).encode()


def many_attributes(count):
    """A page with count attributes of an ignorable namespace on one element."""
    attributes = "".join(' z:a%d="%d"' % (i, i) for i in range(count))
    return lambda data: page('<Path Data="M 10,10 L 100,10 100,100 Z" Fill="#FF000000"%s/>' % attributes,
                             namespaces=' xmlns:mc="%s" xmlns:z="urn:z" mc:Ignorable="z"' % MC).encode()


def many_opacities(count):
    """count paths, each of its own opacity: as many graphics states, each named on the page."""
    return lambda data: page("".join('<Path Data="M 10,10 L 20,10 20,20 Z" Fill="#FF000000" Opacity="%.6f"/>'
                                     % (0.01 + 0.98 * i / count) for i in range(count))).encode()


def font_with_cmap_records(count):
    """DejaVu Sans with a cmap of count records, all naming one subtable that maps every code to a
    glyph the font does not have: each record read would read the subtable's 65,535 codes again."""
    font = bytearray(open(xpsdocs.FONT, "rb").read())
    # Codes 0 to 0xBFFE onto glyphs 0x4000 and up (DejaVu Sans has about 6,000), then the closing segment.
    subtable = struct.pack(">7H", 4, 32, 0, 4, 4, 1, 0) + struct.pack(">2H", 0xBFFE, 0xFFFF) + b"\0\0" + \
        struct.pack(">2H", 0, 0xFFFF) + struct.pack(">2H", 0x4000, 1) + b"\0\0\0\0"
    cmap = struct.pack(">2H", 0, count) + struct.pack(">2HI", 3, 1, 4 + 8 * count) * count + subtable
    tables = struct.unpack(">H", font[4:6])[0]
    for i in range(tables):
        record = 12 + 16 * i
        if font[record:record + 4] == b"cmap":
            font[record + 8:record + 16] = struct.pack(">2I", len(font), len(cmap))
    return bytes(font + cmap)


def hostile_png(profiles):
    """A 4 by 4 PNG with profiles iCCP chunks of 16 MB of zeros each."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    profile = chunk(b"iCCP", b"p\0\0" + zlib.compress(bytes(16 << 20), 9))
    rows = b"".join(b"\0" + bytes((250, 130, 10)) * 4 for _ in range(4))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 4, 4, 8, 2, 0, 0, 0)) +
            profile * profiles + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def image_used(times):
    """The image part drawn by times paths."""
    path = ('<Path Data="M 10,10 L 50,10 50,50 10,50 Z"><Path.Fill><ImageBrush ImageSource="../../../Resources/'
            'square.png" Viewbox="0,0,4,4" ViewboxUnits="Absolute" Viewport="10,10,40,40" '
            'ViewportUnits="Absolute"/></Path.Fill></Path>')
    return lambda data: page(path * times).encode()


def varied_case(text, generator):
    """text with each letter's case chosen at random: the same part name, and markup that does not
    compress past the package reader's zip bomb ratio."""
    return "".join(c.upper() if generator.random() < 0.5 else c.lower() for c in text)


def repeated_document(times):
    """A sequence naming an empty document (of 100 KB of white space) times, then one page."""
    generator = random.Random(28)

    def change(name, data):
        if name == "FixedDocumentSequence.fdseq":
            empty = "".join('<DocumentReference Source="%s"/>' % varied_case("Documents/2/FixedDocument.fdoc",
                                                                             generator) for _ in range(times))
            return data.replace(b"<DocumentReference", empty.encode() + b"<DocumentReference", 1)
        return data
    document = '<FixedDocument xmlns="%s">%s</FixedDocument>' % (xpsdocs.XPS, " " * 100000)
    return change, [("Documents/2/FixedDocument.fdoc", document)]


def unmatched_outline(entries):
    """An outline of entries that name a page the document does not have."""
    generator = random.Random(28)
    structure = ('<DocumentStructure xmlns="http://schemas.microsoft.com/xps/2005/06/documentstructure">'
                 '<DocumentStructure.Outline><DocumentOutline>%s</DocumentOutline></DocumentStructure.Outline>'
                 '</DocumentStructure>' % "".join('<OutlineEntry OutlineLevel="1" OutlineTarget="Pages/9999.fpage" '
                                                  'Description="%08x"/>' % generator.getrandbits(32)
                                                  for _ in range(entries)))
    rels = ('<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship '
            'Id="S" Type="http://schemas.microsoft.com/xps/2005/06/documentstructure" '
            'Target="/Documents/1/Structure/DocStructure.struct"/></Relationships>')
    return [("Documents/1/Structure/DocStructure.struct", structure), ("Documents/1/_rels/FixedDocument.fdoc.rels",
                                                                       rels)]


def huge_numbers(data):
    """An arc of radii 1e300, and a transform whose determinant is infinite."""
    return page('<Path Data="M 10,10 A 1e300,1e300 0 1 1 100,100 Z" Fill="#FF000000" Stroke="#FF0000FF"/>'
                '<Path Data="M 10,10 L 100,10 100,100 Z" Fill="#FF000000" RenderTransform="1e200,0,0,1e200,0,0"/>'
                '<Path Data="M 10,10 L 100,10 100,100 Z" Fill="#8000FF00" RenderTransform="1e-200,0,0,1e-200,0,0"/>'
                ).encode()


def page_sized_fills(count, gradient=False):
    """count paths the size of the page, each of a colour (or a radial gradient) of its own."""
    def fill(i):
        if not gradient:
            return 'Fill="#FF%02X%02X%02X"/>' % (i % 256, i * 7 % 256, i * 13 % 256)
        return ('><Path.Fill><RadialGradientBrush Center="300,400" GradientOrigin="300,%d" RadiusX="300" '
                'RadiusY="400" MappingMode="Absolute"><RadialGradientBrush.GradientStops><GradientStop '
                'Color="#FF0000FF" Offset="0"/><GradientStop Color="#FFFF0000" Offset="1"/>'
                '</RadialGradientBrush.GradientStops></RadialGradientBrush></Path.Fill></Path>' % (i % 800))
    return lambda data: page("".join('<Path Data="M 0,0 L 600,0 600,800 0,800 Z" ' + fill(i)
                                     for i in range(count))).encode()


def replace_page(make):
    return lambda name, data: make(data) if name == PAGE else data


def cases():
    """(name, base kind, change of its parts, extra parts, {format: outcome}) for every attack."""
    everywhere = dict.fromkeys(ALL_FORMATS, CONVERTED)
    off_page = dict(everywhere, png=BLANK, tiff=BLANK, jpeg=BLANK)
    documents_change, documents_extra = repeated_document(99999)
    return [
        ("glyphs near and past 2^31 pixels", "font", replace_page(far_glyphs), [], off_page),
        ("tiles past 2^64", "image", replace_page(countless_tiles), [],
         {f: CONVERTED for f in ("pdf", "svg", "emf", "png")}),
        ("visual brushes tiled 4096 times, 8 deep", "plain", replace_page(nested_tiles(8)), [],
         {"pdf": TOO_MUCH_WORK, "emf": TOO_MUCH_WORK, "svg": CONVERTED, "png": CONVERTED}),
        ("a font of 65,535 cmap records", "font",
         lambda name, data: font_with_cmap_records(65535) if name == "Resources/font.ttf" else data, [],
         {f: CONVERTED for f in ("pdf", "svg", "png")}),
        ("200,000 attributes on one element", "plain", replace_page(many_attributes(200000)), [],
         {f: CONVERTED for f in ("pdf", "svg")}),
        ("60,000 opacities on one page", "plain", replace_page(many_opacities(60000)), [], {"pdf": CONVERTED}),
        ("an image of 60 profiles drawn 50 times", "image",
         lambda name, data: hostile_png(60) if name == "Resources/square.png" else
         (image_used(50)(data) if name == PAGE else data), [],
         {f: DAMAGED for f in ("pdf", "svg", "emf", "png")}),
        ("a document named 99,999 times", "plain", documents_change, documents_extra, {"pdf": CONVERTED}),
        ("200,000 outline entries naming no page of 1,000", "pages", lambda name, data: data,
         unmatched_outline(200000),
         {"pdf": CONVERTED}),
        ("numbers past what doubles hold", "plain", replace_page(huge_numbers), [], everywhere),
    ]


def costly_cases():
    """Documents whose every element is work the engine must do (Wine's GDI+ and GDI are slow to fill and
    record): bounded by the work budget, too slow for the suite; bench/attacks shows them."""
    return [
        ("20,000 page-sized fills", "plain", replace_page(page_sized_fills(20000)), [],
         {f: TOO_MUCH_WORK for f in ("png", "emf", "pdfa1b")}),
        ("3,000 page-sized radial gradients", "plain", replace_page(page_sized_fills(3000, True)), [],
         {f: TOO_MUCH_WORK for f in ("png", "emf", "pdfa1b")}),
        ("a page of 200 by 200 inches", "plain",
         replace_page(lambda data: page('<Path Data="M 0,0 L 600,0 600,800 0,800 Z" Fill="#FF00FF00"/>',
                                        width=19200, height=19200).encode()), [],
         {"png": TOO_MUCH_WORK, "pdf": CONVERTED, "emf": CONVERTED}),
    ]


def build(work, name, kind, change, extra):
    """The case's document in work, from a base document of its kind."""
    base = os.path.join(work, "base-%s.xps" % kind)
    if not os.path.exists(base):
        # "pages": a thousand small plain pages; otherwise one page of the kind.
        xpsdocs.make(base, [(60, 80)] * 1000 if kind == "pages" else [(600, 800)],
                     kind="plain" if kind == "pages" else kind)
    path = os.path.join(work, name.replace(" ", "-").replace(",", "").replace("^", "") + ".xps")
    rewritten(base, path, change, extra)
    return path
