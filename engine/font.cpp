#include "engine/font.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "xps/workbudget.h"
#include "xps/ziparchive.h"

namespace engine {

const HRESULT kNotAFont = HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
const HRESULT kFontDamaged = HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
const HRESULT kFontOverCap = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
const HRESULT kFontCffOutlines = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);

// Bytes of the font, read big-endian. A read outside them gives 0, never
// memory past them; where running out is damage, Has() is asked first.
struct Font::View {
    const unsigned char* bytes = nullptr;
    std::size_t size = 0;

    bool Has(std::size_t offset, std::size_t length) const {
        return offset <= size && length <= size - offset;
    }
    View Sub(std::size_t offset, std::size_t length) const {
        return Has(offset, length) ? View{bytes + offset, length} : View{};
    }
    std::uint8_t U8(std::size_t at) const { return Has(at, 1) ? bytes[at] : 0; }
    std::uint16_t U16(std::size_t at) const {
        return Has(at, 2) ? static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]) : 0;
    }
    int S16(std::size_t at) const { return static_cast<std::int16_t>(U16(at)); }
    std::uint32_t U32(std::size_t at) const { return std::uint32_t{U16(at)} << 16 | U16(at + 2); }
    std::string Copy() const { return std::string(reinterpret_cast<const char*>(bytes), size); }
};

struct Font::GlyphPoints {
    struct OnCurvePoint {
        engine::Point at;
        bool onCurve = true;
    };
    std::vector<OnCurvePoint> points;
    std::vector<std::size_t> contourEnds;  // one past each contour's last point
};

struct Font::Component {
    std::uint16_t flags = 0;
    std::uint16_t glyph = 0;
    int arg1 = 0, arg2 = 0;
    Matrix transform;  // scale and rotation only; the offset comes from the arguments
};

namespace {

constexpr std::uint32_t Tag(const char (&name)[5]) {
    return std::uint32_t(std::uint8_t(name[0])) << 24 | std::uint32_t(std::uint8_t(name[1])) << 16 |
           std::uint32_t(std::uint8_t(name[2])) << 8 | std::uint8_t(name[3]);
}

// Composite glyph component flags.
constexpr std::uint16_t kArgsAreWords = 0x0001;
constexpr std::uint16_t kArgsAreOffsets = 0x0002;
constexpr std::uint16_t kHaveScale = 0x0008;
constexpr std::uint16_t kMoreComponents = 0x0020;
constexpr std::uint16_t kHaveXYScale = 0x0040;
constexpr std::uint16_t kHaveTwoByTwo = 0x0080;
constexpr std::uint16_t kScaledOffset = 0x0800;
constexpr std::uint16_t kUnscaledOffset = 0x1000;
// Simple glyph point flags.
constexpr std::uint8_t kOnCurve = 0x01;
constexpr std::uint8_t kXShort = 0x02;
constexpr std::uint8_t kYShort = 0x04;
constexpr std::uint8_t kRepeat = 0x08;
constexpr std::uint8_t kXSameOrPositive = 0x10;
constexpr std::uint8_t kYSameOrPositive = 0x20;

// Tables a subset keeps as they are, when the font has them.
constexpr std::uint32_t kSubsetTables[] = {Tag("hhea"), Tag("maxp"), Tag("hmtx"), Tag("cvt "),
                                           Tag("fpgm"), Tag("prep"), Tag("OS/2")};

double F2Dot14(int value) { return value / 16384.0; }

// The key of an obfuscated font is the GUID of its part's file name
// ("{B03B02B01B00-B11B10-B21B20-B30B31-B32B33B34B35B36B37}.odttf", braces
// and dashes optional): its 16 bytes in the order the name spells them,
// XORed in reverse order over bytes 0-15 of the font and again over 16-31.
HRESULT Deobfuscate(const std::wstring& partName, std::string& bytes) {
    std::size_t slash = partName.find_last_of(L'/');
    std::wstring name = partName.substr(slash == std::wstring::npos ? 0 : slash + 1);
    name = name.substr(0, name.find(L'.'));
    unsigned char key[16] = {};
    std::size_t digits = 0;
    for (wchar_t c : name) {
        if (c == L'{' || c == L'}' || c == L'-') {
            continue;
        }
        int value = (c >= L'0' && c <= L'9')   ? c - L'0'
                    : (c >= L'a' && c <= L'f') ? c - L'a' + 10
                    : (c >= L'A' && c <= L'F') ? c - L'A' + 10
                                               : -1;
        if (value < 0 || digits == 32) {
            return kNotAFont;
        }
        key[digits / 2] = static_cast<unsigned char>(key[digits / 2] << 4 | value);
        ++digits;
    }
    if (digits != 32 || bytes.size() < 32) {
        return kNotAFont;
    }
    for (std::size_t i = 0; i < 32; ++i) {
        bytes[i] = static_cast<char>(bytes[i] ^ key[15 - i % 16]);
    }
    return S_OK;
}

std::uint32_t Checksum(const std::string& bytes, std::size_t offset, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < length; i += 4) {
        std::uint32_t word = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            std::size_t at = offset + i + j;
            word = word << 8 | (i + j < length ? static_cast<unsigned char>(bytes[at]) : 0u);
        }
        sum += word;
    }
    return sum;
}

// Writes within out only: a table shorter than its format keeps its length.
void PutU16(std::string& out, std::size_t at, std::uint32_t value) {
    if (at > out.size() || out.size() - at < 2) {
        return;
    }
    out[at] = static_cast<char>(value >> 8);
    out[at + 1] = static_cast<char>(value);
}

void PutU32(std::string& out, std::size_t at, std::uint32_t value) {
    PutU16(out, at, value >> 16);
    PutU16(out, at + 2, value);
}

// A font file of these tables: directory sorted by tag, each table padded to
// four bytes with its checksum, and head's checkSumAdjustment made so that
// the whole file sums to 0xB1B0AFBA.
std::string WriteSfnt(std::uint32_t version, std::vector<std::pair<std::uint32_t, std::string>> tables) {
    std::sort(tables.begin(), tables.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::size_t count = tables.size();
    std::uint32_t selector = 0;
    while ((2u << selector) <= count) {
        ++selector;
    }
    std::size_t size = 12 + 16 * count;
    for (const auto& table : tables) {
        size += (table.second.size() + 3) & ~std::size_t{3};
    }
    std::string out(size, '\0');
    PutU32(out, 0, version);
    PutU16(out, 4, static_cast<std::uint32_t>(count));
    PutU16(out, 6, 16u << selector);
    PutU16(out, 8, selector);
    PutU16(out, 10, static_cast<std::uint32_t>(16 * count - (16u << selector)));
    std::size_t offset = 12 + 16 * count;
    std::size_t head = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::string& data = tables[i].second;
        if (tables[i].first == Tag("head")) {
            head = offset;
            PutU32(data, 8, 0);
        }
        out.replace(offset, data.size(), data);
        std::size_t record = 12 + 16 * i;
        PutU32(out, record, tables[i].first);
        PutU32(out, record + 4, Checksum(out, offset, data.size()));
        PutU32(out, record + 8, static_cast<std::uint32_t>(offset));
        PutU32(out, record + 12, static_cast<std::uint32_t>(data.size()));
        offset += (data.size() + 3) & ~std::size_t{3};
    }
    if (head != 0) {
        PutU32(out, head + 8, 0xB1B0AFBAu - Checksum(out, 0, out.size()));
    }
    return out;
}

