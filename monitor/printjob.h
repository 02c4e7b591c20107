// PrintJob: one job's data on its way into a file of its own. The data goes
// into a temporary file in the output folder; only a job that was written
// whole is renamed to its final, unique name. A job that fails, or that ends
// without being finished, leaves no file behind.
#pragma once

#include <memory>
#include <string>

#include <windows.h>

#include "monitor/scopedhandle.h"

class PrintJob {
public:
    // Creates the folder when it is missing and the job's temporary file in it.
    static DWORD Begin(const std::wstring& folder, DWORD jobId, std::unique_ptr<PrintJob>& job);

    PrintJob(const std::wstring& folder, DWORD jobId, const std::wstring& tempPath);
    ~PrintJob();
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    // Appends the bytes. After a failed write the temporary file is gone and
    // every later call answers the same error.
    DWORD Write(const BYTE* pData, DWORD cbData, DWORD& cbWritten);
    // Closes the file and gives it its final name, "<yyyymmdd>-<hhmmss>-job<id>.xps"
    // from the job's start, with "-<n>" added when that name is taken.
    DWORD Finish(std::wstring& finalPath);

private:
    DWORD Fail(DWORD dwError);
    void Discard();

    std::wstring folder_;
    DWORD jobId_;
    SYSTEMTIME started_;
    // Empty once the file is renamed or deleted.
    std::wstring tempPath_;
    FileHandle file_;
    DWORD failure_ = ERROR_SUCCESS;
};
