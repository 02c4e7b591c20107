// The names of a job's files: what a document's name leaves, cut to the
// room there is, " (n)" while a name is taken, a set's pages.
#include <set>

#include "monitor/jobnames.h"
#include "monitor/samename.h"
#include "tests/monitor/monitor_test_support.h"

namespace {

TEST(JobNames, ADocumentNameLosesWhatCannotNameAFile) {
    const struct {
        const wchar_t* docName;
        const wchar_t* stem;
    } kCases[] = {
        {L"Quarterly report", L"Quarterly report"},
        {nullptr, L"Untitled"},
        {L"", L"Untitled"},
        {L"Microsoft Word - Report.docx", L"Report"},
        {L"microsoft excel - Budget.XLSX", L"Budget"},
        {L"Notes - Monday", L"Notes - Monday"},
        {L"archive.tar.gz", L"archive.tar.gz"},
        {L"C:\\Users\\me\\Plan.odt", L"Plan"},
        {L"\\\\server\\share\\Plan.odt", L"Plan"},
        {L"a/b:c*d?e\"f<g>h|i\x01j\tk", L"abcdefghijk"},
        {L"  Dots and blanks. . .", L"Dots and blanks"},
        {L"???", L"Untitled"},
        {L"CON", L"Untitled"},
        {L"nul.txt", L"Untitled"},
        {L"LPT\u00b9", L"Untitled"},
        {L"com1 .docx", L"Untitled"},
        {L"CONIN$", L"Untitled"},
        {L"conout$.docx", L"Untitled"},
        {L"Conerr$ .txt", L"Untitled"},
        {L"CONSOLE", L"CONSOLE"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(DocumentStem(c.docName), c.stem) << (c.docName ? Narrow(c.docName) : "(null)");
    }
}

// Cut to the room, never inside a surrogate pair, never to a device name.
TEST(JobNames, AFileNameFitsItsRoom) {
    const std::wstring kSmile = L"\U0001F600";  // two UTF-16 units
    const struct {
        std::wstring stem;
        unsigned long long n;
        size_t page, pages, room;
        std::wstring name;
    } kCases[] = {
        {L"Report", 1, 1, 1, 100, L"Report.pdf"},
        {L"Report", 2, 1, 1, 100, L"Report (2).pdf"},
        {L"Report", 12, 3, 40, 100, L"Report (12)-3.pdf"},
        {L"Report", 1, 1, 1, 8, L"Repo.pdf"},
        {L"Report. x", 1, 1, 1, 11, L"Report.pdf"},
        {L"ab" + kSmile + kSmile, 1, 1, 1, 8, L"ab" + kSmile + L".pdf"},
        {L"ab" + kSmile + kSmile, 1, 1, 1, 9, L"ab" + kSmile + L".pdf"},
        {L"CON - Report", 1, 1, 1, 50, L"CON - Report.pdf"},
        {L"CON - Report", 1, 1, 1, 7, L"Unt.pdf"},
        {L"CON - Report", 2, 1, 1, 12, L"CON (2).pdf"},
    };
    for (const auto& c : kCases) {
        std::wstring name = DocumentFileName(c.stem, c.n, c.page, c.pages, L".pdf", c.room);
        EXPECT_EQ(name, c.name) << Narrow(c.stem) << " in " << c.room;
        EXPECT_LE(name.size(), c.room);
    }
}

TEST(JobNames, ASetTakesTheFirstNumberAtWhichNoneOfItsNamesIsTaken) {
    const struct {
        std::set<std::wstring> taken;
        size_t pages;
        unsigned long long n;
    } kCases[] = {
        {{}, 2, 1},
        {{L"Report.png"}, 2, 1},
        {{L"Report.png"}, 1, 2},
        {{L"Report-2.png"}, 2, 2},
        {{L"Report-2.png", L"Report (2)-1.png"}, 3, 3},
    };
    for (const auto& c : kCases) {
        unsigned long long n = 1;
        NameTaken isTaken = [&](const std::wstring& name, bool& taken) -> DWORD {
            taken = c.taken.count(name) > 0;
            return ERROR_SUCCESS;
        };
        EXPECT_EQ(FirstFreeTry(L"Report", c.pages, L".png", 100, isTaken, n),
                  static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(n, c.n) << c.pages << " pages, " << c.taken.size() << " names taken";
    }
}

// Paths and account names compare as the file system folds case: beyond
// ASCII, one unit against one; on Windows XP's way too.
TEST(SameName, FoldsCaseAsTheFileSystemDoes) {
    for (auto compare : {&SameName, &SameNameThroughNtdll}) {
        EXPECT_TRUE(compare(L"C:\\Jobs\\\u00e9lise", L"c:\\JOBS\\\u00c9LISE"));
        EXPECT_TRUE(compare(L"\u03a3\u03bf\u03c6\u03af\u03b1", L"\u03c3\u03bf\u03c6\u03af\u03b1"));
        EXPECT_FALSE(compare(L"stra\u00dfe", L"STRASSE"));
    }
}

}  // namespace
