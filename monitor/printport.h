// PrintPort: a port the spooler has opened. It takes one job at a time
// (StartDocPort ... EndDocPort) and writes each into a file of its own in the
// job owner's folder under the port's output root. A failure is answered with
// its code (the spooler's last-error) and shown as the job's status.
#pragma once

#include <memory>
#include <string>

#include <windows.h>

#include "monitor/printjob.h"

class PrintPort {
public:
    static constexpr DWORD kSignature = 0x54524F50;  // "PORT"

    // outputFolder empty: the default root, looked up at each job's start.
    PrintPort(const std::wstring& portName, const std::wstring& outputFolder);
    PrintPort(const PrintPort&) = delete;
    PrintPort& operator=(const PrintPort&) = delete;

    bool HasSignature() const { return signature_ == kSignature; }

    // ERROR_INVALID_PRINTER_STATE while another job is open on the port; the
    // output root's refusal (see CheckOutputRoot), the output folders' and
    // the file's errors (see SecureFolder, PrintJob).
    DWORD StartDoc(const wchar_t* printerName, DWORD jobId);
    // ERROR_SPL_NO_STARTDOC outside a job.
    DWORD Write(const BYTE* pData, DWORD cbData, DWORD& cbWritten);
    // Ends the job; the port is then free for the next job. Only a job
    // written whole is reported sent to the printer; one whose last write
    // failed is kept as incomplete and answers that write's error. A job
    // without data succeeds, leaves no file and says so in its status.
    // ERROR_SPL_NO_STARTDOC outside a job.
    DWORD EndDoc();

private:
    DWORD signature_ = kSignature;
    std::wstring portName_;
    std::wstring outputFolder_;
    std::unique_ptr<PrintJob> job_;
    std::wstring printerName_;
    DWORD jobId_ = 0;
};
