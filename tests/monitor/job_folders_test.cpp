// The monitor's parts on fakes where Wine cannot show them through the DLL:
// owners Wine never names, the writes' ledger, the event log's entries.
#include "monitor/folderwalk.h"
#include "monitor/newerapi.h"
#include "monitor/outputfolder.h"
#include "monitor/outputroots.h"
#include "monitor/printjob.h"
#include "monitor/printport.h"
#include "tests/monitor/monitor_test_support.h"

// After windows.h, which it needs.
#include <sddl.h>

namespace {

const wchar_t kSid[] = L"S-1-5-21-1-2-3-1001";
const wchar_t kOtherSid[] = L"S-1-5-21-7-8-9-1105";

class RecordingSink : public EventSink {
public:
    void Report(DWORD messageId, const std::vector<std::wstring>& strings) override {
        entries.push_back({messageId, strings});
    }
    std::vector<std::pair<DWORD, std::vector<std::wstring>>> entries;
};

// At the longest root accepted: a name that cannot name a folder goes to the
// unknown owner's; a long one is cut to fit, also in its form for another
// account of that name. (Wine keeps no folder's DACL, so the same account
// finding its own folder again cannot be shown here.)
TEST(JobFolders, EveryOwnerGetsAFolderWhoseJobsFitInMaxPath) {
    TempFolder temp;
    std::wstring root = temp.Path() + L"\\";
    std::wstring fullPath;
    while (CheckOutputRoot(root + L"r", fullPath) == ERROR_SUCCESS) {
        root += L"r";
    }
    ASSERT_EQ(CheckOutputRoot(root + L"r", fullPath), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    const std::wstring kLong(200, L'n');
    const std::wstring kUnknown = kUnknownOwnerFolder;
    const struct {
        std::wstring userName;
        const wchar_t* sid;
        std::wstring folderEnd;  // the whole name, unless cut
    } kCases[] = {
        {L"alice", kSid, L"alice"},
        {L"CONSOLE", kSid, L"CONSOLE"},
        {L"COM10", kSid, L"COM10"},
        {L"CON", kSid, kUnknown},
        {L"nul.txt", kSid, kUnknown},
        {L"Com1", kSid, kUnknown},
        {L"lpt0.tar.gz", kSid, kUnknown},
        {L"LPT\u00b9", kSid, kUnknown},
        {L"aux .x", kSid, kUnknown},
        {L"bob.", kSid, kUnknown},
        {L"bob ", kSid, kUnknown},
        {kLong, kSid, L"nnn"},
        {kLong, kOtherSid, L"n (" + std::wstring(kOtherSid) + L")"},
    };
    OutputRoots roots(std::make_shared<RecordingSink>());
    for (const auto& c : kCases) {
        JobFolders folders;
        SecureFolder rootFolder;
        std::wstring shown;
        ASSERT_EQ(roots.Open(root, rootFolder, shown), static_cast<DWORD>(ERROR_SUCCESS));
        ASSERT_EQ(OpenJobFolders(std::move(rootFolder), {c.userName, c.sid}, folders),
                  static_cast<DWORD>(ERROR_SUCCESS));
        std::wstring name = folders.owner.Path().substr(folders.root.Path().size() + 1);
        bool cut = c.userName == kLong;
        EXPECT_TRUE(
            cut ? name.size() > c.folderEnd.size() &&
                      name.compare(name.size() - c.folderEnd.size(), c.folderEnd.size(), c.folderEnd) == 0
                : name == c.folderEnd)
            << Narrow(c.userName) << " got " << Narrow(name);
        size_t longestPath = folders.owner.Path().size() + 1 + kLongestJobFileName;
        EXPECT_TRUE(cut ? longestPath == MAX_PATH - 1u : longestPath < MAX_PATH - 1u) << longestPath;
    }
}

// Each step writes its bytes or fails to; "?" stands for bytes nobody can read.
TEST(WriteLedger, AFailedWriteIsMadeGoodOnlyByTheSameBytes) {
    UnreadableBuffer unreadable;
    const struct {
        const char* name;
        std::vector<std::pair<std::string, bool>> steps;  // the bytes, whether the write fails
        bool whole;
    } kCases[] = {
        {"a failure, then its retry", {{"first", true}, {"first", false}, {"other", false}}, true},
        {"a retry that fails again, then succeeds",
         {{"first", true}, {"first", true}, {"first", false}},
         true},
        {"a failure, then other bytes", {{"first", true}, {"other", false}}, false},
        {"a failure of other bytes after a failure",
         {{"first", true}, {"other", true}, {"other", false}},
         false},
        {"an unreadable failure, then anything", {{"?", true}, {"first", false}}, false},
    };
    for (const auto& c : kCases) {
        WriteLedger ledger;
        for (const auto& step : c.steps) {
            bool readable = step.first != "?";
            const BYTE* pData =
                readable ? reinterpret_cast<const BYTE*>(step.first.data()) : unreadable.Get();
            DWORD cbData = readable ? static_cast<DWORD>(step.first.size()) : UnreadableBuffer::kSize;
            if (step.second) {
                ledger.Failed(pData, cbData, ERROR_DISK_FULL);
                ledger.KeepOwedBytes(pData, cbData);
            } else {
                ledger.Written(pData, cbData);
            }
        }
        EXPECT_EQ(ledger.Missing(), c.whole ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_DISK_FULL)) << c.name;
    }
}

// A refused root, a job kept incomplete after its only write failed (as an
// empty file), a refused file set, one whose port closed mid-job, and an
// interrupted job kept at a start: each entry names the job, the folder or
// file and the system's text for the error (a refused set also its reason),
// and the DLL's message table shows them all.
TEST(MonitorEvents, EachEntryNamesTheJobTheFolderAndTheSystemsText) {
    TempFolder temp;
    UnreadableBuffer unreadable;
    auto events = std::make_shared<RecordingSink>();
    DWORD cbWritten = 0;
    auto roots = std::make_shared<OutputRoots>(events);
    const std::wstring kRoot = temp.Path() + L"\\jobs";
    PrintPort(L"TestPort", L"relative\\jobs", events, roots).StartDoc(L"", 7, nullptr, L"");
    {
        PrintPort port(L"TestPort", kRoot, events, roots);
        ASSERT_EQ(port.StartDoc(L"", 7, nullptr, L""), static_cast<DWORD>(ERROR_SUCCESS));
        port.Write(unreadable.Get(), UnreadableBuffer::kSize, cbWritten);
        port.EndDoc();
        std::string refused = FileSetOf({"\xFF\xD8\xFFpage"}) + "trailing";
        ASSERT_EQ(port.StartDoc(L"", 7, nullptr, L""), static_cast<DWORD>(ERROR_SUCCESS));
        port.Write(reinterpret_cast<const BYTE*>(refused.data()), static_cast<DWORD>(refused.size()),
                   cbWritten);
        port.EndDoc();
        ASSERT_EQ(port.StartDoc(L"", 7, nullptr, L""), static_cast<DWORD>(ERROR_SUCCESS));
        port.Write(reinterpret_cast<const BYTE*>("cut"), 3, cbWritten);
    }
    std::wstring leftover = kRoot + L"\\" + kUnknownOwnerFolder + L"\\zcr0.tmp";
    ASSERT_TRUE(
        FileHandle(::CreateFileW(leftover.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
    KeepLeftoverJobsAsIncomplete(kRoot, *events);

    const DWORD kMessages[] = {MSG_FOLDER_REFUSED, MSG_JOB_INCOMPLETE, MSG_SET_REFUSED, MSG_JOB_INCOMPLETE,
                               MSG_JOB_INTERRUPTED};
    ASSERT_EQ(events->entries.size(), 5u);
    ModuleHandle messages(::LoadLibraryExW(TestDlls::monitor.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(messages) << ::GetLastError();
    for (size_t i = 0; i < 5; ++i) {
        const std::vector<std::wstring>& strings = events->entries[i].second;
        EXPECT_EQ(events->entries[i].first, kMessages[i]);
        if (i == 1) {
            EXPECT_NE(::GetFileAttributesW(strings[1].c_str()), INVALID_FILE_ATTRIBUTES);
            EXPECT_EQ(ReadBytes(strings[1]), "");
        }
        std::wstring where = i == 0 ? L"relative\\jobs" : temp.Path();
        EXPECT_EQ(strings[i < 4 ? 1 : 0].compare(0, where.size(), where), 0) << i;
        if (i < 4) {
            EXPECT_EQ(Narrow(strings[0]), "Job 7 on port TestPort");
            size_t code = strings[2].find(L" (error ");
            EXPECT_TRUE(code != std::wstring::npos && code > 0) << Narrow(strings[2]);
        }
        std::vector<DWORD_PTR> arguments;
        for (const std::wstring& text : strings) {
            arguments.push_back(reinterpret_cast<DWORD_PTR>(text.c_str()));
        }
        wchar_t pText[2048];
        DWORD cch =
            ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, messages.Get(),
                             kMessages[i], 0, pText, 2048, reinterpret_cast<va_list*>(arguments.data()));
        for (const std::wstring& text : strings) {
            EXPECT_NE(std::wstring(pText, cch).find(text), std::wstring::npos) << Narrow(text);
        }
    }
}

FolderSecurity SecurityOf(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    EXPECT_TRUE(
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &pDescriptor, nullptr))
        << Narrow(sddl);
    LocalMemory descriptor(pDescriptor);
    return FolderSecurity::Of(pDescriptor, nullptr);
}

#define USER_SID L"S-1-5-21-1-2-3-1001"
// As Windows sets them: the common documents, where users may add but not
// rename or remove, and a drive's root, where users may make folders that
// then give them Modify.
const wchar_t kPublicDocuments[] = L"O:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1201bf;;;IU)";
const wchar_t kDriveRoot[] =
    L"O:SYD:(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// A folder that users can rename or remove is refused; else only one with the
// monitor's own list is a root, and another keeps its list and holds a root.
// (Wine keeps no access list: these are descriptors as Windows has them.)
TEST(OutputRoots, AnExistingFolderIsJudgedByWhoMayRenameOrRemoveIt) {
    const struct {
        const char* name;
        const wchar_t* folder;
        const wchar_t* parent;
        ExistingFolder judged;
    } kCases[] = {
        {"the monitor's", L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", kPublicDocuments,
         ExistingFolder::IsRoot},
        {"the common documents", kPublicDocuments, kDriveRoot, ExistingFolder::HoldsRoot},
        {"a user's", L"O:" USER_SID L"D:(A;OICI;FA;;;" USER_SID L")", kDriveRoot, ExistingFolder::Refused},
        {"a user's with the monitor's list", L"O:" USER_SID L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
         kDriveRoot, ExistingFolder::Refused},
        {"one that inherited Modify for users", L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;AU)", kDriveRoot,
         ExistingFolder::Refused},
        {"one where users delete what it holds", L"O:BAD:(A;OICI;FA;;;BA)(A;;0x1200e9;;;BU)", kDriveRoot,
         ExistingFolder::Refused},
        {"one in a folder where users delete what it holds", L"O:BAD:(A;OICI;FA;;;BA)",
         L"O:BAD:(A;OICI;FA;;;BA)(A;;0x1200e9;;;BU)", ExistingFolder::Refused},
        {"one without an access list", L"O:BA", kDriveRoot, ExistingFolder::Refused},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(static_cast<int>(JudgeExisting(SecurityOf(c.folder), SecurityOf(c.parent))),
                  static_cast<int>(c.judged))
            << c.name;
    }
}

// Each thing found in the way is named once, with the root used instead.
TEST(OutputRoots, WhatIsInTheWayIsReportedOnce) {
    TempFolder temp;
    for (const wchar_t* name : {L"\\Zorvane Creator", L"\\blocker"}) {
        ASSERT_TRUE(FileHandle(
            ::CreateFileW((temp.Path() + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
    }
    auto events = std::make_shared<RecordingSink>();
    OutputRoots roots(events);
    SecureFolder root;
    SecureFolder fallback;
    for (int i = 0; i < 2; ++i) {
        std::wstring shown;
        ASSERT_EQ(roots.Open(temp.Path(), root, shown), static_cast<DWORD>(ERROR_SUCCESS));
        ASSERT_EQ(roots.Open(temp.Path() + L"\\blocker\\sub", fallback, shown),
                  static_cast<DWORD>(ERROR_SUCCESS));
    }
    EXPECT_EQ(Narrow(root.Path()), Narrow(temp.Path() + L"\\Zorvane Creator (2)"));
    using Entry = std::pair<DWORD, std::vector<std::wstring>>;
    EXPECT_EQ(events->entries,
              (std::vector<Entry>{
                  {MSG_ROOT_PATH_TAKEN, {temp.Path() + L"\\Zorvane Creator", L"a file", root.Path()}},
                  {MSG_OUTPUT_FOLDER_REFUSED,
                   {temp.Path() + L"\\blocker\\sub", temp.Path() + L"\\blocker", L"a file", fallback.Path()}},
              }));
}

// Each step opens its folder relative to the one before, which the walk
// holds: a folder above that is renamed, with another put in its place, does
// not take the next step with it. (On Windows only a folder that users cannot
// rename is held past a handle of theirs; under Wine this program can.)
TEST(FolderWalk, AStepGoesIntoTheFolderHeldNotIntoWhatTookItsPath) {
    TempFolder temp;
    const std::wstring kAbove = temp.Path() + L"\\above";
    ASSERT_TRUE(::CreateDirectoryW(kAbove.c_str(), nullptr)) << ::GetLastError();
    // Somebody's handle that shares nothing: the walk holds the folder past it.
    FileHandle theirs(::CreateFileW(kAbove.c_str(), DELETE | FILE_LIST_DIRECTORY | SYNCHRONIZE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(theirs) << ::GetLastError();
    FolderWalk walk;
    ASSERT_EQ(walk.Walk(kAbove, false), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(walk.Current().HeldOutsideSharing());

    ASSERT_TRUE(newerapi::RenameByHandle(theirs.Get(), temp.Path() + L"\\moved")) << ::GetLastError();
    ASSERT_TRUE(::CreateDirectoryW(kAbove.c_str(), nullptr)) << ::GetLastError();
    // Wine cannot read the security of a folder made below a renamed one:
    // where the step made its folder is all that is checked.
    walk.Step(L"next", false);
    EXPECT_NE(::GetFileAttributesW((temp.Path() + L"\\moved\\next").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(::GetFileAttributesW((kAbove + L"\\next").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
