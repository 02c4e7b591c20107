// The monitor's parts on fakes where Wine cannot show them through the DLL:
// owners Wine never names (their folders, long names at the limit of a path,
// two accounts of one name), the writes' ledger, and the event log's entries.
#include <functional>

#include "monitor/outputfolder.h"
#include "monitor/printjob.h"
#include "monitor/printport.h"
#include "tests/monitor/monitor_test_support.h"

namespace {

const wchar_t kSid[] = L"S-1-5-21-1-2-3-1001";
const wchar_t kOtherSid[] = L"S-1-5-21-7-8-9-1105";

std::wstring OwnerFolderOf(const std::wstring& root, const JobOwner& owner) {
    JobFolders folders;
    DWORD dwError = OpenJobFolders(root, owner, folders);
    EXPECT_EQ(dwError, static_cast<DWORD>(ERROR_SUCCESS)) << Narrow(owner.userName);
    return dwError == ERROR_SUCCESS ? folders.owner.Path().substr(folders.root.Path().size() + 1) : L"";
}

TEST(JobFolders, NamesThatCannotNameAFolderGoToTheUnknownOwners) {
    TempFolder root;
    const struct {
        const wchar_t* userName;
        bool ownFolder;
    } kCases[] = {
        {L"alice", true},        {L"CON", false},       {L"nul.txt", false}, {L"Com1", false},
        {L"lpt0.tar.gz", false}, {L"LPT\u00b9", false}, {L"aux .x", false},  {L"bob.", false},
        {L"bob ", false},        {L"CONSOLE", true},    {L"COM10", true},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(Narrow(OwnerFolderOf(root.Path(), {c.userName, kSid})),
                  Narrow(c.ownFolder ? c.userName : kUnknownOwnerFolder));
    }
}

// At the longest root accepted, a long name is cut, also in its clash form
// for another account of that name, and the longest job path stays within
// MAX_PATH. (Wine keeps no folder's DACL, so the same account coming back,
// which finds its grant, cannot be shown here.)
TEST(JobFolders, LongNamesAreCutSoThatEveryPathFits) {
    TempFolder temp;
    std::wstring root = temp.Path() + L"\\";
    std::wstring fullPath;
    while (CheckOutputRoot(root + L"r", fullPath) == ERROR_SUCCESS) {
        root += L"r";
    }
    ASSERT_EQ(CheckOutputRoot(root + L"r", fullPath), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    const std::wstring kLongName(200, L'n');
    for (const wchar_t* sid : {kSid, kOtherSid}) {
        JobFolders folders;
        ASSERT_EQ(OpenJobFolders(root, {kLongName, sid}, folders), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(folders.owner.Path().size() + 1 + kLongestJobFileName, MAX_PATH - 1u) << Narrow(sid);
        std::wstring name = folders.owner.Path().substr(folders.root.Path().size() + 1);
        EXPECT_EQ(name.find(L" ("),
                  sid == kOtherSid ? name.size() - 3 - std::wcslen(sid) : std::wstring::npos);
    }
}

TEST(WriteLedger, AFailedWriteIsMadeGoodOnlyByTheSameBytes) {
    const std::string kFirst = "first";
    const std::string kOther = "other";
    UnreadableBuffer unreadable;
    struct Step {
        const std::string* bytes;  // null: a buffer nobody can read
        bool fails;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
        bool whole;
    } kCases[] = {
        {"no failure", {{&kFirst, false}, {&kOther, false}}, true},
        {"a failure, then its retry", {{&kFirst, true}, {&kFirst, false}, {&kOther, false}}, true},
        {"a retry that fails again, then succeeds",
         {{&kFirst, true}, {&kFirst, true}, {&kFirst, false}},
         true},
        {"a failure, then other bytes", {{&kFirst, true}, {&kOther, false}}, false},
        {"a failure of other bytes after a failure",
         {{&kFirst, true}, {&kOther, true}, {&kOther, false}},
         false},
        {"an unreadable failure, then anything", {{nullptr, true}, {&kFirst, false}}, false},
        {"a failure last", {{&kFirst, false}, {&kOther, true}}, false},
    };
    for (const auto& c : kCases) {
        WriteLedger ledger;
        for (const Step& step : c.steps) {
            const BYTE* pData =
                step.bytes ? reinterpret_cast<const BYTE*>(step.bytes->data()) : unreadable.Get();
            DWORD cbData = step.bytes ? static_cast<DWORD>(step.bytes->size()) : UnreadableBuffer::kSize;
            step.fails ? ledger.Failed(pData, cbData, ERROR_DISK_FULL) : ledger.Written(pData, cbData);
        }
        EXPECT_EQ(ledger.Missing(), c.whole ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_DISK_FULL)) << c.name;
    }
}

class RecordingSink : public EventSink {
public:
    void Report(DWORD messageId, const std::vector<std::wstring>& strings) override {
        entries.push_back({messageId, strings});
    }
    std::vector<std::pair<DWORD, std::vector<std::wstring>>> entries;
};

// One entry for each refused folder, kept incomplete and recovered job, with
// the job, the folder or file, and the system's text for the error; the
// DLL's message table shows them.
TEST(MonitorEvents, EachEntryNamesTheJobTheFolderAndTheSystemsText) {
    TempFolder temp;
    UnreadableBuffer unreadable;
    const std::wstring kBlocked = temp.Path() + L"\\blocked";
    ASSERT_TRUE(
        FileHandle(::CreateFileW(kBlocked.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
    auto events = std::make_shared<RecordingSink>();
    const struct {
        const char* name;
        std::wstring root;
        std::function<void(PrintPort&)> job;
        DWORD messageId;
        std::wstring where;  // the start of the entry's second string
    } kCases[] = {
        {"a refused root", L"relative\\jobs", [](PrintPort&) {}, MSG_FOLDER_REFUSED, L"relative\\jobs"},
        {"a file for the root", kBlocked, [](PrintPort&) {}, MSG_FOLDER_REFUSED, kBlocked},
        {"a failed write", temp.Path(),
         [&](PrintPort& port) {
             DWORD cbWritten = 0;
             port.Write(unreadable.Get(), UnreadableBuffer::kSize, cbWritten);
             port.EndDoc();
         },
         MSG_JOB_INCOMPLETE, temp.Path()},
        {"a port closed mid-job", temp.Path(),
         [](PrintPort& port) {
             DWORD cbWritten = 0;
             port.Write(reinterpret_cast<const BYTE*>("cut"), 3, cbWritten);
         },
         MSG_JOB_INCOMPLETE, temp.Path()},
    };
    std::vector<std::pair<DWORD, std::vector<std::wstring>>> entries;
    for (const auto& c : kCases) {
        events->entries.clear();
        {
            PrintPort port(L"TestPort", c.root, events);
            if (port.StartDoc(L"", 7, L"") == ERROR_SUCCESS) {
                c.job(port);
            }
        }
        ASSERT_EQ(events->entries.size(), 1u) << c.name;
        const auto& entry = events->entries[0];
        EXPECT_EQ(entry.first, c.messageId) << c.name;
        EXPECT_EQ(Narrow(entry.second[0]), "Job 7 on port TestPort") << c.name;
        EXPECT_EQ(entry.second[1].compare(0, c.where.size(), c.where), 0) << c.name;
        size_t code = entry.second[2].find(L" (error ");
        EXPECT_TRUE(code != std::wstring::npos && code > 0) << Narrow(entry.second[2]);
        entries.push_back(entry);
    }
    std::wstring leftover = temp.Path() + L"\\" + kUnknownOwnerFolder + L"\\zcr0.tmp";
    ASSERT_TRUE(
        FileHandle(::CreateFileW(leftover.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
    events->entries.clear();
    KeepLeftoverJobsAsIncomplete(temp.Path(), *events);
    ASSERT_EQ(events->entries.size(), 1u);
    EXPECT_EQ(events->entries[0].first, static_cast<DWORD>(MSG_JOB_INTERRUPTED));
    entries.push_back(events->entries[0]);

    ModuleHandle messages(::LoadLibraryExW(TestDlls::monitor.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(messages) << ::GetLastError();
    for (const auto& entry : entries) {
        std::vector<DWORD_PTR> arguments;
        for (const std::wstring& text : entry.second) {
            arguments.push_back(reinterpret_cast<DWORD_PTR>(text.c_str()));
        }
        wchar_t pText[2048];
        DWORD cch =
            ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, messages.Get(),
                             entry.first, 0, pText, 2048, reinterpret_cast<va_list*>(arguments.data()));
        std::wstring text(pText, cch);
        for (const std::wstring& insertion : entry.second) {
            EXPECT_NE(text.find(insertion), std::wstring::npos)
                << Narrow(text) << " lacks " << Narrow(insertion);
        }
    }
}

}  // namespace