void AppendU16(std::string& out, std::uint32_t value) {
    out += static_cast<char>((value >> 8) & 0xFF);
    out += static_cast<char>(value & 0xFF);
}

void AppendU32(std::string& out, std::uint32_t value) {
    AppendU16(out, value >> 16);
    AppendU16(out, value);
}

// A Unicode cmap of the characters: runs of consecutive characters on
// consecutive glyphs are one segment (format 4) or group (format 12).
std::string MakeCmap(const std::vector<std::pair<char32_t, std::uint16_t>>& characters) {
    struct Run {
        char32_t first, last;
        std::uint16_t glyph;
    };
    std::vector<Run> bmp, all;
    for (const auto& entry : characters) {
        for (std::vector<Run>* runs : {&bmp, &all}) {
            if (runs == &bmp && entry.first >= 0xFFFF) {
                continue;
            }
            if (!runs->empty() && runs->back().last + 1 == entry.first &&
                runs->back().glyph + (entry.first - runs->back().first) == entry.second) {
                runs->back().last = entry.first;
            } else {
                runs->push_back({entry.first, entry.first, entry.second});
            }
        }
    }
    bmp.push_back({0xFFFF, 0xFFFF, 0});  // the closing segment format 4 asks for
    const bool beyond = !characters.empty() && characters.back().first > 0xFFFF;
    std::string cmap;
    AppendU16(cmap, 0);
    AppendU16(cmap, beyond ? 2 : 1);
    AppendU16(cmap, 3);
    AppendU16(cmap, 1);
    AppendU32(cmap, beyond ? 20 : 12);
    const std::uint32_t segments = static_cast<std::uint32_t>(bmp.size());
    const std::uint32_t length4 = 16 + 8 * segments;
    if (beyond) {
        AppendU16(cmap, 3);
        AppendU16(cmap, 10);
        AppendU32(cmap, 20 + length4);
    }
    std::uint32_t selector = 0;
    while ((2u << selector) <= segments) {
        ++selector;
    }
    AppendU16(cmap, 4);
    AppendU16(cmap, length4);
    AppendU16(cmap, 0);
    AppendU16(cmap, 2 * segments);
    AppendU16(cmap, 2u << selector);
    AppendU16(cmap, selector);
    AppendU16(cmap, 2 * segments - (2u << selector));
    for (const Run& run : bmp) {
        AppendU16(cmap, run.last);
    }
    AppendU16(cmap, 0);
    for (const Run& run : bmp) {
        AppendU16(cmap, run.first);
    }
    for (const Run& run : bmp) {
        AppendU16(cmap, (run.glyph - run.first) & 0xFFFF);
    }
    cmap.append(2 * bmp.size(), '\0');  // idRangeOffset: the deltas say it all
    if (beyond) {
        AppendU16(cmap, 12);
        AppendU16(cmap, 0);
        AppendU32(cmap, 16 + 12 * static_cast<std::uint32_t>(all.size()));
        AppendU32(cmap, 0);
        AppendU32(cmap, static_cast<std::uint32_t>(all.size()));
        for (const Run& run : all) {
            AppendU32(cmap, run.first);
            AppendU32(cmap, run.last);
            AppendU32(cmap, run.glyph);
        }
    }
    return cmap;
}

// A name table of Windows Unicode records calling the font family.
std::string MakeNameTable(const std::string& family) {
    const std::uint16_t kIds[] = {1, 2, 4, 6};  // family, subfamily, full name, PostScript name
    std::string strings;
    std::string table;
    AppendU16(table, 0);
    AppendU16(table, 4);
    AppendU16(table, 6 + 12 * 4);
    for (std::uint16_t id : kIds) {
        const std::string text = id == 2 ? std::string("Regular") : family;
        AppendU16(table, 3);
        AppendU16(table, 1);
        AppendU16(table, 0x409);
        AppendU16(table, id);
        AppendU16(table, static_cast<std::uint32_t>(2 * text.size()));
        AppendU16(table, static_cast<std::uint32_t>(strings.size()));
        for (char c : text) {
            AppendU16(strings, static_cast<unsigned char>(c));
        }
    }
    return table + strings;
}

// What a PDF name and a PostScript name may hold: printable ASCII but the
// delimiters and the name escape, at most 63 characters.
void AppendNameCharacter(std::string& name, std::uint32_t c) {
    static const char kDelimiters[] = "()<>[]{}/%#";
    if (c > 32 && c < 127 && !std::strchr(kDelimiters, static_cast<int>(c)) && name.size() < 63) {
        name.push_back(static_cast<char>(c));
    }
}

// A quadratic Bézier from the current point as the cubic that draws it.
void AddQuadratic(Figure& figure, engine::Point from, engine::Point control, engine::Point to) {
    Segment s;
    s.cubic = true;
    s.control1 = {from.x + (control.x - from.x) * 2 / 3, from.y + (control.y - from.y) * 2 / 3};
    s.control2 = {to.x + (control.x - to.x) * 2 / 3, to.y + (control.y - to.y) * 2 / 3};
    s.end = to;
    figure.segments.push_back(s);
}

engine::Point Midpoint(engine::Point a, engine::Point b) { return {(a.x + b.x) / 2, (a.y + b.y) / 2}; }

}  // namespace

// The components of a composite glyph (glyph: its whole data); kFontDamaged
// when one runs past the glyph's end, kFontOverCap past limit of them.
HRESULT Font::ReadComponents(const View& glyph, std::vector<Component>& components, std::size_t limit) {
    components.clear();
    std::size_t at = 10;
    for (;;) {
        if (components.size() >= limit || !xps::ChargeWork(xps::kLookUpCost)) {
            return kFontOverCap;
        }
        if (!glyph.Has(at, 4)) {
            return kFontDamaged;
        }
        Component c;
        c.flags = glyph.U16(at);
        c.glyph = glyph.U16(at + 2);
        at += 4;
        bool offsets = (c.flags & kArgsAreOffsets) != 0;
        if (c.flags & kArgsAreWords) {
            if (!glyph.Has(at, 4)) {
                return kFontDamaged;
            }
            c.arg1 = offsets ? glyph.S16(at) : glyph.U16(at);
            c.arg2 = offsets ? glyph.S16(at + 2) : glyph.U16(at + 2);
            at += 4;
        } else {
            if (!glyph.Has(at, 2)) {
                return kFontDamaged;
            }
            c.arg1 = offsets ? static_cast<std::int8_t>(glyph.U8(at)) : glyph.U8(at);
            c.arg2 = offsets ? static_cast<std::int8_t>(glyph.U8(at + 1)) : glyph.U8(at + 1);
            at += 2;
        }
        std::size_t scaleBytes = (c.flags & kHaveTwoByTwo)  ? 8
                                 : (c.flags & kHaveXYScale) ? 4
                                 : (c.flags & kHaveScale)   ? 2
                                                            : 0;
        if (!glyph.Has(at, scaleBytes)) {
            return kFontDamaged;
        }
        if (scaleBytes == 2) {
            c.transform.m11 = c.transform.m22 = F2Dot14(glyph.S16(at));
        } else if (scaleBytes == 4) {
            c.transform.m11 = F2Dot14(glyph.S16(at));
            c.transform.m22 = F2Dot14(glyph.S16(at + 2));
        } else if (scaleBytes == 8) {
            c.transform.m11 = F2Dot14(glyph.S16(at));
            c.transform.m12 = F2Dot14(glyph.S16(at + 2));
            c.transform.m21 = F2Dot14(glyph.S16(at + 4));
            c.transform.m22 = F2Dot14(glyph.S16(at + 6));
        }
        at += scaleBytes;
        components.push_back(c);
        if (!(c.flags & kMoreComponents)) {
            return S_OK;
        }
    }
}

