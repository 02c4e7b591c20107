#include "monitor/printjob.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include <ntsecapi.h>

#include "monitor/newerapi.h"

namespace {

const wchar_t kTemporaryPattern[] = L"zcr*.tmp";
// Enough for a name nobody can guess; a name that is taken all the same
// means somebody is guessing, and the job is not started.
constexpr int kCreateAttempts = 8;
constexpr ULONG kRandomBytes = 16;

// The extension the job's first bytes show: the output filter sends PDF;
// without the product library (a bundled installation) the job stays XPS.
const wchar_t* ExtensionOf(const std::string& head) {
    return head.compare(0, 5, "%PDF-") == 0 ? L".pdf" : L".xps";
}

std::wstring OutputFileName(const SYSTEMTIME& stamp, const std::wstring& label, bool complete,
                            unsigned long long n, const wchar_t* extension) {
    wchar_t pStamp[32];
    int cch = std::swprintf(pStamp, sizeof(pStamp) / sizeof(pStamp[0]), L"%04u%02u%02u-%02u%02u%02u-",
                            stamp.wYear, stamp.wMonth, stamp.wDay, stamp.wHour, stamp.wMinute, stamp.wSecond);
    std::wstring name = std::wstring(pStamp, cch > 0 ? static_cast<size_t>(cch) : 0) + label;
    if (!complete) {
        name += L"-incomplete";
    }
    if (n > 1) {
        name += L"-" + std::to_wstring(n);
    }
    return name + extension;
}

DWORD RandomFileName(std::wstring& name) {
    BYTE random[kRandomBytes];
    if (!RtlGenRandom(random, sizeof(random))) {
        return ERROR_GEN_FAILURE;  // the function sets no last-error
    }
    wchar_t pHex[2 * kRandomBytes + 1];
    for (ULONG i = 0; i < kRandomBytes; ++i) {
        std::swprintf(pHex + 2 * i, 3, L"%02x", random[i]);
    }
    name = std::wstring(L"zcr") + pHex + L".tmp";
    return ERROR_SUCCESS;
}

// Whether the open file is the one file at path: a single link (nobody has
// put another name on it, or swapped another file in at its name) and, where
// the system tells, its real path is path.
DWORD CheckSoleName(HANDLE hFile, const std::wstring& path) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(hFile, &info)) {
        return ::GetLastError();
    }
    if (info.nNumberOfLinks != 1) {
        return ERROR_FILE_INVALID;
    }
    std::wstring finalPath;
    DWORD dwError = newerapi::FinalPath(hFile, finalPath);
    if (dwError == ERROR_PROC_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    return SamePath(finalPath, path) ? ERROR_SUCCESS : ERROR_FILE_INVALID;
}

// Gives the file at path the first free output name in folder: through the
// handle where the system offers it, else (Windows XP) by name once the
// handle is closed. An existing file is never replaced.
DWORD PlaceFile(FileHandle& file, std::wstring& path, const std::wstring& folder, const SYSTEMTIME& stamp,
                const std::wstring& label, bool complete, const wchar_t* extension) {
    bool byHandle = newerapi::HasFileInformationByHandle();
    if (!byHandle && !file.Close()) {
        return ::GetLastError();
    }
    for (unsigned long long n = 1;; ++n) {
        std::wstring candidate = JoinPath(folder, OutputFileName(stamp, label, complete, n, extension));
        bool renamed = byHandle ? newerapi::RenameByHandle(file.Get(), candidate)
                                : ::MoveFileExW(path.c_str(), candidate.c_str(), 0) != FALSE;
        if (renamed) {
            path = candidate;
            return byHandle ? CheckSoleName(file.Get(), path) : ERROR_SUCCESS;
        }
        DWORD dwError = ::GetLastError();
        if (dwError != ERROR_ALREADY_EXISTS && dwError != ERROR_FILE_EXISTS) {
            return dwError;
        }
    }
}

// Takes back the file of a job that carried no data: through the handle
// where the system offers it, else (Windows XP) by name once the handle is
// closed, inside the owner's folder that only SYSTEM and Administrators write.
DWORD RemoveFile(FileHandle& file, const std::wstring& path) {
    if (newerapi::HasFileInformationByHandle()) {
        return newerapi::DeleteByHandle(file.Get()) ? ERROR_SUCCESS : ::GetLastError();
    }
    if (!file.Close() || !::DeleteFileW(path.c_str())) {
        return ::GetLastError();
    }
    return ERROR_SUCCESS;
}

std::wstring JobLabel(DWORD jobId) { return L"job" + std::to_wstring(jobId); }

// A copy of the bytes through ReadProcessMemory: a buffer the system could
// not read fails here too, instead of faulting.
bool CopyReadable(const BYTE* pData, DWORD cbData, std::vector<BYTE>& copy) {
    copy.resize(cbData);
    SIZE_T cbRead = 0;
    return ::ReadProcessMemory(::GetCurrentProcess(), pData, copy.data(), cbData, &cbRead) &&
           cbRead == cbData;
}

}  // namespace

void WriteLedger::Written(const BYTE* pData, DWORD cbData) {
    // The system has read the buffer: comparing it is safe.
    bool retry = owedKnown_ && owed_.size() == cbData && std::memcmp(owed_.data(), pData, cbData) == 0;
    if (owedError_ != ERROR_SUCCESS && !retry) {
        LoseOwed();
    }
    owedError_ = ERROR_SUCCESS;
    owed_.clear();
    owedKnown_ = false;
}

void WriteLedger::Failed(const BYTE* pData, DWORD cbData, DWORD dwError) {
    std::vector<BYTE> bytes;
    bool known = CopyReadable(pData, cbData, bytes);
    if (owedError_ != ERROR_SUCCESS && !(known && owedKnown_ && bytes == owed_)) {
        LoseOwed();
    }
    owedError_ = dwError;
    owed_ = std::move(bytes);
    owedKnown_ = known;
}

