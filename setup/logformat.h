// The text of log records: the installer's own formatter for the conversions
// its formats use, the time stamp, and the bytes a record becomes in the file.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include <windows.h>

// One argument of a log format: "%s" and "%ws" take UTF-16 text, "%d" a
// signed 32-bit number (error codes are shown signed, so 0xFFFFFFFF is -1).
class LogArg {
public:
    LogArg(const wchar_t* text) : text_(text) {}
    LogArg(const std::wstring& text) : text_(text.c_str()) {}
    LogArg(int number) : number_(number), isNumber_(true) {}
    LogArg(unsigned int number) : LogArg(static_cast<int>(number)) {}
    LogArg(long number) : LogArg(static_cast<int>(number)) {}
    LogArg(unsigned long number) : LogArg(static_cast<int>(number)) {}

    bool IsNumber() const { return isNumber_; }
    const wchar_t* Text() const { return text_; }
    std::int32_t Number() const { return number_; }

private:
    const wchar_t* text_ = nullptr;
    std::int32_t number_ = 0;
    bool isNumber_ = false;
};

// Fills the format's conversions from args in order. "%%" is a percent sign.
// A conversion without a matching argument is written as it stands, so a
// mistaken format can never read past its arguments.
std::wstring FormatLogMessage(const wchar_t* format, const LogArg* args, size_t count);
inline std::wstring FormatLogMessage(const wchar_t* format, std::initializer_list<LogArg> args) {
    return FormatLogMessage(format, args.begin(), args.size());
}

// "Sun Dec 06 16:33:14 2026": English names, zero-padded day, 24 characters.
std::wstring FormatTimeStamp(const SYSTEMTIME& time);

// The bytes of text in the log file, as a text-mode stream writes them:
// U+0001..U+00FF one byte each, anything above "?", LF as CR LF.
std::string ToLogBytes(const std::wstring& text);
