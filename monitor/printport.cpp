#include "monitor/printport.h"

#include "monitor/jobnames.h"
#include "monitor/outputfolder.h"
#include "monitor/spoolerjob.h"

PrintPort::PrintPort(const std::wstring& portName, const std::wstring& outputFolder,
                     std::shared_ptr<EventSink> events, std::shared_ptr<OutputRoots> roots)
    : portName_(portName),
      outputFolder_(outputFolder),
      events_(std::move(events)),
      roots_(std::move(roots)) {}

PrintPort::~PrintPort() {
    if (!job_) {
        return;
    }
    // Nothing may leave a destructor in the spooler's process: without
    // memory the job keeps the name it has, and the entry is lost.
    try {
        std::wstring finalPath;
        job_->Abandon(finalPath);
        if (!finalPath.empty()) {
            // The spooler closes a port in the middle of a job when the job
            // is deleted or the spooler stops.
            events_->Report(MSG_JOB_INCOMPLETE,
                            {JobName(), finalPath, SystemErrorText(ERROR_PRINT_CANCELLED)});
        }
    } catch (...) {
    }
}

DWORD PrintPort::StartDoc(const wchar_t* printerName, DWORD jobId, const wchar_t* documentName,
                          const std::wstring& clientSid) {
    if (job_) {
        return ERROR_INVALID_PRINTER_STATE;
    }
    // The spooler may pass no printer name or job id 0 (Wine does): then
    // the job's record cannot be had and nobody is told.
    printerName_ = printerName != nullptr ? printerName : L"";
    jobId_ = jobId;
    SecureFolder root;
    std::wstring shown;
    DWORD dwError = roots_->Open(outputFolder_, root, shown);
    if (dwError == ERROR_BAD_PATHNAME || dwError == ERROR_FILENAME_EXCED_RANGE) {
        return Fail(MSG_FOLDER_REFUSED, L"Output folder refused,", shown, dwError);
    }
    if (dwError != ERROR_SUCCESS) {
        return Fail(MSG_FOLDER_REFUSED, L"Cannot write the job into", shown, dwError);
    }
    JobOwner owner = ChooseJobOwner(GatherOwnerEvidence(printerName_, jobId_, clientSid), SystemAccounts());
    JobFolders folders;
    shown = root.Path();
    dwError = OpenJobFolders(std::move(root), owner, folders);
    if (dwError != ERROR_SUCCESS) {
        return Fail(MSG_FOLDER_REFUSED, L"Cannot write the job into", shown, dwError);
    }
    std::wstring ownerFolder = folders.owner.Path();
    dwError = PrintJob::Begin(std::move(folders), jobId, DocumentStem(documentName), job_);
    return dwError != ERROR_SUCCESS
               ? Fail(MSG_JOB_NOT_STARTED, L"Cannot write the job into", ownerFolder, dwError)
               : ERROR_SUCCESS;
}

DWORD PrintPort::Write(const BYTE* pData, DWORD cbData, DWORD& cbWritten) {
    cbWritten = 0;
    if (!job_) {
        return ERROR_SPL_NO_STARTDOC;
    }
    return job_->Write(pData, cbData, cbWritten);
}

DWORD PrintPort::EndDoc() {
    if (!job_) {
        return ERROR_SPL_NO_STARTDOC;
    }
    std::unique_ptr<PrintJob> job = std::move(job_);
    std::wstring finalPath;
    DWORD dwError = job->Finish(finalPath);
    FileSetError refusal = job->SetRefusal();
    job.reset();
    if (dwError == ERROR_INVALID_DATA && refusal != FileSetError::None) {
        std::wstring reason = FileSetErrorText(refusal);
        return Fail(MSG_SET_REFUSED, L"Refused a file set with " + reason + L", kept as", finalPath, dwError,
                    reason);
    }
    if (dwError != ERROR_SUCCESS) {
        return Fail(MSG_JOB_INCOMPLETE, L"Not written whole, kept as", finalPath, dwError);
    }
    if (finalPath.empty()) {
        ReportJobStatus(printerName_, jobId_, L"No data was printed: no file was written");
    }
    ReportJobSentToPrinter(printerName_, jobId_);
    return ERROR_SUCCESS;
}

std::wstring PrintPort::JobName() const {
    std::wstring name = L"Job " + std::to_wstring(jobId_);
    if (!printerName_.empty()) {
        name += L" of printer " + printerName_;
    }
    return name + L" on port " + portName_;
}

DWORD PrintPort::Fail(DWORD messageId, const std::wstring& status, const std::wstring& where, DWORD dwError,
                      const std::wstring& reason) const {
    std::wstring errorText = SystemErrorText(dwError);
    ReportJobStatus(printerName_, jobId_, status + L" " + where + L": " + errorText);
    std::vector<std::wstring> strings{JobName(), where, errorText};
    if (!reason.empty()) {
        strings.push_back(reason);
    }
    events_->Report(messageId, strings);
    return dwError;
}
