#include "setup/logformat.h"

namespace {

void AppendDecimal(std::wstring& out, std::int32_t number) {
    // Through 64 bits so that the smallest 32-bit value negates safely.
    std::int64_t value = number;
    if (value < 0) {
        out += L'-';
        value = -value;
    }
    wchar_t digits[12];
    int count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) {
        out += digits[--count];
    }
}

void AppendTwoDigits(std::wstring& out, int value) {
    out += static_cast<wchar_t>(L'0' + value / 10 % 10);
    out += static_cast<wchar_t>(L'0' + value % 10);
}

}  // namespace

std::wstring FormatLogMessage(const wchar_t* format, const LogArg* args, size_t count) {
    std::wstring out;
    if (format == nullptr) {
        return out;
    }
    const LogArg* next = args;
    const LogArg* const end = args + count;
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        if (*p != L'%') {
            out += *p;
            continue;
        }
        if (p[1] == L'%') {
            out += L'%';
            ++p;
            continue;
        }
        bool wide = p[1] == L'w' && p[2] == L's';
        const wchar_t* conversionEnd = wide ? p + 2 : p + 1;
        wchar_t kind = *conversionEnd;
        bool textConversion = kind == L's';
        bool numberConversion = kind == L'd' && !wide;
        if ((textConversion || numberConversion) && next != end && next->IsNumber() == numberConversion) {
            if (numberConversion) {
                AppendDecimal(out, next->Number());
            } else {
                out += next->Text() != nullptr ? next->Text() : L"(null)";
            }
            ++next;
            p = conversionEnd;
        } else {
            out += *p;
        }
    }
    return out;
}

std::wstring FormatTimeStamp(const SYSTEMTIME& time) {
    static const wchar_t kDays[] = L"SunMonTueWedThuFriSat";
    static const wchar_t kMonths[] = L"JanFebMarAprMayJunJulAugSepOctNovDec";
    int day = time.wDayOfWeek % 7;
    int month = (time.wMonth >= 1 && time.wMonth <= 12) ? time.wMonth - 1 : 0;
    std::wstring out(kDays + 3 * day, 3);
    out += L' ';
    out.append(kMonths + 3 * month, 3);
    out += L' ';
    AppendTwoDigits(out, time.wDay);
    out += L' ';
    AppendTwoDigits(out, time.wHour);
    out += L':';
    AppendTwoDigits(out, time.wMinute);
    out += L':';
    AppendTwoDigits(out, time.wSecond);
    out += L' ';
    AppendTwoDigits(out, time.wYear / 100);
    AppendTwoDigits(out, time.wYear % 100);
    return out;
}

std::string ToLogBytes(const std::wstring& text) {
    std::string bytes;
    bytes.reserve(text.size() + 8);
    for (wchar_t unit : text) {
        if (unit == L'\n') {
            bytes += "\r\n";
        } else if (unit > 0xFF) {
            bytes += '?';
        } else {
            bytes += static_cast<char>(unit);
        }
    }
    return bytes;
}
