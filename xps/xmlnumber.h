// Numbers in markup, read and written the same whatever locale the process
// has: the C runtime's wcstod and printf follow it, and one decimal comma
// set by any code in the process would corrupt every number.
#pragma once

#include <string>

namespace xml {

// An XML Schema double as XPS writes it: an optional sign, digits with an
// optional fraction, an optional exponent ("12", "-0.5", ".75", "1.2E-3").
// White space around it is allowed. False for anything else and for values
// that are not finite.
bool ParseNumber(const wchar_t* begin, const wchar_t* end, double& value);
bool ParseNumber(const std::wstring& text, double& value);

// The shortest text of value rounded to four decimals ("12.5", "3", "-0.0625"):
// enough for 1/96 inch units and transform factors. Not finite: "0".
std::wstring FormatNumber(double value);
// The same number appended as ASCII, never with an exponent (PDF has none);
// rounded to another number of decimals (0 to 8) where asked. The value's
// magnitude is the caller's to bound (below 2^63 once scaled).
void AppendFixed(double value, std::string& out, int decimals = 4);

}  // namespace xml
