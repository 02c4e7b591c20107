#include "monitor/printport.h"

#include "monitor/jobnotice.h"
#include "monitor/outputfolder.h"

PrintPort::PrintPort(const std::wstring& portName, const std::wstring& outputFolder)
    : portName_(portName), outputFolder_(outputFolder) {}

DWORD PrintPort::StartDoc(const wchar_t* printerName, DWORD jobId) {
    if (job_) {
        return ERROR_INVALID_PRINTER_STATE;
    }
    std::wstring folder = outputFolder_;
    if (folder.empty()) {
        DWORD dwError = DefaultOutputFolder(folder);
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
    }
    DWORD dwError = PrintJob::Begin(folder, jobId, job_);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    // The spooler may pass no printer name (Wine does): then nobody is told.
    printerName_ = printerName != nullptr ? printerName : L"";
    jobId_ = jobId;
    return ERROR_SUCCESS;
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
    // Done with the job either way: it must leave the queue.
    ReportJobSentToPrinter(printerName_, jobId_);
    return dwError;
}
