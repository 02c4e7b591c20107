#include "engine/markupvalues.h"

#include <algorithm>
#include <cmath>

#include "xps/xmlnumber.h"
#include "xps/xmlreader.h"
#include "xps/ziparchive.h"

namespace engine {

namespace {

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

std::wstring Trim(const std::wstring& text) {
    std::size_t first = 0, last = text.size();
    while (first < last && IsSpace(text[first])) {
        ++first;
    }
    while (last > first && IsSpace(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix, std::wstring& rest) {
    std::size_t length = std::wcslen(prefix);
    if (text.compare(0, length, prefix) != 0) {
        return false;
    }
    rest = text.substr(length);
    return true;
}

double Clamp01(double value) { return value < 0 ? 0 : value > 1 ? 1 : value; }

// scRGB is linear light; the model holds sRGB.
double LinearToSrgb(double value) {
    value = Clamp01(value);
    return value <= 0.0031308 ? value * 12.92 : 1.055 * std::pow(value, 1 / 2.4) - 0.055;
}

int HexValue(wchar_t c) {
    return c >= L'0' && c <= L'9'   ? c - L'0'
           : c >= L'a' && c <= L'f' ? c - L'a' + 10
           : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                    : -1;
}

bool ParseHexColor(const std::wstring& digits, Color& color) {
    if (digits.size() != 6 && digits.size() != 8) {
        return false;
    }
    double channels[4] = {1, 0, 0, 0};
    std::size_t first = digits.size() == 8 ? 0 : 1;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        int high = HexValue(digits[i]), low = HexValue(digits[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        channels[first + i / 2] = (high * 16 + low) / 255.0;
    }
    color = {channels[0], channels[1], channels[2], channels[3]};
    return true;
}

// Up to max numbers, as many as the text holds.
bool ParseNumberList(const std::wstring& text, double* values, std::size_t max, std::size_t& count) {
    NumberScanner scanner(text);
    for (count = 0; count < max && !scanner.AtEnd(); ++count) {
        if (!scanner.Number(values[count])) {
            return false;
        }
    }
    return scanner.AtEnd();
}

bool ParseScRgb(const std::wstring& text, Color& color) {
    double values[4];
    std::size_t count = 0;
    if (!ParseNumberList(text, values, 4, count) || count < 3) {
        return false;
    }
    const double* rgb = values + count - 3;
    color = {count == 4 ? Clamp01(values[0]) : 1, LinearToSrgb(rgb[0]), LinearToSrgb(rgb[1]),
             LinearToSrgb(rgb[2])};
    return true;
}

// "profile a,c1,...": the profile as written, alpha and the channels, each
// within 0..1; at most 8 channels.
bool SplitContextColor(const std::wstring& text, std::wstring& profile, double& alpha,
                       std::vector<double>& channels) {
    std::size_t space = text.find(L' ');
    double values[9];
    std::size_t count = 0;
    if (space == 0 || space == std::wstring::npos ||
        !ParseNumberList(text.substr(space + 1), values, 9, count) || count < 2) {
        return false;
    }
    profile = text.substr(0, space);
    alpha = Clamp01(values[0]);
    channels.clear();
    for (std::size_t i = 1; i < count; ++i) {
        channels.push_back(Clamp01(values[i]));
    }
    return true;
}

bool ParseContextColor(const std::wstring& text, Color& color) {
    std::wstring profile;
    std::vector<double> c;
    if (!SplitContextColor(text, profile, color.a, c)) {
        return false;
    }
    std::size_t channels = c.size();
    if (channels == 3) {
        color.r = c[0], color.g = c[1], color.b = c[2];
    } else if (channels == 4) {
        color.r = (1 - c[0]) * (1 - c[3]), color.g = (1 - c[1]) * (1 - c[3]),
        color.b = (1 - c[2]) * (1 - c[3]);
    } else {
        double grey = c[0];
        if (channels != 1) {
            double ink = 0;
            for (std::size_t i = 0; i < channels; ++i) {
                ink += c[i];
            }
            grey = 1 - ink / static_cast<double>(channels);
        }
        color.r = color.g = color.b = grey;
    }
    return true;
}

std::size_t UnitsOfCharacter(const std::wstring& text, std::size_t position) {
    if (position >= text.size()) {
        return 0;
    }
    bool pair = text[position] >= 0xD800 && text[position] <= 0xDBFF && position + 1 < text.size() &&
                text[position + 1] >= 0xDC00 && text[position + 1] <= 0xDFFF;
    return pair ? 2 : 1;
}

// One entry of Indices: "(c:g)index,advance,uOffset,vOffset", each part optional.
struct Mapping {
    std::size_t characters = 1, glyphs = 1;
    bool cluster = false;
    bool empty = true;
    Glyph glyph;
};

bool ParseScaled(const std::wstring& field, double emSize, double& value, bool* given) {
    if (Trim(field).empty()) {
        return true;
    }
    double hundredths = 0;
    if (!xml::ParseNumber(field, hundredths)) {
        return false;
    }
    value = hundredths * emSize / 100;
    if (given != nullptr) {
        *given = true;
    }
    return std::isfinite(value);
}

bool ParseMapping(const std::wstring& text, double emSize, std::size_t maxGlyphs, Mapping& mapping) {
    mapping.glyph.hasIndex = mapping.glyph.hasAdvance = false;
    std::wstring rest = Trim(text);
    if (!rest.empty() && rest[0] == L'(') {
        std::size_t close = rest.find(L')');
        if (close == std::wstring::npos) {
            return false;
        }
        std::wstring counts = rest.substr(1, close - 1);
        std::size_t colon = counts.find(L':');
        if (!ParseCount(counts.substr(0, colon), maxGlyphs, mapping.characters) ||
            (colon != std::wstring::npos &&
             !ParseCount(counts.substr(colon + 1), maxGlyphs, mapping.glyphs)) ||
            mapping.characters == 0 || mapping.glyphs == 0) {
            return false;
        }
        mapping.cluster = true;
        rest.erase(0, close + 1);
    }
    std::wstring fields[4];
    std::size_t count = 0;
    for (std::size_t start = 0;; ++count) {
        std::size_t comma = rest.find(L',', start);
        if (count == 4) {
            return false;
        }
        fields[count] = rest.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
        if (comma == std::wstring::npos) {
            break;
        }
        start = comma + 1;
    }
    std::size_t index = 0;
    if (!Trim(fields[0]).empty()) {
        if (!ParseCount(fields[0], 0xFFFF, index)) {
            return false;
        }
        mapping.glyph.index = static_cast<std::uint16_t>(index);
        mapping.glyph.hasIndex = true;
    }
    mapping.empty = !mapping.cluster && rest.find_first_not_of(L" \t\r\n") == std::wstring::npos;
    return ParseScaled(fields[1], emSize, mapping.glyph.advance, &mapping.glyph.hasAdvance) &&
           ParseScaled(fields[2], emSize, mapping.glyph.offsetU, nullptr) &&
           ParseScaled(fields[3], emSize, mapping.glyph.offsetV, nullptr);
}

}  // namespace

wchar_t NumberScanner::Peek() {
    while (p_ < end_ && IsSpace(*p_)) {
        ++p_;
    }
    return p_ < end_ ? *p_ : 0;
}

bool NumberScanner::Number(double& value) {
    const wchar_t* start = p_;
    if (Peek() == L',') {
        ++p_;
        Peek();
    }
    const wchar_t* number = p_;
    const wchar_t* q = p_;
    q += q < end_ && (*q == L'+' || *q == L'-') ? 1 : 0;
    while (q < end_ && IsDigit(*q)) {
        ++q;
    }
    if (q < end_ && *q == L'.') {
        for (++q; q < end_ && IsDigit(*q);) {
            ++q;
        }
    }
    if (q < end_ && (*q == L'e' || *q == L'E')) {
        const wchar_t* e = q + 1;
        e += e < end_ && (*e == L'+' || *e == L'-') ? 1 : 0;
        if (e < end_ && IsDigit(*e)) {
            for (q = e; q < end_ && IsDigit(*q);) {
                ++q;
            }
        }
    }
    if (!xml::ParseNumber(number, q, value)) {
        p_ = start;
        return false;
    }
    p_ = q;
    return true;
}

bool ParseNumbers(const std::wstring& text, double* values, std::size_t count) {
    std::size_t read = 0;
    return ParseNumberList(text, values, count, read) && read == count;
}

bool ParseCount(const std::wstring& text, std::size_t max, std::size_t& value) {
    double number = 0;
    if (!xml::ParseNumber(text, number) || number < 0 || number > static_cast<double>(max) ||
        number != std::floor(number)) {
        return false;
    }
    value = static_cast<std::size_t>(number);
    return true;
}

bool ParseBoolean(const std::wstring& text, bool& value) {
    static const Named<bool> kBooleans[] = {{L"true", true}, {L"false", false}, {L"1", true}, {L"0", false}};
    return ParseName(Trim(text), kBooleans, value);
}

bool ParseMatrix(const std::wstring& text, Matrix& matrix) {
    double v[6];
    if (!ParseNumbers(text, v, 6)) {
        return false;
    }
    matrix = {v[0], v[1], v[2], v[3], v[4], v[5]};
    return true;
}

bool ParseRect(const std::wstring& text, Rect& rect) {
    double v[4];
    if (!ParseNumbers(text, v, 4) || v[2] < 0 || v[3] < 0) {
        return false;
    }
    rect = {v[0], v[1], v[2], v[3]};
    return true;
}

bool ParseColor(const std::wstring& value, Color& color) {
    std::wstring text = Trim(value), rest;
    if (StartsWith(text, L"sc#", rest)) {
        return ParseScRgb(rest, color);
    }
    if (StartsWith(text, L"#", rest)) {
        return ParseHexColor(rest, color);
    }
    if (StartsWith(text, L"ContextColor ", rest)) {
        return ParseContextColor(Trim(rest), color);
    }
    return false;
}

bool ReadContextColor(const std::wstring& value, std::wstring& profile, double& alpha,
                      std::vector<double>& channels) {
    std::wstring rest;
    return StartsWith(Trim(value), L"ContextColor ", rest) &&
           SplitContextColor(Trim(rest), profile, alpha, channels);
}

std::vector<std::wstring> Words(const std::wstring& text) {
    std::vector<std::wstring> words;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t end = i;
        while (end < text.size() && !IsSpace(text[end])) {
            ++end;
        }
        if (end > i) {
            words.push_back(text.substr(i, end - i));
        }
        i = end + 1;
    }
    return words;
}

bool IsMarkupExtension(const std::wstring& value) {
    std::size_t first = value.find_first_not_of(L" \t\r\n");
    return first != std::wstring::npos && value[first] == L'{';
}

bool StaticResourceKey(const std::wstring& value, std::wstring& key) {
    std::wstring text = Trim(value), inner;
    if (text.size() < 2 || text.front() != L'{' || text.back() != L'}' ||
        !StartsWith(Trim(text.substr(1, text.size() - 2)), L"StaticResource", inner) || inner.empty() ||
        !IsSpace(inner[0])) {
        return false;
    }
    key = Trim(inner);
    return !key.empty() && std::none_of(key.begin(), key.end(), IsSpace);
}

HRESULT ReadGlyphRun(const std::wstring& text, const std::wstring* indices, double emSize,
                     std::size_t maxGlyphs, std::vector<Glyph>& glyphs) {
    glyphs.clear();
    std::vector<Mapping> mappings;
    if (indices != nullptr) {
        if (static_cast<std::size_t>(std::count(indices->begin(), indices->end(), L';')) >= maxGlyphs) {
            return xps::kOverCap;
        }
        for (std::size_t start = 0; start <= indices->size();) {
            std::size_t end = std::min(indices->find(L';', start), indices->size());
            mappings.emplace_back();
            if (!ParseMapping(indices->substr(start, end - start), emSize, maxGlyphs, mappings.back())) {
                return xml::kMalformed;
            }
            start = end + 1;
        }
    }
    if (text.size() > maxGlyphs) {
        return xps::kOverCap;
    }
    // Mostly a glyph for each mapping or character: one allocation, not a
    // run of them.
    glyphs.reserve(std::max(mappings.size(), text.size()));
    std::size_t position = 0;
    for (std::size_t i = 0; i < mappings.size();) {
        const Mapping& first = mappings[i];
        if (first.empty && position >= text.size()) {
            ++i;  // "1;2;" ends with nothing to map
            continue;
        }
        std::size_t characters = first.cluster ? first.characters : UnitsOfCharacter(text, position);
        if (characters > text.size() - position || first.glyphs > mappings.size() - i) {
            return xml::kMalformed;
        }
        for (std::size_t k = 0; k < first.glyphs; ++k) {
            Glyph glyph = mappings[i + k].glyph;
            // A glyph of a cluster, or one without a character, cannot be
            // found in the font by a character.
            if ((k > 0 && mappings[i + k].cluster) ||
                (!glyph.hasIndex && (first.cluster || characters == 0))) {
                return xml::kMalformed;
            }
            glyph.firstCharacter = position;
            glyph.characterCount = k == 0 ? characters : 0;
            glyphs.push_back(glyph);
        }
        position += characters;
        i += first.glyphs;
    }
    for (std::size_t characters; (characters = UnitsOfCharacter(text, position)) != 0;
         position += characters) {
        Glyph glyph;
        glyph.hasIndex = glyph.hasAdvance = false;
        glyph.firstCharacter = position;
        glyph.characterCount = characters;
        glyphs.push_back(glyph);
    }
    return glyphs.size() > maxGlyphs ? xps::kOverCap : S_OK;
}

}  // namespace engine
