#include "monitor/printjob.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <functional>

#include <ntsecapi.h>

#include "monitor/jobnames.h"
#include "monitor/newerapi.h"
#include "monitor/samename.h"

namespace {

const wchar_t kTemporaryPattern[] = L"zcr*.tmp";
// Enough for a name nobody can guess; a name that is taken all the same
// means somebody is guessing, and the job is not started.
constexpr int kCreateAttempts = 8;
constexpr ULONG kRandomBytes = 16;
// A file set's files are copied out of the job's file in pieces this large.
constexpr DWORD kCopyBytes = 64 * 1024;

// A file's name at the n-th try (from 1).
using NameForTry = std::function<std::wstring(unsigned long long n)>;

NameForTry DocumentNames(const std::wstring& stem, const wchar_t* extension, size_t room) {
    return [=](unsigned long long n) { return DocumentFileName(stem, n, 1, 1, extension, room); };
}

NameForTry IncompleteNames(const SYSTEMTIME& stamp, const std::wstring& label, const wchar_t* extension) {
    return [=](unsigned long long n) { return IncompleteFileName(stamp, label, n, extension); };
}

FileFormat FormatOfHead(const char* pHead, size_t cbHead) {
    return FormatOf(reinterpret_cast<const unsigned char*>(pHead), cbHead);
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
    return SameName(finalPath, path) ? ERROR_SUCCESS : ERROR_FILE_INVALID;
}

// Creates a file of the job's in folder under a name nobody can guess, with
// the access asked for and the rights to name and delete it. It shares
// nothing: nobody else opens, renames or deletes it while the job has it.
DWORD CreateJobFile(const std::wstring& folder, DWORD access, FileHandle& file, std::wstring& path) {
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        std::wstring name;
        DWORD dwError = RandomFileName(name);
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
        std::wstring candidate = JoinPath(folder, name);
        FileHandle created(::CreateFileW(
            candidate.c_str(), access | DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!created) {
            dwError = ::GetLastError();
            if (dwError == ERROR_FILE_EXISTS || dwError == ERROR_ALREADY_EXISTS) {
                continue;
            }
            return dwError;
        }
        dwError = CheckSoleName(created.Get(), candidate);
        if (dwError != ERROR_SUCCESS) {
            // Made somewhere else than asked: take back the empty file.
            newerapi::DeleteByHandle(created.Get());
            return dwError;
        }
        file = std::move(created);
        path = candidate;
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_EXISTS;
}

// Gives the file at path the name newPath in its folder: through the handle
// where the system offers it, else (Windows XP) by name once the handle is
// closed. An existing file is never replaced: ERROR_ALREADY_EXISTS.
DWORD RenameFile(FileHandle& file, std::wstring& path, const std::wstring& newPath) {
    bool byHandle = newerapi::HasFileInformationByHandle();
    if (!byHandle && !file.Close()) {
        return ::GetLastError();
    }
    bool renamed = byHandle ? newerapi::RenameByHandle(file.Get(), newPath)
                            : ::MoveFileExW(path.c_str(), newPath.c_str(), 0) != FALSE;
    if (!renamed) {
        DWORD dwError = ::GetLastError();
        return dwError == ERROR_FILE_EXISTS ? ERROR_ALREADY_EXISTS : dwError;
    }
    path = newPath;
    return byHandle ? CheckSoleName(file.Get(), path) : ERROR_SUCCESS;
}

// Gives the file at path the first free name in folder.
DWORD PlaceFile(FileHandle& file, std::wstring& path, const std::wstring& folder, const NameForTry& nameFor) {
    for (unsigned long long n = 1;; ++n) {
        DWORD dwError = RenameFile(file, path, JoinPath(folder, nameFor(n)));
        if (dwError != ERROR_ALREADY_EXISTS) {
            return dwError;
        }
    }
}

// Takes back a file the job made: through the handle while it is open, where
// the system offers it (the file goes when the handle is closed), else by
// name once the handle is closed, inside the owner's folder that only SYSTEM
// and Administrators write.
DWORD RemoveFile(FileHandle& file, const std::wstring& path) {
    if (file && newerapi::HasFileInformationByHandle()) {
        return newerapi::DeleteByHandle(file.Get()) ? ERROR_SUCCESS : ::GetLastError();
    }
    if (!file.Close() || !::DeleteFileW(path.c_str())) {
        return ::GetLastError();
    }
    return ERROR_SUCCESS;
}

std::wstring JobLabel(DWORD jobId) { return L"job" + std::to_wstring(jobId); }

// Whether the buffer holds the bytes, read through ReadProcessMemory in
// pieces on the stack: a buffer the system could not read compares unequal
// instead of faulting, and nothing is allocated.
bool ReadableEquals(const BYTE* pData, DWORD cbData, const std::vector<BYTE>& bytes) {
    if (bytes.size() != cbData) {
        return false;
    }
    BYTE piece[4096];
    for (DWORD done = 0; done < cbData;) {
        DWORD cb = std::min<DWORD>(cbData - done, sizeof(piece));
        SIZE_T cbRead = 0;
        if (!::ReadProcessMemory(::GetCurrentProcess(), pData + done, piece, cb, &cbRead) || cbRead != cb ||
            std::memcmp(piece, bytes.data() + done, cb) != 0) {
            return false;
        }
        done += cb;
    }
    return true;
}

// The job's file as the source of a file set: read through the job's own
// handle, never opened again by name.
class JobFileSource : public FileSetSource {
public:
    explicit JobFileSource(HANDLE hFile) : hFile_(hFile) {}

    bool ReadAt(std::uint64_t offset, unsigned char* pBytes, std::size_t cb) override {
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        if (!::SetFilePointerEx(hFile_, at, nullptr, FILE_BEGIN)) {
            return Failed(::GetLastError());
        }
        while (cb > 0) {
            DWORD cbRead = 0;
            if (!::ReadFile(hFile_, pBytes, static_cast<DWORD>(std::min<std::size_t>(cb, kCopyBytes)),
                            &cbRead, nullptr)) {
                return Failed(::GetLastError());
            }
            if (cbRead == 0) {
                return Failed(ERROR_HANDLE_EOF);
            }
            pBytes += cbRead;
            cb -= cbRead;
        }
        return true;
    }

    // Why the last read failed.
    DWORD Error() const { return error_; }

private:
    bool Failed(DWORD dwError) {
        error_ = dwError != ERROR_SUCCESS ? dwError : ERROR_READ_FAULT;
        return false;
    }

    HANDLE hFile_;
    DWORD error_ = ERROR_SUCCESS;
};

// Writes one file of the set, from its place in the source, into hFile.
DWORD CopyOut(JobFileSource& source, const FileSetFile& file, HANDLE hFile) {
    std::vector<unsigned char> buffer(std::min<DWORD>(file.size, kCopyBytes));
    for (DWORD done = 0; done < file.size;) {
        DWORD cb = std::min<DWORD>(file.size - done, kCopyBytes);
        if (!source.ReadAt(file.offset + done, buffer.data(), cb)) {
            return source.Error();
        }
        DWORD cbWritten = 0;
        if (!::WriteFile(hFile, buffer.data(), cb, &cbWritten, nullptr)) {
            return ::GetLastError();
        }
        if (cbWritten != cb) {
            return ERROR_WRITE_FAULT;
        }
        done += cb;
    }
    return ERROR_SUCCESS;
}

// The files of a set made so far, each held open until the whole set is
// made (Windows Vista on), so that a set that fails part way is taken back
// through their handles. Whatever is not kept goes when this goes.
class SetFiles {
public:
    SetFiles() = default;
    ~SetFiles() {
        if (!kept_) {
            RemoveAll();
        }
    }
    SetFiles(const SetFiles&) = delete;
    SetFiles& operator=(const SetFiles&) = delete;

    // Makes the next file, with the bytes of file in source, named path.
    DWORD Add(const std::wstring& folder, JobFileSource& source, const FileSetFile& file,
              const std::wstring& path) {
        made_.emplace_back();
        Made& made = made_.back();
        DWORD dwError = CreateJobFile(folder, GENERIC_WRITE, made.file, made.path);
        if (dwError == ERROR_SUCCESS) {
            dwError = CopyOut(source, file, made.file.Get());
        }
        return dwError == ERROR_SUCCESS ? RenameFile(made.file, made.path, path) : dwError;
    }

    // Closes every file: the set is whole once all are closed.
    DWORD Keep() {
        for (Made& made : made_) {
            if (!made.file.Close()) {
                return ::GetLastError();
            }
        }
        kept_ = true;
        return ERROR_SUCCESS;
    }

    // Takes back every file made; what cannot be taken back stays, named as
    // a page of the set or as a temporary file.
    void RemoveAll() {
        for (Made& made : made_) {
            if (!made.path.empty()) {
                RemoveFile(made.file, made.path);
                made.file.Close();
            }
        }
        made_.clear();
        kept_ = false;
    }

    std::wstring First() const { return made_.empty() ? std::wstring() : made_.front().path; }

private:
    struct Made {
        FileHandle file;
        std::wstring path;
    };
    std::vector<Made> made_;
    bool kept_ = false;
};

// Whether a name is taken in folder.
NameTaken TakenIn(const std::wstring& folder) {
    return [folder](const std::wstring& name, bool& taken) -> DWORD {
        taken = ::GetFileAttributesW(JoinPath(folder, name).c_str()) != INVALID_FILE_ATTRIBUTES;
        DWORD dwError = taken ? ERROR_SUCCESS : ::GetLastError();
        return dwError == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : dwError;
    };
}

// Makes the set's files in folder, named after stem with the first " (n)" at
// which no name of the set is taken. When another job takes one of the names
// in the meantime, the set is taken back and made again at the next free n.
DWORD MakeSetFiles(JobFileSource& source, const FileSetContents& contents, const std::wstring& folder,
                   const std::wstring& stem, SetFiles& files) {
    size_t room = FileNameRoom(folder);
    const wchar_t* extension = ExtensionOf(contents.format);
    size_t pages = contents.files.size();
    for (unsigned long long n = 1;; ++n) {
        DWORD dwError = FirstFreeTry(stem, pages, extension, room, TakenIn(folder), n);
        for (size_t page = 1; page <= pages && dwError == ERROR_SUCCESS; ++page) {
            std::wstring path = JoinPath(folder, DocumentFileName(stem, n, page, pages, extension, room));
            dwError = files.Add(folder, source, contents.files[page - 1], path);
        }
        if (dwError == ERROR_SUCCESS) {
            dwError = files.Keep();
        }
        if (dwError != ERROR_ALREADY_EXISTS) {
            return dwError;
        }
        files.RemoveAll();
    }
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
    bool retry = owedError_ != ERROR_SUCCESS && owedKnown_ && ReadableEquals(pData, cbData, owed_);
    if (owedError_ != ERROR_SUCCESS && !retry) {
        LoseOwed();
    }
    owedError_ = dwError;
    owedKnown_ = retry;
}

void WriteLedger::KeepOwedBytes(const BYTE* pData, DWORD cbData) {
    if (owedKnown_) {
        return;  // a retry that failed again: its bytes are kept already
    }
    owed_.resize(cbData);
    SIZE_T cbRead = 0;
    owedKnown_ =
        ::ReadProcessMemory(::GetCurrentProcess(), pData, owed_.data(), cbData, &cbRead) && cbRead == cbData;
}

void WriteLedger::LoseOwed() {
    if (lostError_ == ERROR_SUCCESS) {
        lostError_ = owedError_;
    }
}

DWORD PrintJob::Begin(JobFolders folders, DWORD jobId, const std::wstring& documentStem,
                      std::unique_ptr<PrintJob>& job) {
    std::unique_ptr<PrintJob> newJob = std::make_unique<PrintJob>(std::move(folders), jobId, documentStem);
    // Read access: a file set is read back through this handle.
    DWORD dwError = CreateJobFile(newJob->folders_.owner.Path(), GENERIC_READ | GENERIC_WRITE, newJob->file_,
                                  newJob->path_);
    if (dwError == ERROR_SUCCESS) {
        job = std::move(newJob);
    }
    return dwError;
}

PrintJob::PrintJob(JobFolders folders, DWORD jobId, const std::wstring& documentStem)
    : folders_(std::move(folders)), jobId_(jobId), documentStem_(documentStem) {
    ::GetLocalTime(&started_);
}

PrintJob::~PrintJob() {
    if (placed_ || !file_) {
        return;
    }
    // A destructor runs in the spooler's process, also while an exception
    // unwinds: nothing may leave it. What cannot be named now keeps its
    // temporary name until the next start.
    try {
        std::wstring ignored;
        Place(false, ignored);
    } catch (...) {
    }
}

DWORD PrintJob::Write(const BYTE* pData, DWORD cbData, DWORD& cbWritten) {
    cbWritten = 0;
    if (cbData == 0) {
        return ERROR_SUCCESS;
    }
    if (::WriteFile(file_.Get(), pData, cbData, &cbWritten, nullptr)) {
        if (written_ < kFormatSniffBytes) {
            head_.append(
                reinterpret_cast<const char*>(pData),
                std::min<std::size_t>(cbWritten, kFormatSniffBytes - static_cast<std::size_t>(written_)));
        }
        written_ += cbWritten;
        ledger_.Written(pData, cbData);
        return ERROR_SUCCESS;
    }
    // Saved before the clean-up, which may change the thread's last-error.
    DWORD dwError = ::GetLastError();
    dwError = dwError != ERROR_SUCCESS ? dwError : ERROR_WRITE_FAULT;
    // On record, and what part of the buffer reached the file taken back,
    // before anything that allocates.
    ledger_.Failed(pData, cbData, dwError);
    cbWritten = 0;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(written_);
    if (::SetFilePointerEx(file_.Get(), end, nullptr, FILE_BEGIN)) {
        ::SetEndOfFile(file_.Get());
    }
    ledger_.KeepOwedBytes(pData, cbData);
    return dwError;
}

DWORD PrintJob::Finish(std::wstring& finalPath) {
    DWORD dwMissing = ledger_.Missing();
    if (dwMissing == ERROR_SUCCESS && Format() == FileFormat::FileSet) {
        return FinishSet(finalPath);
    }
    DWORD dwError = Place(dwMissing == ERROR_SUCCESS, finalPath);
    return dwError != ERROR_SUCCESS ? dwError : dwMissing;
}

DWORD PrintJob::FinishSet(std::wstring& finalPath) {
    // Every frame is checked before any file is made.
    JobFileSource source(file_.Get());
    FileSetContents contents;
    setRefusal_ = ReadFileSet(source, written_, contents);
    DWORD dwError = setRefusal_ == FileSetError::None         ? folders_.owner.CheckStillPlain()
                    : setRefusal_ == FileSetError::ReadFailed ? source.Error()
                                                              : ERROR_INVALID_DATA;
    SetFiles files;
    if (dwError == ERROR_SUCCESS) {
        dwError = MakeSetFiles(source, contents, folders_.owner.Path(), documentStem_, files);
    }
    // The set's own file goes once its files are whole.
    if (dwError == ERROR_SUCCESS) {
        dwError = RemoveFile(file_, path_);
    }
    if (dwError != ERROR_SUCCESS) {
        files.RemoveAll();
        DWORD dwPlaceError = Place(false, finalPath);
        return dwPlaceError != ERROR_SUCCESS ? dwPlaceError : dwError;
    }
    // Its data is no longer wanted: how its close ends does not matter.
    file_.Close();
    placed_ = true;
    finalPath = files.First();
    return ERROR_SUCCESS;
}

DWORD PrintJob::Place(bool complete, std::wstring& finalPath) {
    placed_ = true;
    // A folder that leads elsewhere now keeps the file where it is, under
    // its temporary name, for the next start of the monitor.
    DWORD dwError = folders_.owner.CheckStillPlain();
    // A job that carried no bytes is no document: nothing is lost without it.
    bool noData = written_ == 0 && ledger_.Missing() == ERROR_SUCCESS;
    if (dwError == ERROR_SUCCESS) {
        const std::wstring& folder = folders_.owner.Path();
        const wchar_t* extension = ExtensionOf(Format());
        dwError = noData ? RemoveFile(file_, path_)
                         : PlaceFile(file_, path_, folder,
                                     complete ? DocumentNames(documentStem_, extension, FileNameRoom(folder))
                                              : IncompleteNames(started_, JobLabel(jobId_), extension));
    }
    // Closing writes what the system still holds: a failure there is a
    // failed write.
    if (!file_.Close() && dwError == ERROR_SUCCESS) {
        dwError = ::GetLastError();
    }
    finalPath = noData && dwError == ERROR_SUCCESS ? std::wstring() : path_;
    return dwError;
}

FileFormat PrintJob::Format() const { return FormatOfHead(head_.data(), head_.size()); }

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
            char head[kFormatSniffBytes];
            DWORD cbHead = 0;
            if (!::ReadFile(file.Get(), head, sizeof(head), &cbHead, nullptr)) {
                cbHead = 0;
            }
            const wchar_t* extension = ExtensionOf(FormatOfHead(head, cbHead));
            if (PlaceFile(file, path, folder.Path(), IncompleteNames(stamp, L"interrupted", extension)) ==
                ERROR_SUCCESS) {
                events.Report(MSG_JOB_INTERRUPTED, {path});
            }
        } while (::FindNextFileW(search.Get(), &found));
    }
}
