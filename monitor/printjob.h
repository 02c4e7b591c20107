// PrintJob: one job's data on its way into a file of its own, in the owner's
// folder of the output root, or into one file per page when the data is a
// file set (platform/fileset.h). Each file is created once, under a name
// nobody can guess, and everything happens through its one handle: the data,
// and on Windows Vista on the final name (on the Windows XP generation, a
// rename inside the protected folder once the handle is closed). No file is
// opened again by name (on the Windows XP generation, a file taken back is
// deleted by name in the protected folder), and no data is lost:
//   - a job written whole is named after its document (see jobnames.h), with
//     the extension its first bytes show;
//   - a file set written whole becomes its files, named after the document,
//     once every frame is checked; the set's own file is then deleted;
//   - a job whose data could not all be written, that ends without being
//     finished, or whose file set is refused or could not be made whole, is
//     kept as "<yyyymmdd>-<hhmmss>-job<id>-incomplete<ext>" (".zcs" for a
//     file set), and no file of its set is left;
//   - while it is written, the file is "zcr<32 random hex digits>.tmp";
//   - a job that carried no bytes at all leaves no file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "monitor/eventlog.h"
#include "monitor/outputfolder.h"
#include "platform/fileformat.h"
#include "platform/fileset.h"
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
    // Allocates nothing, so that the failure is on record whatever fails
    // after it: until KeepOwedBytes has the bytes, no retry can make the
    // write good.
    void Failed(const BYTE* pData, DWORD cbData, DWORD dwError);
    // Keeps the failed write's bytes to compare with the spooler's retry;
    // may throw std::bad_alloc, which leaves the write owed for good.
    void KeepOwedBytes(const BYTE* pData, DWORD cbData);
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
    // open until it ends. documentStem names its files (DocumentStem).
    // ERROR_FILE_INVALID when the file the system made is not the one file
    // at the name asked for (something swapped it).
    static DWORD Begin(JobFolders folders, DWORD jobId, const std::wstring& documentStem,
                       std::unique_ptr<PrintJob>& job);

    PrintJob(JobFolders folders, DWORD jobId, const std::wstring& documentStem);
    // A job that was not finished is kept under an incomplete name (one
    // without data leaves no file).
    ~PrintJob();
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    // Appends the bytes. A failed write answers its error and leaves the file
    // as it was before the call, so that the spooler's retry of the same
    // buffer continues it (see WriteLedger).
    DWORD Write(const BYTE* pData, DWORD cbData, DWORD& cbWritten);
    // Gives the file its final name, or makes a file set's files, and
    // closes it; finalPath is where the data is (a set's first file), empty
    // when the job carried no data and left no file. A file that lacks a
    // write is kept as incomplete, and that write's error is answered; so is
    // a file set refused (ERROR_INVALID_DATA, see SetRefusal) or not made
    // whole (the error that stopped it).
    DWORD Finish(std::wstring& finalPath);
    // Keeps a job that did not end as incomplete; finalPath as for Finish.
    DWORD Abandon(std::wstring& finalPath) { return Place(false, finalPath); }
    // Why Finish refused the job's file set; FileSetError::None otherwise.
    FileSetError SetRefusal() const { return setRefusal_; }

private:
    DWORD Place(bool complete, std::wstring& finalPath);
    DWORD FinishSet(std::wstring& finalPath);
    FileFormat Format() const;

    JobFolders folders_;
    DWORD jobId_;
    std::wstring documentStem_;
    SYSTEMTIME started_;
    std::wstring path_;  // where the file is now
    FileHandle file_;
    ULONGLONG written_ = 0;
    // The job's first bytes, which tell its format and so its extension.
    std::string head_;
    WriteLedger ledger_;
    FileSetError setRefusal_ = FileSetError::None;
    bool placed_ = false;
};

// Gives every temporary file that an interrupted job left in the folders
// under root (the monitor was stopped, or the system went down, while a job
// was written) an incomplete name, "<yyyymmdd>-<hhmmss>-interrupted-
// incomplete<ext>" from the file's last write and its first bytes, and
// reports each to events. A file still open for a job (its handle shares
// nothing) is left as it is.
void KeepLeftoverJobsAsIncomplete(const std::wstring& root, EventSink& events);
