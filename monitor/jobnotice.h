// Tells the spooler that a job has left the port, as a port monitor's
// EndDocPort should (SetJob with JOB_CONTROL_SENT_TO_PRINTER), so the job
// leaves the queue.
#pragma once

#include <string>

#include <windows.h>

// Does nothing when the printer or the job is unknown (the spooler passed no
// printer name or job id 0); failures are ignored, the job's data is written
// already. winspool.drv is loaded from the system directory by full path.
void ReportJobSentToPrinter(const std::wstring& printerName, DWORD jobId);
