// The simulated machine's SetupAPI: INF files are real files in the INF
// directory, read when opened. Install sections name their files with
// "CopyFiles=@file,..." or through file-list sections; [DestinationDirs]
// DefaultDestDir gives the directory id they go to. Files come from the
// INF's own directory, as for an INF whose [SourceDisksNames] gives no path.
// Unlike Wine, a missing section fails (ERROR_SECTION_NOT_FOUND), and a
// commit whose source file is missing fails instead of prompting.
#include <fstream>
#include <sstream>

#include "tests/sim/sim_binding.h"

using namespace sim;

namespace {

std::wstring Trim(const std::wstring& text) {
    size_t first = text.find_first_not_of(L" \t\r");
    size_t last = text.find_last_not_of(L" \t\r");
    return first == std::wstring::npos ? std::wstring() : text.substr(first, last - first + 1);
}

std::vector<std::wstring> SplitList(const std::wstring& text) {
    std::vector<std::wstring> items;
    std::wstringstream stream(text);
    std::wstring item;
    while (std::getline(stream, item, L',')) {
        items.push_back(Trim(item));
    }
    return items;
}

// Sections and their lines, comments and blank lines dropped.
bool ParseInf(const std::wstring& path, SimulatedMachine::OpenInf& inf) {
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in) {
        return false;
    }
    std::string line;
    std::vector<std::wstring>* section = nullptr;
    while (std::getline(in, line)) {
        std::wstring text = Trim(std::wstring(line.begin(), line.end()));
        size_t comment = text.find(L';');
        text = Trim(comment == std::wstring::npos ? text : text.substr(0, comment));
        if (text.empty()) {
            continue;
        }
        if (text.front() == L'[' && text.back() == L']') {
            section = &inf.sections[text.substr(1, text.size() - 2)];
        } else if (section != nullptr) {
            section->push_back(text);
        }
    }
    return true;
}

std::wstring ValueOf(const std::wstring& line, const std::wstring& key) {
    size_t equals = line.find(L'=');
    if (equals == std::wstring::npos || _wcsicmp(Trim(line.substr(0, equals)).c_str(), key.c_str()) != 0) {
        return std::wstring();
    }
    return Trim(line.substr(equals + 1));
}

// The files an install section copies, in order.
std::vector<std::wstring> FilesOf(const SimulatedMachine::OpenInf& inf,
                                  const std::vector<std::wstring>& lines) {
    std::vector<std::wstring> files;
    for (const std::wstring& line : lines) {
        for (const std::wstring& entry : SplitList(ValueOf(line, L"CopyFiles"))) {
            if (!entry.empty() && entry[0] == L'@') {
                files.push_back(entry.substr(1));
                continue;
            }
            auto list = inf.sections.find(entry);
            if (list == inf.sections.end()) {
                continue;
            }
            for (const std::wstring& fileLine : list->second) {
                files.push_back(SplitList(fileLine)[0]);
            }
        }
    }
    return files;
}

DWORD DefaultDestinationId(const SimulatedMachine::OpenInf& inf) {
    auto dirs = inf.sections.find(L"DestinationDirs");
    if (dirs != inf.sections.end()) {
        for (const std::wstring& line : dirs->second) {
            std::wstring value = ValueOf(line, L"DefaultDestDir");
            if (!value.empty()) {
                return static_cast<DWORD>(std::stoul(SplitList(value)[0]));
            }
        }
    }
    return 0;
}

}  // namespace

