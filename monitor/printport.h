// PrintPort: a port the spooler has opened. It takes one job at a time
// (StartDocPort ... EndDocPort) and writes each into a file of its own in the
// job owner's folder under the port's output root. A failure is answered with
// its code (the spooler's last-error), shown as the job's status and
// reported to the event log, as is a job kept as incomplete.
#pragma once

#include <memory>
#include <string>

#include <windows.h>

#include "monitor/eventlog.h"
#include "monitor/outputroots.h"
#include "monitor/printjob.h"

class PrintPort {
public:
    static constexpr DWORD kSignature = 0x54524F50;  // "PORT"

    // outputFolder empty: the default root; roots finds the root at each
    // job's start.
    PrintPort(const std::wstring& portName, const std::wstring& outputFolder,
              std::shared_ptr<EventSink> events, std::shared_ptr<OutputRoots> roots);
    // A job still open is kept as incomplete.
    ~PrintPort();
    PrintPort(const PrintPort&) = delete;
    PrintPort& operator=(const PrintPort&) = delete;

    bool HasSignature() const { return signature_ == kSignature; }

    // documentName: DOC_INFO_1's pDocName, which names the job's files (null
    // when the spooler gave none). clientSid: the user the spooler
    // impersonated at the call (see ClientImpersonationPause), empty when it
    // did not. ERROR_INVALID_PRINTER_STATE while another job is open on the
    // port; the output root's refusal (see OutputRoots), the output
    // folders' and the file's errors (see SecureFolder, PrintJob).
    DWORD StartDoc(const wchar_t* printerName, DWORD jobId, const wchar_t* documentName,
                   const std::wstring& clientSid);
    // ERROR_SPL_NO_STARTDOC outside a job.
    DWORD Write(const BYTE* pData, DWORD cbData, DWORD& cbWritten);
    // Ends the job; the port is then free for the next job. Only a job
    // written whole is reported sent to the printer; one that lacks a write
    // is kept as incomplete and answers that write's error; so is a file set
    // that is refused (ERROR_INVALID_DATA, with the reason in the status and
    // the event) or could not be made whole. A job without data succeeds,
    // leaves no file and says so in its status. ERROR_SPL_NO_STARTDOC
    // outside a job.
    DWORD EndDoc();

private:
    // Shows the failure as the job's status ("<status> <where>: <error
    // text>") and reports the message to the event log, with the reason
    // where there is one; answers dwError.
    DWORD Fail(DWORD messageId, const std::wstring& status, const std::wstring& where, DWORD dwError,
               const std::wstring& reason = std::wstring()) const;
    // "Job 7 of printer P on port Q", as the event log names the job.
    std::wstring JobName() const;

    DWORD signature_ = kSignature;
    std::wstring portName_;
    std::wstring outputFolder_;
    std::shared_ptr<EventSink> events_;
    std::shared_ptr<OutputRoots> roots_;
    std::unique_ptr<PrintJob> job_;
    std::wstring printerName_;
    DWORD jobId_ = 0;
};
