// PrintJob: one job's data on its way into a file of its own, in the owner's
// folder of the output root. The file is created once, under a name nobody
// can guess, and everything happens through that one handle: the data, and
// on Windows Vista on the final name (on the Windows XP generation, a rename
// inside the protected folder once the handle is closed). The file is never
// opened again by name (on the Windows XP generation, a job without data is
// deleted by name in the protected folder), and no data is ever deleted:
//   - a job written whole is named "<yyyymmdd>-<hhmmss>-job<id>.xps" from
//     its start, with "-<n>" added while that name is taken;
//   - a job whose data could not all be written, or that ends without being
//     finished, is named "<yyyymmdd>-<hhmmss>-job<id>-incomplete.xps";
//   - while it is written, the file is "zcr<32 random hex digits>.tmp";
//   - a job that carried no bytes at all leaves no file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "monitor/eventlog.h"
#include "monitor/outputfolder.h"
#include "platform/handles.h"

// What the spooler's writes left out of a job's file. A write that fails is
// owed: the spooler retries a failed write, and a later write of the very
// same bytes makes it good. A later write of other bytes, or one after a
// failed write whose bytes could not be read to compare, leaves the file
// without them for good.
class WriteLedger {
public:
    // After a write that reached the file whole.
    void Written(const BYTE* pData, DWORD cbData);
    // After a write that failed with the error; pData need not be readable.
    void Failed(const BYTE* pData, DWORD cbData, DWORD dwError);
    // ERROR_SUCCESS while the file lacks nothing written to it; else the
    // error of the first write it lacks.
    DWORD Missing() const { return lostError_ != ERROR_SUCCESS ? lostError_ : owedError_; }

private:
    // A new write came instead of the owed one's retry.
    void LoseOwed();

    DWORD owedError_ = ERROR_SUCCESS;
    bool owedKnown_ = false;  // owed_ holds the failed write's bytes
    std::vector<BYTE> owed_;
    DWORD lostError_ = ERROR_SUCCESS;
};

class PrintJob {
public:
    // Creates the job's file in folders.owner; the job holds the folders
    // open until it ends. ERROR_FILE_INVALID when the file the system made
    // is not the one file at the name asked for (something swapped it).
    static DWORD Begin(JobFolders folders, DWORD jobId, std::unique_ptr<PrintJob>& job);

    PrintJob(JobFolders folders, DWORD jobId);
    // A job that was not finished is kept under an incomplete name (one
    // without data leaves no file).
    ~PrintJob();
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    // Appends the bytes. A failed write answers its error and leaves the file
    // as it was before the call, so that the spooler's retry of the same
    // buffer continues it (see WriteLedger).
    DWORD Write(const BYTE* pData, DWORD cbData, DWORD& cbWritten);
    // Gives the file its final name and closes it; finalPath is where the
    // data is, empty when the job carried no data and left no file. A file
    // that lacks a write is kept as incomplete, and that write's error is
    // answered.
    DWORD Finish(std::wstring& finalPath);
    // Keeps a job that did not end as incomplete; finalPath as for Finish.
    DWORD Abandon(std::wstring& finalPath) { return Place(false, finalPath); }

private:
    DWORD Place(bool complete, std::wstring& finalPath);

    JobFolders folders_;
    DWORD jobId_;
    SYSTEMTIME started_;
    std::wstring path_;  // where the file is now
    FileHandle file_;
    ULONGLONG written_ = 0;
    // The job's first bytes, which tell its format and so its extension.
    static constexpr std::size_t kHeadBytes = 8;
    std::string head_;
    WriteLedger ledger_;
    bool placed_ = false;
};

// Gives every temporary file that an interrupted job left in the folders
// under root (the monitor was stopped, or the system went down, while a job
// was written) an incomplete name, "<yyyymmdd>-<hhmmss>-interrupted-
// incomplete.xps" from the file's last write, and reports each to events. A
// file still open for a job (its handle shares nothing) is left as it is.
void KeepLeftoverJobsAsIncomplete(const std::wstring& root, EventSink& events);
