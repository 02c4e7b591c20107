#include "monitor/printport.h"

#include "monitor/outputfolder.h"
#include "monitor/spoolerjob.h"

namespace {

std::wstring FailureStatus(const wchar_t* what, const std::wstring& where, DWORD dwError) {
    return std::wstring(what) + L" " + where + L" (error " + std::to_wstring(dwError) + L")";
}

}  // namespace

PrintPort::PrintPort(const std::wstring& portName, const std::wstring& outputFolder)
    : portName_(portName), outputFolder_(outputFolder) {}

DWORD PrintPort::StartDoc(const wchar_t* printerName, DWORD jobId) {
    if (job_) {
        return ERROR_INVALID_PRINTER_STATE;
    }
    // The spooler may pass no printer name or job id 0 (Wine does): then
    // the owner is unknown and nobody is told.
    printerName_ = printerName != nullptr ? printerName : L"";
    jobId_ = jobId;
    std::wstring root = outputFolder_;
    DWORD dwError = root.empty() ? DefaultOutputFolder(root) : ERROR_SUCCESS;
    std::wstring fullRoot;
    if (dwError == ERROR_SUCCESS) {
        dwError = CheckOutputRoot(root, fullRoot);
    }
    if (dwError != ERROR_SUCCESS) {
        ReportJobStatus(printerName_, jobId_, FailureStatus(L"Output folder refused,", root, dwError));
        return dwError;
    }
    JobFolders folders;
    dwError = OpenJobFolders(fullRoot, LearnJobOwner(printerName_, jobId_), folders);
    if (dwError == ERROR_SUCCESS) {
        dwError = PrintJob::Begin(std::move(folders), jobId, job_);
    }
    if (dwError != ERROR_SUCCESS) {
        ReportJobStatus(printerName_, jobId_, FailureStatus(L"Cannot write the job into", fullRoot, dwError));
    }
    return dwError;
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
    job.reset();
    if (dwError != ERROR_SUCCESS) {
        ReportJobStatus(printerName_, jobId_,
                        FailureStatus(L"Not written whole, kept as", finalPath, dwError));
        return dwError;
    }
    if (finalPath.empty()) {
        ReportJobStatus(printerName_, jobId_, L"No data was printed: no file was written");
    }
    ReportJobSentToPrinter(printerName_, jobId_);
    return ERROR_SUCCESS;
}
