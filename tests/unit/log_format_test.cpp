#include <climits>

#include <gtest/gtest.h>

#include "setup/logformat.h"

TEST(FormatLogMessage, FillsTextAndNumberConversions) {
    EXPECT_EQ(FormatLogMessage(L"Copied port monitor file '%ws' to '%ws'", {L"a", std::wstring(L"b")}),
              L"Copied port monitor file 'a' to 'b'");
    EXPECT_EQ(FormatLogMessage(L"Add printer failed with code '%d'", {1003}),
              L"Add printer failed with code '1003'");
    EXPECT_EQ(FormatLogMessage(L"%s@%d", {L"x.cpp", 574}), L"x.cpp@574");
}

TEST(FormatLogMessage, WritesCodesAsSignedDecimal) {
    struct Case {
        DWORD code;
        const wchar_t* expected;
    } cases[] = {
        {0, L"0"},
        {5, L"5"},
        {0xFFFFFFFF, L"-1"},
        {0x80000000, L"-2147483648"},
        {0x80070005, L"-2147024891"},
        {0x7FFFFFFF, L"2147483647"},
        {0xE0000102, L"-536870654"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatLogMessage(L"%d", {c.code}), c.expected) << c.code;
    }
    EXPECT_EQ(FormatLogMessage(L"%d", {INT_MIN}), L"-2147483648");
}

TEST(FormatLogMessage, TextArgumentsAreNeverFormats) {
    EXPECT_EQ(FormatLogMessage(L"%s %s", {L"100% %s %d", L"%"}), L"100% %s %d %");
}

TEST(FormatLogMessage, MismatchedConversionsAreWrittenAsTheyStand) {
    EXPECT_EQ(FormatLogMessage(L"Literal 100%% done", {}), L"Literal 100% done");
    EXPECT_EQ(FormatLogMessage(L"missing %s and %d", {}), L"missing %s and %d");
    EXPECT_EQ(FormatLogMessage(L"%d", {L"text"}), L"%d");
    EXPECT_EQ(FormatLogMessage(L"%s", {7}), L"%s");
    EXPECT_EQ(FormatLogMessage(L"%x %", {1}), L"%x %");
    EXPECT_EQ(FormatLogMessage(L"%s", {static_cast<const wchar_t*>(nullptr)}), L"(null)");
}

TEST(FormatTimeStamp, HasTheFixedTwentyFourCharacterForm) {
    struct Case {
        SYSTEMTIME time;
        const wchar_t* expected;
    } cases[] = {
        {{2026, 12, 0, 6, 16, 33, 14, 0}, L"Sun Dec 06 16:33:14 2026"},
        {{2027, 1, 5, 1, 0, 0, 0, 0}, L"Fri Jan 01 00:00:00 2027"},
        {{2001, 9, 6, 29, 9, 5, 7, 999}, L"Sat Sep 29 09:05:07 2001"},
        {{1999, 6, 3, 30, 23, 59, 59, 0}, L"Wed Jun 30 23:59:59 1999"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatTimeStamp(c.time), c.expected);
        EXPECT_EQ(FormatTimeStamp(c.time).size(), 24u);
    }
}

TEST(ToLogBytes, FollowsTheTextModeRules) {
    EXPECT_EQ(ToLogBytes(L"plain"), "plain");
    EXPECT_EQ(ToLogBytes(L"\u00C4\u00FF\u0001"), "\xC4\xFF\x01");
    EXPECT_EQ(ToLogBytes(L"a\u20ACb\u0100c"), "a?b?c");
    EXPECT_EQ(ToLogBytes(L"\n"), "\r\n");
    EXPECT_EQ(ToLogBytes(L"text\r\n"), "text\r\r\n");
    EXPECT_EQ(ToLogBytes(L"\r"), "\r");
    EXPECT_EQ(ToLogBytes(L"\xD83D\xDE00"), "??");
}