namespace sys {

HINF WINAPI SetupOpenInfFileW(PCWSTR FileName, PCWSTR InfClass, DWORD InfStyle, PUINT ErrorLine) {
    if (Enter("SetupOpenInfFileW", {SimText(FileName), SimText(InfClass), SimNumber(InfStyle),
                                    ErrorLine ? L"error line" : L"(null)"})) {
        return INVALID_HANDLE_VALUE;
    }
    if (FileName == nullptr || (InfStyle & INF_STYLE_WIN4) == 0) {
        return Unmodeled("SetupOpenInfFileW other than a Windows 4 INF by name", INVALID_HANDLE_VALUE);
    }
    std::wstring path = wcschr(FileName, L'\\') ? FileName : M().infDirectory + L"\\" + FileName;
    SimulatedMachine::OpenInf inf;
    inf.name = FileName;
    inf.directory = path.substr(0, path.find_last_of(L'\\'));
    if (OutsideRoot("SetupOpenInfFileW", path.c_str())) {
        return INVALID_HANDLE_VALUE;
    }
    if (!ParseInf(path, inf)) {
        return Fails(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    HINF handle = M().NewHandle();
    M().openInfs[handle] = std::move(inf);
    return handle;
}

BOOL WINAPI SetupSetDirectoryIdW(HINF InfHandle, DWORD Id, PCWSTR Directory) {
    if (Enter("SetupSetDirectoryIdW", {SimNumber(Id), SimText(Directory)})) {
        return FALSE;
    }
    auto inf = M().openInfs.find(InfHandle);
    if (inf == M().openInfs.end()) {
        return Fails(ERROR_INVALID_HANDLE, FALSE);
    }
    inf->second.directoryIds[Id] = Directory != nullptr ? Directory : L"";
    return TRUE;
}

HSPFILEQ WINAPI SetupOpenFileQueue() {
    if (Enter("SetupOpenFileQueue", {})) {
        return INVALID_HANDLE_VALUE;
    }
    HSPFILEQ handle = M().NewHandle();
    M().openQueues[handle];
    return handle;
}

PVOID WINAPI SetupInitDefaultQueueCallbackEx(HWND OwnerWindow, HWND AlternateProgressWindow,
                                             UINT ProgressMessage, DWORD Reserved1, PVOID Reserved2) {
    if (Enter("SetupInitDefaultQueueCallbackEx",
              {SimNumber(reinterpret_cast<INT_PTR>(OwnerWindow)),
               SimNumber(reinterpret_cast<INT_PTR>(AlternateProgressWindow)), SimNumber(ProgressMessage),
               SimNumber(Reserved1), SimNumber(reinterpret_cast<INT_PTR>(Reserved2))})) {
        return nullptr;
    }
    PVOID context = M().NewHandle();
    M().openQueueContexts.insert(context);
    return context;
}

BOOL WINAPI SetupInstallFilesFromInfSectionW(HINF InfHandle, HINF LayoutInfHandle, HSPFILEQ FileQueue,
                                             PCWSTR SectionName, PCWSTR SourceRootPath, UINT CopyFlags) {
    if (Enter("SetupInstallFilesFromInfSectionW",
              {SimText(SectionName), SimText(SourceRootPath), SimHex(CopyFlags),
               LayoutInfHandle ? L"layout INF" : L"(null)"})) {
        return FALSE;
    }
    auto inf = M().openInfs.find(InfHandle);
    auto queue = M().openQueues.find(FileQueue);
    if (inf == M().openInfs.end() || queue == M().openQueues.end() || SectionName == nullptr) {
        return Fails(ERROR_INVALID_HANDLE, FALSE);
    }
    auto section = inf->second.sections.find(SectionName);
    if (section == inf->second.sections.end()) {
        return Fails(ERROR_SECTION_NOT_FOUND, FALSE);
    }
    auto destination = inf->second.directoryIds.find(DefaultDestinationId(inf->second));
    if (destination == inf->second.directoryIds.end()) {
        return Unmodeled("a destination other than a directory id set with SetupSetDirectoryIdW", FALSE);
    }
    std::wstring sourceDirectory = SourceRootPath != nullptr ? SourceRootPath : inf->second.directory;
    for (const std::wstring& file : FilesOf(inf->second, section->second)) {
        queue->second.push_back({sourceDirectory + L"\\" + file, destination->second + L"\\" + file});
    }
    return TRUE;
}

UINT WINAPI SetupDefaultQueueCallbackW(PVOID, UINT, UINT_PTR, UINT_PTR) {
    return Unmodeled("SetupDefaultQueueCallbackW called directly", UINT{FILEOP_ABORT});
}

BOOL WINAPI SetupCommitFileQueueW(HWND Owner, HSPFILEQ QueueHandle, PSP_FILE_CALLBACK_W MsgHandler,
                                  PVOID Context) {
    if (Enter("SetupCommitFileQueueW", {SimNumber(reinterpret_cast<INT_PTR>(Owner))})) {
        return FALSE;
    }
    auto queue = M().openQueues.find(QueueHandle);
    if (queue == M().openQueues.end()) {
        return Fails(ERROR_INVALID_HANDLE, FALSE);
    }
    if (MsgHandler != &sys::SetupDefaultQueueCallbackW || M().openQueueContexts.count(Context) == 0) {
        return Unmodeled("a commit without the default queue callback and its context", FALSE);
    }
    for (const SimulatedMachine::QueuedCopy& copy : queue->second) {
        if (OutsideRoot("SetupCommitFileQueueW", copy.source.c_str()) ||
            OutsideRoot("SetupCommitFileQueueW", copy.target.c_str())) {
            return FALSE;
        }
        if (!::CopyFileW(copy.source.c_str(), copy.target.c_str(), FALSE)) {
            return FALSE;  // CopyFileW's own code
        }
    }
    queue->second.clear();
    return TRUE;
}

void WINAPI SetupTermDefaultQueueCallback(PVOID Context) {
    M().Record("SetupTermDefaultQueueCallback", {});
    if (M().openQueueContexts.erase(Context) == 0) {
        ADD_FAILURE() << "SetupTermDefaultQueueCallback of a context that is not open";
    }
}

BOOL WINAPI SetupCloseFileQueue(HSPFILEQ QueueHandle) {
    M().Record("SetupCloseFileQueue", {});
    if (M().openQueues.erase(QueueHandle) == 0) {
        ADD_FAILURE() << "SetupCloseFileQueue of a queue that is not open";
        return Fails(ERROR_INVALID_HANDLE, FALSE);
    }
    return TRUE;
}

void WINAPI SetupCloseInfFile(HINF InfHandle) {
    auto inf = M().openInfs.find(InfHandle);
    M().Record("SetupCloseInfFile", {inf != M().openInfs.end() ? inf->second.name : L"(not open)"});
    if (inf == M().openInfs.end()) {
        ADD_FAILURE() << "SetupCloseInfFile of an INF that is not open";
        return;
    }
    M().openInfs.erase(inf);
}

}  // namespace sys
