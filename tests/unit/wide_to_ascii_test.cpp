#include <gtest/gtest.h>

#include "setup/installer.h"

TEST(WideToAsciiString, EscapesEveryUnitBeyondAscii) {
    struct Case {
        const wchar_t* in;
        const char* expected;
    } cases[] = {
        {L"C:/logs/\u00E9.txt", "C:/logs/\\U00E9.txt"},
        {L"", ""},
        {L"\xD83D\xDE00", "\\UD83D\\UDE00"},
        {L"\u20AC", "\\U20AC"},
        {L"\u007F\u0080", "\x7F\\U0080"},
        {L"\uFFFF", "\\UFFFF"},
        {L"C:\\testxyzzy\\quelda-log.txt", "C:\\testxyzzy\\quelda-log.txt"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WideToAsciiString(c.in), c.expected);
    }
}

TEST(WideToAscii, MeasuresWithAndWithoutTerminator) {
    EXPECT_EQ(WideToAscii(L"A\u00E9", nullptr, 0, true), 8);
    EXPECT_EQ(WideToAscii(L"A\u00E9", nullptr, 0, false), 7);
    EXPECT_EQ(WideToAscii(L"", nullptr, 0, true), 1);
    EXPECT_EQ(WideToAscii(L"", nullptr, 0, false), 0);
}

TEST(WideToAscii, StopsAtTheLastWholeUnitThatFits) {
    char out[16];
    memset(out, '#', sizeof out);
    EXPECT_EQ(WideToAscii(L"AB", out, 2, true), 2);
    EXPECT_EQ(std::string(out, 3), std::string("A\0#", 3));

    memset(out, '#', sizeof out);
    EXPECT_EQ(WideToAscii(L"A\u00E9", out, 4, false), 1);
    EXPECT_EQ(std::string(out, 4), "A###");

    // An escape is never split: eight bytes hold "A" and one escape.
    memset(out, '#', sizeof out);
    EXPECT_EQ(WideToAscii(L"A\u00E9\u00E9", out, 8, false), 7);
    EXPECT_EQ(std::string(out, 8), "A\\U00E9#");

    memset(out, '#', sizeof out);
    EXPECT_EQ(WideToAscii(L"A\u00E9", out, 8, true), 8);
    EXPECT_EQ(std::string(out, 8), std::string("A\\U00E9\0", 8));
}

TEST(WideToAscii, WritesNothingIntoAnEmptyBuffer) {
    char out[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(WideToAscii(L"AB", out, 0, true), 0);
    EXPECT_EQ(WideToAscii(L"AB", out, 0, false), 0);
    EXPECT_EQ(WideToAscii(L"AB", out, -3, true), 0);
    EXPECT_EQ(std::string(out, 4), "####");
}
