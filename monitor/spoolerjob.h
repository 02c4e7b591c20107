// What the monitor asks and tells the spooler about a job: who owns it, why
// it failed, and that it has left the port. Each needs the printer's name and
// the job's id; where the spooler passes no printer name or job id 0 (Wine
// does), nothing is asked or told. winspool.drv is loaded from the system
// directory by full path.
#pragma once

#include <string>

#include <windows.h>

// The account that submitted a job: the user name GetJob gives and the owner
// SID of the job's security descriptor (both from JOB_INFO_2), the SID as
// text ("S-1-5-21-..."). Both empty when either cannot be learned.
struct JobOwner {
    std::wstring userName;
    std::wstring sid;

    bool Known() const { return !userName.empty() && !sid.empty(); }
};
JobOwner LearnJobOwner(const std::wstring& printerName, DWORD jobId);

// Shows the text as the job's status (SetJob level 1, pStatus); failures are
// ignored, the spooler also sees the failing call's last-error.
void ReportJobStatus(const std::wstring& printerName, DWORD jobId, const std::wstring& status);

// Tells the spooler that the job has left the port, as a port monitor's
// EndDocPort should (SetJob with JOB_CONTROL_SENT_TO_PRINTER), so the job
// leaves the queue. Failures are ignored: the job's data is written already.
void ReportJobSentToPrinter(const std::wstring& printerName, DWORD jobId);
