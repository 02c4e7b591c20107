// What the monitor asks and tells the spooler about a job: who owns it, why
// it failed, and that it has left the port. Each needs the printer's name and
// the job's id; where the spooler passes no printer name or job id 0 (Wine
// does), nothing is asked or told. winspool.drv is loaded from the system
// directory by full path.
#pragma once

#include <string>

#include <windows.h>

#include "monitor/jobowner.h"

// What the job's record (GetJob level 2) tells about its owner, with the
// user the spooler impersonated at the job's start (clientSid).
OwnerEvidence GatherOwnerEvidence(const std::wstring& printerName, DWORD jobId,
                                  const std::wstring& clientSid);

// Shows the text as the job's status (SetJob level 1, pStatus); failures are
// ignored, the spooler also sees the failing call's last-error.
void ReportJobStatus(const std::wstring& printerName, DWORD jobId, const std::wstring& status);

// Tells the spooler that the job has left the port, as a port monitor's
// EndDocPort should (SetJob with JOB_CONTROL_SENT_TO_PRINTER), so the job
// leaves the queue. Failures are ignored: the job's data is written already.
void ReportJobSentToPrinter(const std::wstring& printerName, DWORD jobId);