HRESULT Font::Load(std::string bytes, const std::wstring& partName, bool obfuscated,
                   std::uint16_t faceIndex) {
    HRESULT hr =
        xps::WithoutThrowing([&] { return LoadFace(std::move(bytes), partName, obfuscated, faceIndex); });
    if (FAILED(hr)) {
        *this = Font();
    }
    return hr;
}

HRESULT Font::LoadFace(std::string bytes, const std::wstring& partName, bool obfuscated,
                       std::uint16_t faceIndex) {
    *this = Font();
    if (bytes.size() > kMaxBytes) {
        return kFontOverCap;
    }
    if (obfuscated) {
        HRESULT hr = Deobfuscate(partName, bytes);
        if (FAILED(hr)) {
            return hr;
        }
    }
    data_ = std::move(bytes);
    View file = At({0, data_.size()});
    if (!file.Has(0, 12)) {
        return kNotAFont;
    }
    std::size_t directory = 0;
    if (file.U32(0) == Tag("ttcf")) {
        std::uint32_t faces = file.U32(8);
        if (faceIndex >= faces || !file.Has(12 + 4 * std::size_t{faceIndex}, 4)) {
            return kFontDamaged;
        }
        directory = file.U32(12 + 4 * std::size_t{faceIndex});
        collection_ = true;
    } else if (faceIndex != 0) {
        return kFontDamaged;
    }
    HRESULT hr = ReadDirectory(directory);
    if (FAILED(hr)) {
        return hr;
    }
    return ReadTables();
}

Font::View Font::At(Span span) const {
    return View{reinterpret_cast<const unsigned char*>(data_.data()) + span.offset, span.length};
}

Font::Span Font::SpanOf(std::uint32_t tag) const {
    for (const Table& table : tables_) {
        if (table.tag == tag) {
            return table.span;
        }
    }
    return Span{};
}

Font::View Font::TableOf(std::uint32_t tag) const { return At(SpanOf(tag)); }

HRESULT Font::ReadDirectory(std::size_t offset) {
    View file = At({0, data_.size()});
    if (!file.Has(offset, 12)) {
        return kFontDamaged;
    }
    sfntVersion_ = file.U32(offset);
    if (sfntVersion_ == Tag("OTTO")) {
        cff_ = true;
    } else if (sfntVersion_ != 0x00010000u && sfntVersion_ != Tag("true")) {
        return kNotAFont;
    }
    std::size_t count = file.U16(offset + 4);
    if (count > kMaxTables) {
        return kFontOverCap;
    }
    if (!file.Has(offset + 12, 16 * count)) {
        return kFontDamaged;
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t record = offset + 12 + 16 * i;
        Table table{file.U32(record), {file.U32(record + 8), file.U32(record + 12)}};
        if (!file.Has(table.span.offset, table.span.length)) {
            return kFontDamaged;
        }
        tables_.push_back(table);
    }
    return S_OK;
}

HRESULT Font::ReadTables() {
    View head = TableOf(Tag("head")), maxp = TableOf(Tag("maxp")), hhea = TableOf(Tag("hhea"));
    if (!head.Has(0, 54) || !maxp.Has(0, 6) || !hhea.Has(0, 36)) {
        return kFontDamaged;
    }
    metrics_.unitsPerEm = head.U16(18);
    if (metrics_.unitsPerEm < 16 || metrics_.unitsPerEm > 16384) {
        return kFontDamaged;
    }
    metrics_.xMin = head.S16(36);
    metrics_.yMin = head.S16(38);
    metrics_.xMax = head.S16(40);
    metrics_.yMax = head.S16(42);
    glyphCount_ = maxp.U16(4);
    metrics_.ascender = hhea.S16(4);
    metrics_.descender = hhea.S16(6);
    metrics_.lineGap = hhea.S16(8);
    horizontalMetrics_ = std::min(hhea.U16(34), glyphCount_);
    View hmtx = TableOf(Tag("hmtx"));
    if (glyphCount_ == 0 || horizontalMetrics_ == 0 || !hmtx.Has(0, 4 * std::size_t{horizontalMetrics_})) {
        return kFontDamaged;
    }
    hmtx_ = SpanOf(Tag("hmtx"));
    View vhea = TableOf(Tag("vhea")), vmtx = TableOf(Tag("vmtx"));
    std::uint16_t verticalMetrics = std::min(vhea.U16(34), glyphCount_);
    if (vhea.Has(0, 36) && verticalMetrics > 0 && vmtx.Has(0, 4 * std::size_t{verticalMetrics})) {
        verticalMetrics_ = verticalMetrics;
        vmtx_ = SpanOf(Tag("vmtx"));
    }
    bool cffTable = TableOf(Tag("CFF ")).size > 0 || TableOf(Tag("CFF2")).size > 0;
    if (!cff_ && cffTable && TableOf(Tag("glyf")).size == 0) {
        cff_ = true;
    }
    if (cff_ && !cffTable) {
        return kFontDamaged;
    }
    HRESULT hr = cff_ ? ReadCff() : ReadGlyphLocations(head.S16(50));
    if (FAILED(hr)) {
        return hr;
    }
    bool heights = ReadOs2AndPost();
    ReadName();
    ReadCmap();
    if (!heights) {
        if (!GlyphTop(U'H', metrics_.capHeight)) {
            metrics_.capHeight = metrics_.ascender;
        }
        if (!GlyphTop(U'x', metrics_.xHeight)) {
            metrics_.xHeight = 0;
        }
    }
    return S_OK;
}

HRESULT Font::ReadGlyphLocations(int locationFormat) {
    View loca = TableOf(Tag("loca")), glyf = TableOf(Tag("glyf"));
    std::size_t entry = locationFormat == 0 ? 2 : 4;
    std::size_t count = std::size_t{glyphCount_} + 1;
    if ((locationFormat != 0 && locationFormat != 1) || !loca.Has(0, entry * count)) {
        return kFontDamaged;
    }
    glyf_ = SpanOf(Tag("glyf"));
    locations_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t location = entry == 2 ? 2u * loca.U16(2 * i) : loca.U32(4 * i);
        if (location > glyf.size || (i > 0 && location < locations_[i - 1])) {
            return kFontDamaged;
        }
        locations_[i] = location;
    }
    return S_OK;
}