void WriteLedger::LoseOwed() {
    if (lostError_ == ERROR_SUCCESS) {
        lostError_ = owedError_;
    }
}

DWORD PrintJob::Begin(JobFolders folders, DWORD jobId, std::unique_ptr<PrintJob>& job) {
    std::unique_ptr<PrintJob> newJob = std::make_unique<PrintJob>(std::move(folders), jobId);
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        std::wstring name;
        DWORD dwError = RandomFileName(name);
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
        std::wstring path = JoinPath(newJob->folders_.owner.Path(), name);
        // No sharing: nobody else opens, renames or deletes the file while
        // the job has it.
        FileHandle file(::CreateFileW(
            path.c_str(), GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file) {
            dwError = ::GetLastError();
            if (dwError == ERROR_FILE_EXISTS || dwError == ERROR_ALREADY_EXISTS) {
                continue;
            }
            return dwError;
        }
        dwError = CheckSoleName(file.Get(), path);
        if (dwError != ERROR_SUCCESS) {
            // Made somewhere else than asked: take back the empty file.
            newerapi::DeleteByHandle(file.Get());
            return dwError;
        }
        newJob->path_ = path;
        newJob->file_ = std::move(file);
        job = std::move(newJob);
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_EXISTS;
}

PrintJob::PrintJob(JobFolders folders, DWORD jobId) : folders_(std::move(folders)), jobId_(jobId) {
    ::GetLocalTime(&started_);
}

PrintJob::~PrintJob() {
    if (!placed_ && file_) {
        std::wstring ignored;
        Place(false, ignored);
    }
}

DWORD PrintJob::Write(const BYTE* pData, DWORD cbData, DWORD& cbWritten) {
    cbWritten = 0;
    if (cbData == 0) {
        return ERROR_SUCCESS;
    }
    if (::WriteFile(file_.Get(), pData, cbData, &cbWritten, nullptr)) {
        if (written_ < kHeadBytes) {
            head_.append(reinterpret_cast<const char*>(pData),
                         std::min<std::size_t>(cbWritten, kHeadBytes - static_cast<std::size_t>(written_)));
        }
        written_ += cbWritten;
        ledger_.Written(pData, cbData);
        return ERROR_SUCCESS;
    }
    // Saved before the clean-up, which may change the thread's last-error.
    DWORD dwError = ::GetLastError();
    dwError = dwError != ERROR_SUCCESS ? dwError : ERROR_WRITE_FAULT;
    ledger_.Failed(pData, cbData, dwError);
    // What part of the buffer reached the file is taken back.
    cbWritten = 0;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(written_);
    if (::SetFilePointerEx(file_.Get(), end, nullptr, FILE_BEGIN)) {
        ::SetEndOfFile(file_.Get());
    }
    return dwError;
}

DWORD PrintJob::Finish(std::wstring& finalPath) {
    DWORD dwError = Place(ledger_.Missing() == ERROR_SUCCESS, finalPath);
    return dwError != ERROR_SUCCESS ? dwError : ledger_.Missing();
}

DWORD PrintJob::Place(bool complete, std::wstring& finalPath) {
    placed_ = true;
    // A folder that leads elsewhere now keeps the file where it is, under
    // its temporary name, for the next start of the monitor.
    DWORD dwError = folders_.owner.CheckStillPlain();
    // A job that carried no bytes is no document: nothing is lost without it.
    bool noData = written_ == 0 && ledger_.Missing() == ERROR_SUCCESS;
    if (dwError == ERROR_SUCCESS) {
        dwError = noData ? RemoveFile(file_, path_)
                         : PlaceFile(file_, path_, folders_.owner.Path(), started_, JobLabel(jobId_),
                                     complete, ExtensionOf(head_));
    }
    // Closing writes what the system still holds: a failure there is a
    // failed write.
    if (!file_.Close() && dwError == ERROR_SUCCESS) {
        dwError = ::GetLastError();
    }
    finalPath = noData && dwError == ERROR_SUCCESS ? std::wstring() : path_;
    return dwError;
}

void KeepLeftoverJobsAsIncomplete(const std::wstring& root, EventSink& events) {
    for (const SecureFolder& folder : ExistingJobFolders(root)) {
        WIN32_FIND_DATAW found;
        FindHandle search(::FindFirstFileW(JoinPath(folder.Path(), kTemporaryPattern).c_str(), &found));
        if (!search) {
            continue;
        }
        do {
            if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
                continue;
            }
            std::wstring path = JoinPath(folder.Path(), found.cFileName);
            FileHandle file(::CreateFileW(path.c_str(),
                                          DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            FILETIME localTime;
            SYSTEMTIME stamp;
            if (!file || CheckSoleName(file.Get(), path) != ERROR_SUCCESS ||
                !::FileTimeToLocalFileTime(&found.ftLastWriteTime, &localTime) ||
                !::FileTimeToSystemTime(&localTime, &stamp)) {
                continue;
            }
            // Its first bytes tell what it is, as for a job that ends.
            char head[8];
            DWORD cbHead = 0;
            if (!::ReadFile(file.Get(), head, sizeof(head), &cbHead, nullptr)) {
                cbHead = 0;
            }
            if (PlaceFile(file, path, folder.Path(), stamp, L"interrupted", false,
                          ExtensionOf(std::string(head, cbHead))) == ERROR_SUCCESS) {
                events.Report(MSG_JOB_INTERRUPTED, {path});
            }
        } while (::FindNextFileW(search.Get(), &found));
    }
}
