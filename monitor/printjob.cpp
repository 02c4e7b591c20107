#include "monitor/printjob.h"

#include <cwchar>

#include "monitor/outputfolder.h"

namespace {

// Enough for many jobs with the same id in the same second.
constexpr unsigned kMaxNameAttempts = 1000;

std::wstring OutputFileName(const SYSTEMTIME& started, DWORD jobId, unsigned attempt) {
    wchar_t pName[80];
    int cch = std::swprintf(pName, sizeof(pName) / sizeof(pName[0]), L"%04u%02u%02u-%02u%02u%02u-job%lu",
                            started.wYear, started.wMonth, started.wDay, started.wHour, started.wMinute,
                            started.wSecond, static_cast<unsigned long>(jobId));
    std::wstring name(pName, cch > 0 ? static_cast<size_t>(cch) : 0);
    if (attempt > 1) {
        name += L"-" + std::to_wstring(attempt);
    }
    return name + L".xps";
}

}  // namespace

DWORD PrintJob::Begin(const std::wstring& folder, DWORD jobId, std::unique_ptr<PrintJob>& job) {
    DWORD dwError = EnsureFolder(folder);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    wchar_t pTempPath[MAX_PATH];
    // Creates the (empty) file under a unique name in the same folder, so the
    // final rename never crosses volumes.
    if (::GetTempFileNameW(folder.c_str(), L"zcr", 0, pTempPath) == 0) {
        return ::GetLastError();
    }
    // From here on the object owns the file: it goes again on every path.
    std::unique_ptr<PrintJob> newJob = std::make_unique<PrintJob>(folder, jobId, pTempPath);
    newJob->file_ = FileHandle(::CreateFileW(pTempPath, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!newJob->file_) {
        DWORD dwOpenError = ::GetLastError();  // before newJob deletes the file
        return dwOpenError;
    }
    job = std::move(newJob);
    return ERROR_SUCCESS;
}

PrintJob::PrintJob(const std::wstring& folder, DWORD jobId, const std::wstring& tempPath)
    : folder_(folder), jobId_(jobId), tempPath_(tempPath) {
    ::GetLocalTime(&started_);
}

PrintJob::~PrintJob() { Discard(); }

DWORD PrintJob::Write(const BYTE* pData, DWORD cbData, DWORD& cbWritten) {
    cbWritten = 0;
    if (failure_ != ERROR_SUCCESS) {
        return failure_;
    }
    if (!::WriteFile(file_.Get(), pData, cbData, &cbWritten, nullptr)) {
        return Fail(::GetLastError());
    }
    return ERROR_SUCCESS;
}

DWORD PrintJob::Finish(std::wstring& finalPath) {
    if (failure_ != ERROR_SUCCESS) {
        return failure_;
    }
    // Closing writes what the system still holds; a failure there is a
    // failed write.
    if (!file_.Close()) {
        return Fail(::GetLastError());
    }
    for (unsigned attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        std::wstring candidate = JoinPath(folder_, OutputFileName(started_, jobId_, attempt));
        // Without MOVEFILE_REPLACE_EXISTING an existing file is never replaced.
        if (::MoveFileExW(tempPath_.c_str(), candidate.c_str(), 0)) {
            tempPath_.clear();
            finalPath = candidate;
            return ERROR_SUCCESS;
        }
        DWORD dwError = ::GetLastError();
        if (dwError != ERROR_ALREADY_EXISTS && dwError != ERROR_FILE_EXISTS) {
            return Fail(dwError);
        }
    }
    return Fail(ERROR_FILE_EXISTS);
}

DWORD PrintJob::Fail(DWORD dwError) {
    // Saved before the clean-up, which may change the thread's last-error.
    failure_ = dwError != ERROR_SUCCESS ? dwError : ERROR_WRITE_FAULT;
    Discard();
    return failure_;
}

void PrintJob::Discard() {
    file_.Reset();
    if (!tempPath_.empty()) {
        ::DeleteFileW(tempPath_.c_str());
        tempPath_.clear();
    }
}