// True when OS/2 gives the cap height and x-height.
bool Font::ReadOs2AndPost() {
    View os2 = TableOf(Tag("OS/2"));
    if (os2.Has(0, 10)) {
        metrics_.weightClass = os2.U16(4);
        metrics_.fsType = os2.U16(8);
    }
    if (os2.Has(0, 78)) {
        metrics_.hasOs2 = true;
        metrics_.typoAscender = os2.S16(68);
        metrics_.typoDescender = os2.S16(70);
        metrics_.typoLineGap = os2.S16(72);
        metrics_.winAscent = os2.U16(74);
        metrics_.winDescent = os2.U16(76);
    }
    View post = TableOf(Tag("post"));
    if (post.Has(0, 16)) {
        metrics_.italicAngle = static_cast<std::int32_t>(post.U32(4)) / 65536.0;
        metrics_.fixedPitch = post.U32(12) != 0;
    }
    if (os2.U16(0) < 2 || !os2.Has(0, 90)) {
        return false;
    }
    metrics_.xHeight = os2.S16(86);
    metrics_.capHeight = os2.S16(88);
    return true;
}

void Font::ReadName() {
    View name = TableOf(Tag("name"));
    std::size_t count = name.U16(2), storage = name.U16(4);
    // name id 6, else 4 (the full name), from Windows' or Unicode's UTF-16
    // records or else the Macintosh's one-byte ones.
    std::string best;
    int bestRank = 0;
    for (std::size_t i = 0; i < count && name.Has(6 + 12 * i, 12); ++i) {
        std::size_t record = 6 + 12 * i;
        std::uint16_t platform = name.U16(record), id = name.U16(record + 6);
        bool wide = platform == 0 || platform == 3;
        if ((id != 6 && id != 4) || (!wide && platform != 1)) {
            continue;
        }
        View text = name.Sub(storage + name.U16(record + 10), name.U16(record + 8));
        std::string candidate;
        for (std::size_t at = 0; at < text.size; at += wide ? 2 : 1) {
            AppendNameCharacter(candidate, wide ? text.U16(at) : text.U8(at));
        }
        int rank = (id == 6 ? 4 : 1) + (wide ? 1 : 0);
        if (!candidate.empty() && rank > bestRank) {
            best = candidate;
            bestRank = rank;
        }
    }
    metrics_.postScriptName = best;
}

namespace {

// Ranks of cmap subtables by platform and encoding: full Unicode first, then
// the basic plane, then the symbol encoding; 0: not read.
int CmapRank(std::uint16_t platform, std::uint16_t encoding) {
    if (platform == 3) {
        return encoding == 10 ? 6 : encoding == 1 ? 4 : encoding == 0 ? 1 : 0;
    }
    if (platform == 0) {
        return encoding == 4 || encoding == 6 ? 5 : encoding <= 3 ? 3 : 0;
    }
    return 0;
}

}  // namespace

// The mappings of one cmap subtable (formats 0, 4, 6, 12) to glyphs below
// glyphCount, each code point read taken from budget (the font's, across
// all its subtables); false for another format or a subtable that lies past
// the table.
bool Font::ReadCmapSubtable(const View& table, std::uint16_t glyphCount,
                            std::vector<std::pair<char32_t, std::uint16_t>>& map, std::size_t& budget) {
    auto add = [&](std::uint32_t code, std::uint32_t glyph) {
        if (budget == 0) {
            return false;
        }
        if (glyph != 0 && glyph < glyphCount) {
            map.emplace_back(code, static_cast<std::uint16_t>(glyph));
        }
        return --budget > 0;
    };
    switch (table.U16(0)) {
        case 0:
            if (!table.Has(6, 256)) {
                return false;
            }
            for (std::uint32_t code = 0; code < 256; ++code) {
                add(code, table.U8(6 + code));
            }
            return true;
        case 4: {
            std::size_t segments = table.U16(6) / 2;
            if (segments == 0 || !table.Has(14, 8 * segments + 2)) {
                return false;
            }
            std::size_t starts = 16 + 2 * segments, deltas = starts + 2 * segments,
                        ranges = deltas + 2 * segments;
            for (std::size_t i = 0; i < segments; ++i) {
                std::uint32_t start = table.U16(starts + 2 * i), end = table.U16(14 + 2 * i);
                std::uint32_t delta = table.U16(deltas + 2 * i);
                std::size_t range = table.U16(ranges + 2 * i);
                for (std::uint32_t code = start; code <= end && code != 0xFFFF; ++code) {
                    // A range offset points, from where it is stored, into the
                    // glyph ids; 0 there stays unmapped.
                    std::uint32_t glyph =
                        range == 0 ? code : table.U16(ranges + 2 * i + range + 2 * (code - start));
                    if (!add(code, range != 0 && glyph == 0 ? 0 : (glyph + delta) & 0xFFFF)) {
                        return true;
                    }
                }
            }
            return true;
        }
        case 6: {
            std::uint32_t first = table.U16(6);
            std::size_t count = table.U16(8);
            if (!table.Has(10, 2 * count)) {
                return false;
            }
            for (std::size_t i = 0; i < count; ++i) {
                add(first + static_cast<std::uint32_t>(i), table.U16(10 + 2 * i));
            }
            return true;
        }
        case 12: {
            std::size_t groups = table.U32(12);
            if (!table.Has(0, 16) || groups > (table.size - 16) / 12) {
                return false;
            }
            for (std::size_t i = 0; i < groups; ++i) {
                std::size_t group = 16 + 12 * i;
                std::uint32_t start = table.U32(group), end = std::min(table.U32(group + 4), 0x10FFFFu);
                std::uint32_t glyph = table.U32(group + 8);
                for (std::uint32_t code = start;
                     code <= end && std::uint64_t{glyph} + (code - start) < glyphCount; ++code) {
                    if (!add(code, glyph + (code - start))) {
                        return true;
                    }
                }
            }
            return true;
        }
        default:
            return false;
    }
}

