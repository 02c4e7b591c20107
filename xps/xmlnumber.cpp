#include "xps/xmlnumber.h"

#include <cmath>
#include <cstdint>

namespace xml {

namespace {

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

}  // namespace

bool ParseNumber(const wchar_t* begin, const wchar_t* end, double& value) {
    while (begin < end && IsSpace(*begin)) {
        ++begin;
    }
    while (end > begin && IsSpace(end[-1])) {
        --end;
    }
    const wchar_t* p = begin;
    bool negative = p < end && *p == L'-';
    p += p < end && (*p == L'-' || *p == L'+') ? 1 : 0;
    // Up to 19 significant digits are kept; the rest only move the exponent.
    std::uint64_t mantissa = 0;
    int kept = 0, exponent = 0;
    bool digits = false;
    for (; p < end && IsDigit(*p); ++p, digits = true) {
        if (kept < 19) {
            mantissa = mantissa * 10 + (*p - L'0');
            kept += mantissa != 0 ? 1 : 0;
        } else {
            ++exponent;
        }
    }
    if (p < end && *p == L'.') {
        for (++p; p < end && IsDigit(*p); ++p, digits = true) {
            if (kept < 19) {
                mantissa = mantissa * 10 + (*p - L'0');
                kept += mantissa != 0 ? 1 : 0;
                --exponent;
            }
        }
    }
    if (!digits) {
        return false;
    }
    if (p < end && (*p == L'e' || *p == L'E')) {
        ++p;
        bool negativeExponent = p < end && *p == L'-';
        p += p < end && (*p == L'-' || *p == L'+') ? 1 : 0;
        if (p == end) {
            return false;
        }
        int written = 0;
        for (; p < end && IsDigit(*p); ++p) {
            written = written < 100000 ? written * 10 + (*p - L'0') : written;
        }
        exponent += negativeExponent ? -written : written;
    }
    if (p != end) {
        return false;
    }
    // Powers of ten up to 1e22 are exact, so dividing rounds once: "12.34" is 12.34.
    // Stored through memory: 32-bit x87 code keeps the product at 80 bits,
    // finite there, until it is rounded to a double that is infinite.
    volatile double result = mantissa == 0 ? 0.0
                             : exponent < 0 && exponent >= -22
                                 ? static_cast<double>(mantissa) / std::pow(10.0, -exponent)
                                 : static_cast<double>(mantissa) * std::pow(10.0, exponent);
    if (!std::isfinite(result)) {
        return false;
    }
    value = negative ? -result : result;
    return true;
}

bool ParseNumber(const std::wstring& text, double& value) {
    return ParseNumber(text.data(), text.data() + text.size(), value);
}

namespace {

const std::uint32_t kPowers[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// The digits of scaled / 10^decimals, its trailing zeros after the point
// dropped.
template <typename Unsigned>
void AppendScaled(Unsigned scaled, bool negative, int decimals, std::string& out) {
    if (scaled == 0) {
        out += '0';
        return;
    }
    char buffer[40];
    char* end = buffer + sizeof(buffer);
    char* p = end;
    const Unsigned unit = kPowers[decimals];
    Unsigned fraction = scaled % unit;
    if (fraction != 0) {
        int digits = decimals;
        while (fraction % 10 == 0) {
            fraction /= 10;
            --digits;
        }
        for (int i = 0; i < digits; ++i, fraction /= 10) {
            *--p = static_cast<char>('0' + fraction % 10);
        }
        *--p = '.';
    }
    Unsigned whole = scaled / unit;
    do {
        *--p = static_cast<char>('0' + whole % 10);
        whole /= 10;
    } while (whole != 0);
    if (negative) {
        *--p = '-';
    }
    out.append(p, end);
}

}  // namespace

// Appends the digits of value, rounded to the decimals asked (four unless
// told), without an exponent: what the markup's, PDF's and SVG's numbers are
// made of.
void AppendFixed(double value, std::string& out, int decimals) {
    decimals = decimals < 0 ? 0 : decimals > 8 ? 8 : decimals;
    double magnitude = std::fabs(value) * kPowers[decimals];
    if (magnitude < 4294967294.0) {
        // Most numbers: rounded half away from zero as llround does, in
        // 32-bit arithmetic, which a 32-bit process does without calls.
        auto scaled = static_cast<std::uint32_t>(magnitude);
        scaled += magnitude - scaled >= 0.5 ? 1 : 0;
        AppendScaled(scaled, value < 0, decimals, out);
    } else {
        AppendScaled(static_cast<std::uint64_t>(std::llround(magnitude)), value < 0, decimals, out);
    }
}

std::wstring FormatNumber(double value) {
    if (!std::isfinite(value)) {
        return L"0";
    }
    std::string text;
    double magnitude = std::fabs(value);
    if (magnitude >= 1e14) {
        // Beyond any page: an exponent keeps the text short and exact enough.
        int exponent = static_cast<int>(std::floor(std::log10(magnitude)));
        AppendFixed(value / std::pow(10.0, exponent), text);
        text += "E" + std::to_string(exponent);
    } else {
        AppendFixed(value, text);
    }
    return std::wstring(text.begin(), text.end());
}

}  // namespace xml