void Font::ReadCmap() {
    View cmap = TableOf(Tag("cmap"));
    std::vector<std::pair<int, std::size_t>> candidates;  // rank, subtable offset
    for (std::size_t i = 0; i < cmap.U16(2) && cmap.Has(4 + 8 * i, 8); ++i) {
        int rank = CmapRank(cmap.U16(4 + 8 * i), cmap.U16(6 + 8 * i));
        if (rank > 0) {
            candidates.emplace_back(rank, cmap.U32(8 + 8 * i));
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    metrics_.symbolic = true;
    // One budget for the whole table, and each subtable read once however
    // many records name it: a small font cannot make this slow.
    std::size_t budget = kMaxMappedCodePoints;
    std::set<std::size_t> tried;
    for (const auto& candidate : candidates) {
        if (budget == 0 || !xps::ChargeWork(xps::kLookUpCost)) {
            break;
        }
        if (!tried.insert(candidate.second).second) {
            continue;
        }
        View subtable = cmap.Sub(candidate.second, cmap.size - std::min(candidate.second, cmap.size));
        cmap_.clear();
        if (ReadCmapSubtable(subtable, glyphCount_, cmap_, budget) && !cmap_.empty()) {
            metrics_.symbolic = candidate.first == 1;
            break;
        }
    }
    xps::ChargeWork((kMaxMappedCodePoints - budget) * xps::kLookUpCost);
    std::stable_sort(cmap_.begin(), cmap_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    cmap_.erase(std::unique(cmap_.begin(), cmap_.end(),
                            [](const auto& a, const auto& b) { return a.first == b.first; }),
                cmap_.end());
    codePoints_.assign(glyphCount_, 0);
    for (auto it = cmap_.rbegin(); it != cmap_.rend(); ++it) {
        codePoints_[it->second] = it->first;
    }
    direct_.assign(kDirectCodes, 0);
    for (const auto& entry : cmap_) {
        if (entry.first >= kDirectCodes) {
            break;
        }
        direct_[entry.first] = entry.second;
    }
}

Font::View Font::GlyphOf(std::uint16_t glyph) const {
    if (cff_ || glyph >= glyphCount_) {
        return View{};
    }
    return At(glyf_).Sub(locations_[glyph], locations_[glyph + 1] - locations_[glyph]);
}

bool Font::GlyphTop(char32_t codePoint, int& top) const {
    std::uint16_t glyph = GlyphFor(codePoint);
    View data = GlyphOf(glyph);
    if (glyph == 0 || !data.Has(0, 10)) {
        return false;
    }
    top = data.S16(8);
    return true;
}

bool Font::MayEmbed() const {
    std::uint16_t rights = metrics_.fsType;
    // Bits 1-3 are exclusive; where several are set the least restrictive
    // counts, so restricted-licence stands only alone.
    return (rights & 0x0200) == 0 && (rights & 0x000E) != 0x0002;
}

bool Font::MaySubset() const { return (metrics_.fsType & 0x0100) == 0; }

int Font::Advance(std::uint16_t glyph) const {
    if (glyph >= glyphCount_) {
        return 0;
    }
    return At(hmtx_).U16(4 * std::size_t{std::min<std::uint16_t>(glyph, horizontalMetrics_ - 1)});
}

int Font::VerticalAdvance(std::uint16_t glyph) const {
    if (verticalMetrics_ > 0 && glyph < glyphCount_) {
        return At(vmtx_).U16(4 * std::size_t{std::min<std::uint16_t>(glyph, verticalMetrics_ - 1)});
    }
    // As FreeType (and so the XPS readers on it) makes up the advance of a
    // font without vertical metrics: OS/2's typographic height first.
    int height = metrics_.hasOs2 ? metrics_.typoAscender - metrics_.typoDescender : 0;
    height = height > 0 ? height : metrics_.ascender - metrics_.descender;
    return height > 0 ? height : metrics_.unitsPerEm;
}

std::uint16_t Font::GlyphFor(char32_t codePoint) const {
    auto find = [this](char32_t code) -> std::uint16_t {
        if (code < direct_.size()) {
            return direct_[code];
        }
        auto it = std::lower_bound(cmap_.begin(), cmap_.end(), code,
                                   [](const auto& entry, char32_t c) { return entry.first < c; });
        return it != cmap_.end() && it->first == code ? it->second : 0;
    };
    std::uint16_t glyph = find(codePoint);
    if (glyph == 0 && metrics_.symbolic && codePoint <= 0xFF) {
        glyph = find(0xF000 + codePoint);
    }
    return glyph;
}

char32_t Font::CodePointOf(std::uint16_t glyph) const {
    return glyph < codePoints_.size() ? codePoints_[glyph] : 0;
}

HRESULT Font::Program(std::string& font) const {
    return xps::WithoutThrowing([&]() -> HRESULT {
        if (!collection_) {
            font = data_;
            return S_OK;
        }
        // A tag the face's directory repeats is the first of them, as
        // everything else here reads it.
        std::vector<std::pair<std::uint32_t, std::string>> tables;
        std::set<std::uint32_t> tags;
        for (const Table& table : tables_) {
            if (tags.insert(table.tag).second) {
                tables.emplace_back(table.tag, At(table.span).Copy());
            }
        }
        font = WriteSfnt(sfntVersion_, std::move(tables));
        return S_OK;
    });
}

HRESULT Font::Subset(const std::set<std::uint16_t>& glyphs, std::string& font,
                     const CharacterMap* characters) const {
    if (cff_) {
        return kFontCffOutlines;
    }
    if (characters != nullptr) {
        if (characters->characters.size() > kMaxSubsetCharacters || characters->family.size() > 63) {
            return kFontOverCap;
        }
        for (std::size_t i = 0; i < characters->characters.size(); ++i) {
            char32_t c = characters->characters[i].first;
            if (c > 0x10FFFF || characters->characters[i].second >= glyphCount_ ||
                (i > 0 && c <= characters->characters[i - 1].first)) {
                return E_INVALIDARG;
            }
        }
        for (char c : characters->family) {
            if (c < 0x20 || c > 0x7E) {
                return E_INVALIDARG;
            }
        }
    }
    return xps::WithoutThrowing([&]() -> HRESULT {
        // Glyph 0, the chosen glyphs and the components of each, each glyph
        // looked at once.
        std::vector<bool> keep(glyphCount_);
        std::vector<std::uint16_t> pending{0};
        keep[0] = true;
        for (std::uint16_t glyph : glyphs) {
            if (glyph < glyphCount_ && !keep[glyph]) {
                keep[glyph] = true;
                pending.push_back(glyph);
            }
        }
        std::vector<Component> components;
        while (!pending.empty()) {
            View data = GlyphOf(pending.back());
            pending.pop_back();
            if (data.size == 0 || data.S16(0) >= 0) {
                continue;
            }
            HRESULT hr = ReadComponents(data, components, kMaxComponents);
            if (FAILED(hr)) {
                return hr;
            }
            for (const Component& c : components) {
                if (c.glyph < glyphCount_ && !keep[c.glyph]) {
                    keep[c.glyph] = true;
                    pending.push_back(c.glyph);
                }
            }
        }
        std::string glyf;
        std::vector<std::uint32_t> locations(std::size_t{glyphCount_} + 1);
        for (std::size_t glyph = 0; glyph < glyphCount_; ++glyph) {
            locations[glyph] = static_cast<std::uint32_t>(glyf.size());
            if (keep[glyph]) {
                glyf += GlyphOf(static_cast<std::uint16_t>(glyph)).Copy();
                glyf.resize((glyf.size() + 3) & ~std::size_t{3});
            }
        }
        locations[glyphCount_] = static_cast<std::uint32_t>(glyf.size());
        bool shortLocations = glyf.size() <= 0x1FFFE;
        std::string loca(locations.size() * (shortLocations ? 2 : 4), '\0');
        for (std::size_t i = 0; i < locations.size(); ++i) {
            if (shortLocations) {
                PutU16(loca, 2 * i, locations[i] / 2);
            } else {
                PutU32(loca, 4 * i, locations[i]);
            }
        }
        std::vector<std::pair<std::uint32_t, std::string>> tables;
        std::string head = TableOf(Tag("head")).Copy();
        PutU16(head, 50, shortLocations ? 0 : 1);
        tables.emplace_back(Tag("head"), std::move(head));
        tables.emplace_back(Tag("loca"), std::move(loca));
        tables.emplace_back(Tag("glyf"), std::move(glyf));
        for (std::uint32_t tag : kSubsetTables) {
            View table = TableOf(tag);
            if (table.size > 0) {
                tables.emplace_back(tag, table.Copy());
            }
        }
        View post = TableOf(Tag("post"));
        if (post.Has(0, 32)) {
            std::string names = post.Sub(0, 32).Copy();
            PutU32(names, 0, 0x00030000);  // no glyph names
            tables.emplace_back(Tag("post"), std::move(names));
        }
        if (characters != nullptr) {
            tables.emplace_back(Tag("cmap"), MakeCmap(characters->characters));
            tables.emplace_back(Tag("name"), MakeNameTable(characters->family));
        }
        font = WriteSfnt(0x00010000, std::move(tables));
        return S_OK;
    });
}

HRESULT Font::AddGlyphPoints(std::uint16_t glyph, int depth, std::size_t& budget, GlyphPoints& out) const {
    View data = GlyphOf(glyph);
    if (budget == 0 || depth > kMaxCompositeDepth) {
        return kFontOverCap;
    }
    --budget;
    if (data.size == 0) {
        return S_OK;
    }
    if (!data.Has(0, 10)) {
        return kFontDamaged;
    }
    int contours = data.S16(0);
    if (contours >= 0) {
        std::size_t at = 10 + 2 * std::size_t(contours);
        if (!data.Has(10, 2 * std::size_t(contours) + 2)) {
            return kFontDamaged;
        }
        std::size_t count = 0;
        for (int i = 0; i < contours; ++i) {
            std::size_t end = std::size_t{data.U16(10 + 2 * std::size_t(i))} + 1;
            if (end <= count && i > 0) {
                return kFontDamaged;
            }
            count = end;
            out.contourEnds.push_back(end);
        }
        if (count > budget) {
            return kFontOverCap;
        }
        budget -= count;
        at += 2 + data.U16(at);
        std::vector<std::uint8_t> flags;
        while (flags.size() < count) {
            if (!data.Has(at, 1)) {
                return kFontDamaged;
            }
            std::uint8_t flag = data.U8(at++);
            std::size_t repeat = 1;
            if (flag & kRepeat) {
                if (!data.Has(at, 1)) {
                    return kFontDamaged;
                }
                repeat += data.U8(at++);
            }
            flags.insert(flags.end(), std::min(repeat, count - flags.size()), flag);
        }
        out.points.resize(count);
        // x then y: each a byte with its sign in the flag, the same as the
        // last point, or a signed word, as a delta from the last point.
        for (int axis = 0; axis < 2; ++axis) {
            std::uint8_t shortFlag = axis == 0 ? kXShort : kYShort;
            std::uint8_t sameFlag = axis == 0 ? kXSameOrPositive : kYSameOrPositive;
            int value = 0;
            for (std::size_t i = 0; i < count; ++i) {
                std::uint8_t flag = flags[i];
                std::size_t bytes = (flag & shortFlag) ? 1 : (flag & sameFlag) ? 0 : 2;
                if (!data.Has(at, bytes)) {
                    return kFontDamaged;
                }
                value += bytes == 2   ? data.S16(at)
                         : bytes == 1 ? ((flag & sameFlag) ? data.U8(at) : -int{data.U8(at)})
                                      : 0;
                at += bytes;
                (axis == 0 ? out.points[i].at.x : out.points[i].at.y) = value;
                out.points[i].onCurve = (flag & kOnCurve) != 0;
            }
        }
        return S_OK;
    }
    // Every component costs at least its glyph: taken from the budget before
    // any is read, so that the components held at every level of a glyph
    // that names itself stay within the one budget.
    std::vector<Component> components;
    HRESULT read = ReadComponents(data, components, budget);
    if (FAILED(read)) {
        return read;
    }
    budget -= components.size();
    for (const Component& c : components) {
        GlyphPoints part;
        HRESULT hr = AddGlyphPoints(c.glyph, depth + 1, budget, part);
        if (FAILED(hr)) {
            return hr;
        }
        for (auto& p : part.points) {
            p.at = Apply(c.transform, p.at);
        }
        Point offset{double(c.arg1), double(c.arg2)};
        if (!(c.flags & kArgsAreOffsets)) {
            // Point matching: the component's point arg2 lands on the
            // glyph's point arg1.
            if (std::size_t(c.arg1) >= out.points.size() || std::size_t(c.arg2) >= part.points.size()) {
                return kFontDamaged;
            }
            offset = {out.points[c.arg1].at.x - part.points[c.arg2].at.x,
                      out.points[c.arg1].at.y - part.points[c.arg2].at.y};
        } else if ((c.flags & kScaledOffset) && !(c.flags & kUnscaledOffset)) {
            offset = Apply(c.transform, offset);
        }
        std::size_t base = out.points.size();
        for (auto& p : part.points) {
            p.at = {p.at.x + offset.x, p.at.y + offset.y};
            out.points.push_back(p);
        }
        for (std::size_t end : part.contourEnds) {
            out.contourEnds.push_back(base + end);
        }
    }
    return S_OK;
}

// The charstring interpreter's state: the operand stack, the pen and what
// bounds the run.
struct Font::Charstring {
    std::vector<double> stack;
    Geometry* outline = nullptr;
    engine::Point current;
    bool open = false;
    bool ended = false;
    std::size_t stems = 0;
    std::size_t budget = kMaxOutlinePoints;

    void Close() {
        if (open &&
            (current.x != outline->figures.back().start.x || current.y != outline->figures.back().start.y)) {
            Segment line;
            line.end = outline->figures.back().start;
            outline->figures.back().segments.push_back(line);
        }
        open = false;
    }
    void MoveTo(double dx, double dy) {
        Close();
        current = {current.x + dx, current.y + dy};
        Figure figure;
        figure.start = current;
        figure.closed = true;
        outline->figures.push_back(figure);
        open = true;
    }
    void LineTo(double dx, double dy) {
        if (!open) {
            MoveTo(0, 0);
        }
        Segment line;
        line.end = current = {current.x + dx, current.y + dy};
        outline->figures.back().segments.push_back(line);
    }
    void CurveTo(double dx1, double dy1, double dx2, double dy2, double dx3, double dy3) {
        if (!open) {
            MoveTo(0, 0);
        }
        Segment curve;
        curve.cubic = true;
        curve.control1 = {current.x + dx1, current.y + dy1};
        curve.control2 = {curve.control1.x + dx2, curve.control1.y + dy2};
        curve.end = current = {curve.control2.x + dx3, curve.control2.y + dy3};
        outline->figures.back().segments.push_back(curve);
    }
};

// A CFF INDEX at `at` (in the CFF table), moving `at` past it; its items as
// spans of data_. False when it lies past the table or contradicts itself.
bool Font::ReadCffIndex(std::size_t& at, std::vector<Span>& items) const {
    Span table = SpanOf(Tag("CFF "));
    View cff = At(table);
    items.clear();
    std::size_t count = cff.U16(at), size = cff.U8(at + 2);
    if (!cff.Has(at, 2) || count == 0) {
        at += 2;
        return cff.Has(0, at);
    }
    std::size_t offsets = at + 3, data = offsets + (count + 1) * size - 1;
    if (size < 1 || size > 4 || !cff.Has(offsets, (count + 1) * size)) {
        return false;
    }
    auto offset = [&](std::size_t i) {
        std::size_t value = 0;
        for (std::size_t k = 0; k < size; ++k) {
            value = value << 8 | cff.U8(offsets + i * size + k);
        }
        return value;
    };
    std::size_t previous = offset(0);
    for (std::size_t i = 1; i <= count; ++i) {
        std::size_t next = offset(i);
        if (previous == 0 || next < previous || next > cff.size ||
            !cff.Has(data + previous, next - previous)) {
            return false;
        }
        items.push_back({table.offset + data + previous, next - previous});
        previous = next;
    }
    at = data + previous;
    return true;
}

// The charstrings and subroutines of a name-keyed CFF table with Type 2
// charstrings; a CID-keyed one, another charstring type or CFF2 are left
// unread (no outlines).
HRESULT Font::ReadCff() {
    View cff = TableOf(Tag("CFF "));
    // The operands of a DICT's operator (12 x as 1200 + x); reals, which no
    // operator read here takes, as 0.
    auto find = [](const View& dict, int wanted, std::vector<double>& operands) {
        operands.clear();
        for (std::size_t at = 0; at < dict.size && operands.size() <= 48;) {
            int b0 = dict.U8(at++);
            if (b0 <= 21) {
                int op = b0 == 12 ? 1200 + dict.U8(at++) : b0;
                if (op == wanted) {
                    return true;
                }
                operands.clear();
            } else if (b0 == 28 || b0 == 29) {
                operands.push_back(b0 == 28 ? dict.S16(at) : static_cast<std::int32_t>(dict.U32(at)));
                at += b0 == 28 ? 2 : 4;
            } else if (b0 == 30) {
                while (at < dict.size && (dict.U8(at) & 0x0F) != 0x0F && (dict.U8(at) & 0xF0) != 0xF0) {
                    ++at;
                }
                ++at;
                operands.push_back(0);
            } else if (b0 >= 32 && b0 <= 246) {
                operands.push_back(b0 - 139);
            } else if (b0 >= 247 && b0 <= 254) {
                operands.push_back((b0 <= 250 ? 1 : -1) *
                                   ((b0 - (b0 <= 250 ? 247 : 251)) * 256 + dict.U8(at++) + 108));
            } else {
                return false;
            }
        }
        return false;
    };
    auto offset = [&cff](const std::vector<double>& operands, std::size_t i) {
        return i < operands.size() && operands[i] >= 0 && operands[i] <= cff.size ? std::size_t(operands[i])
                                                                                  : cff.size + 1;
    };
    if (cff.size == 0) {
        return S_OK;
    }
    std::size_t at = cff.U8(2);
    std::vector<Span> names, tops, strings;
    if (!ReadCffIndex(at, names) || !ReadCffIndex(at, tops) || tops.empty() || !ReadCffIndex(at, strings) ||
        !ReadCffIndex(at, globalSubroutines_)) {
        return kFontDamaged;
    }
    View top = At(tops[0]);
    std::vector<double> operands;
    if (find(top, 1230, operands) || (find(top, 1206, operands) && offset(operands, 0) != 2)) {
        globalSubroutines_.clear();  // CID-keyed, or not Type 2
        return S_OK;
    }
    at = find(top, 17, operands) ? offset(operands, 0) : cff.size + 1;
    if (!ReadCffIndex(at, charstrings_)) {
        return kFontDamaged;
    }
    if (find(top, 18, operands)) {  // Private: its size and offset
        std::size_t privateAt = offset(operands, 1);
        View privateDict = cff.Sub(privateAt, offset(operands, 0));
        if (privateDict.bytes == nullptr) {
            return kFontDamaged;
        }
        at = find(privateDict, 19, operands) ? privateAt + offset(operands, 0) : 0;  // Subrs, from Private
        if (at != 0 && !ReadCffIndex(at, localSubroutines_)) {
            return kFontDamaged;
        }
    }
    return S_OK;
}

// Runs a Type 2 charstring (or subroutine) into state.outline; subroutines
// nest at most kMaxSubroutineDepth deep and the whole run takes at most
// kMaxOutlinePoints operators. The hint operators are read past; the
// arithmetic ones, gone from current fonts, are refused as damage.
HRESULT Font::RunCharstring(Span code, int depth, Charstring& s) const {
    if (depth > kMaxSubroutineDepth) {
        return kFontOverCap;
    }
    View c = At(code);
    for (std::size_t at = 0; at < c.size && !s.ended;) {
        if (s.budget-- == 0) {
            return kFontOverCap;
        }
        int b0 = c.U8(at++);
        if (b0 == 28 || b0 >= 32) {
            if (s.stack.size() == 48) {
                return kFontDamaged;
            }
            double value = 0;
            if (b0 == 28) {
                value = c.S16(at);
                at += 2;
            } else if (b0 <= 246) {
                value = b0 - 139;
            } else if (b0 <= 254) {
                value = (b0 <= 250 ? 1 : -1) * ((b0 - (b0 <= 250 ? 247 : 251)) * 256 + c.U8(at++) + 108);
            } else {
                value = static_cast<std::int32_t>(c.U32(at)) / 65536.0;
                at += 4;
            }
            s.stack.push_back(value);
            continue;
        }
        const double* a = s.stack.data();
        std::size_t n = s.stack.size(), i = 0;
        // A glyph's first stack-clearing operator may carry its width first.
        std::size_t width = (b0 == 21 && n > 2) || ((b0 == 22 || b0 == 4) && n > 1) ? 1 : 0;
        switch (b0) {
            case 1:   // hstem
            case 3:   // vstem
            case 18:  // hstemhint
            case 23:  // vstemhint
                s.stems += n / 2;
                break;
            case 19:  // hintmask
            case 20:  // cntrmask
                s.stems += n / 2;
                at += (s.stems + 7) / 8;
                break;
            case 21:  // rmoveto
            case 22:  // hmoveto
            case 4:   // vmoveto
                if (n < width + (b0 == 21 ? 2 : 1)) {
                    return kFontDamaged;
                }
                s.MoveTo(b0 == 4 ? 0 : a[width], b0 == 21 ? a[width + 1] : b0 == 4 ? a[width] : 0);
                break;
            case 5:  // rlineto
                for (; i + 2 <= n; i += 2) {
                    s.LineTo(a[i], a[i + 1]);
                }
                break;
            case 6:  // hlineto
            case 7:  // vlineto
                for (bool horizontal = b0 == 6; i < n; ++i, horizontal = !horizontal) {
                    s.LineTo(horizontal ? a[i] : 0, horizontal ? 0 : a[i]);
                }
                break;
            case 8:   // rrcurveto
            case 24:  // rcurveline: curves, then a line
                for (; i + 6 <= n && (b0 == 8 || i + 8 <= n); i += 6) {
                    s.CurveTo(a[i], a[i + 1], a[i + 2], a[i + 3], a[i + 4], a[i + 5]);
                }
                if (b0 == 24 && i + 2 <= n) {
                    s.LineTo(a[i], a[i + 1]);
                }
                break;
            case 25:  // rlinecurve: lines, then a curve
                for (; i + 8 <= n; i += 2) {
                    s.LineTo(a[i], a[i + 1]);
                }
                if (i + 6 <= n) {
                    s.CurveTo(a[i], a[i + 1], a[i + 2], a[i + 3], a[i + 4], a[i + 5]);
                }
                break;
            case 26:  // vvcurveto
            case 27:  // hhcurveto
            {
                double first = n % 4 ? a[i++] : 0;
                for (; i + 4 <= n; i += 4, first = 0) {
                    if (b0 == 26) {
                        s.CurveTo(first, a[i], a[i + 1], a[i + 2], 0, a[i + 3]);
                    } else {
                        s.CurveTo(a[i], first, a[i + 1], a[i + 2], a[i + 3], 0);
                    }
                }
                break;
            }
            case 30:  // vhcurveto
            case 31:  // hvcurveto
                for (bool horizontal = b0 == 31; i + 4 <= n; i += 4, horizontal = !horizontal) {
                    double last = n - i == 5 ? a[i + 4] : 0;
                    if (horizontal) {
                        s.CurveTo(a[i], 0, a[i + 1], a[i + 2], last, a[i + 3]);
                    } else {
                        s.CurveTo(0, a[i], a[i + 1], a[i + 2], a[i + 3], last);
                    }
                }
                break;
            case 10:  // callsubr
            case 29:  // callgsubr
            {
                const std::vector<Span>& subroutines = b0 == 10 ? localSubroutines_ : globalSubroutines_;
                std::size_t count = subroutines.size();
                double index = n == 0 ? -1 : a[n - 1] + (count < 1240 ? 107 : count < 33900 ? 1131 : 32768);
                if (index < 0 || index >= count) {
                    return kFontDamaged;
                }
                s.stack.pop_back();
                HRESULT hr = RunCharstring(subroutines[std::size_t(index)], depth + 1, s);
                if (FAILED(hr)) {
                    return hr;
                }
                continue;  // the subroutine's operands stay
            }
            case 11:  // return
                return S_OK;
            case 14:  // endchar (an accent's seac operands are not drawn)
                s.Close();
                s.ended = true;
                break;
            case 12: {
                int op = c.U8(at++);
                const int needed = op == 34 ? 7 : op == 35 ? 13 : op == 36 ? 9 : op == 37 ? 11 : -1;
                if (needed < 0 || n < std::size_t(needed)) {
                    return kFontDamaged;
                }
                if (op == 34) {  // hflex
                    s.CurveTo(a[0], 0, a[1], a[2], a[3], 0);
                    s.CurveTo(a[4], 0, a[5], -a[2], a[6], 0);
                } else if (op == 36) {  // hflex1
                    s.CurveTo(a[0], a[1], a[2], a[3], a[4], 0);
                    s.CurveTo(a[5], 0, a[6], a[7], a[8], -(a[1] + a[3] + a[7]));
                } else {  // flex, flex1
                    s.CurveTo(a[0], a[1], a[2], a[3], a[4], a[5]);
                    double dx = a[0] + a[2] + a[4] + a[6] + a[8], dy = a[1] + a[3] + a[5] + a[7] + a[9];
                    bool horizontal = std::abs(dx) > std::abs(dy);
                    s.CurveTo(a[6], a[7], a[8], a[9],
                              op == 35     ? a[10]
                              : horizontal ? a[10]
                                           : -dx,
                              op == 35     ? a[11]
                              : horizontal ? -dy
                                           : a[10]);
                }
                break;
            }
            default:
                return kFontDamaged;
        }
        s.stack.clear();
    }
    return S_OK;
}

HRESULT Font::Outline(std::uint16_t glyph, Geometry& outline) const {
    outline = Geometry();
    outline.fillRule = FillRule::NonZero;
    if (cff_ && charstrings_.empty()) {
        return kFontCffOutlines;
    }
    if (glyph >= glyphCount_ || (cff_ && glyph >= charstrings_.size())) {
        return E_INVALIDARG;
    }
    HRESULT hr = xps::WithoutThrowing([&]() -> HRESULT {
        if (cff_) {
            Charstring state;
            state.outline = &outline;
            HRESULT run = RunCharstring(charstrings_[glyph], 0, state);
            state.Close();
            return run;
        }
        GlyphPoints glyphPoints;
        std::size_t budget = kMaxOutlinePoints;
        HRESULT read = AddGlyphPoints(glyph, 0, budget, glyphPoints);
        if (FAILED(read)) {
            return read;
        }
        const auto& points = glyphPoints.points;
        std::size_t begin = 0;
        for (std::size_t end : glyphPoints.contourEnds) {
            std::size_t count = end - begin;
            if (count < 2) {
                begin = end;
                continue;
            }
            // Start at the first point on the curve; a contour of control
            // points only starts between its last and first.
            std::size_t first = 0;
            while (first < count && !points[begin + first].onCurve) {
                ++first;
            }
            bool allControls = first == count;
            Figure figure;
            figure.closed = true;
            figure.start =
                allControls ? Midpoint(points[end - 1].at, points[begin].at) : points[begin + first].at;
            engine::Point current = figure.start, control;
            bool pending = false;
            for (std::size_t k = 0; k < count; ++k) {
                // Every point once, ending on the start when it is a point.
                const auto& p = points[begin + (allControls ? k : (first + 1 + k) % count)];
                if (p.onCurve) {
                    if (pending) {
                        AddQuadratic(figure, current, control, p.at);
                    } else if (k + 1 < count || p.at.x != current.x || p.at.y != current.y) {
                        Segment line;
                        line.end = p.at;
                        figure.segments.push_back(line);
                    }
                    current = p.at;
                    pending = false;
                } else {
                    if (pending) {
                        engine::Point middle = Midpoint(control, p.at);
                        AddQuadratic(figure, current, control, middle);
                        current = middle;
                    }
                    control = p.at;
                    pending = true;
                }
            }
            if (pending) {
                AddQuadratic(figure, current, control, figure.start);
            }
            outline.figures.push_back(std::move(figure));
            begin = end;
        }
        return S_OK;
    });
    if (FAILED(hr)) {
        outline = Geometry();
    }
    return hr;
}

namespace {

bool EndsWithIgnoringCase(const std::wstring& text, const wchar_t* suffix) {
    std::wstring tail(suffix);
    if (text.size() < tail.size()) {
        return false;
    }
    for (std::size_t i = 0; i < tail.size(); ++i) {
        wchar_t c = text[text.size() - tail.size() + i];
        if ((c >= L'A' && c <= L'Z' ? c + 32 : c) != tail[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

HRESULT LoadFontPart(const xps::XpsPackage& package, const std::wstring& part, std::uint16_t face,
                     Font& font) {
    return xps::WithoutThrowing([&]() -> HRESULT {
        return xps::UnlessFailedBefore(L"font " + xps::PartKey(part) + L"#" + std::to_wstring(face), [&] {
            std::string bytes;
            HRESULT hr = package.Read(part, bytes);
            bool obfuscated = package.ContentType(part).find(L"obfuscated") != std::wstring::npos ||
                              EndsWithIgnoringCase(part, L".odttf");
            return SUCCEEDED(hr) ? font.Load(std::move(bytes), package.NameOf(part), obfuscated, face) : hr;
        });
    });
}

}  // namespace engine
