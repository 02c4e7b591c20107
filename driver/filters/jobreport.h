// JobReport: the output filter's side of its job in the spooler. It learns
// the job's document name and owner (GetJob), and reports what the filter
// did other than asked: on the job's status line (SetJob) and in the
// Application event log under the port monitor's event source, whose
// message table holds the filter's messages too.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "driver/filters/filterpipeline.h"
#include "platform/handles.h"

struct PrinterTraits : NullWhenMissing<HANDLE> {
    static bool Close(Handle h) { return ::ClosePrinter(h) != FALSE; }
};
using PrinterHandle = UniqueHandle<PrinterTraits>;

class JobReport {
public:
    // The job the property bag's PrinterName and PrintJobId name. A job the
    // spooler does not know (the filter host's) has no document name or
    // owner, and its status goes nowhere.
    explicit JobReport(IPrintPipelinePropertyBag* bag);

    const std::wstring& Document() const { return document_; }
    const std::wstring& Owner() const { return owner_; }

    // One entry of the monitor's message table with its insertion strings
    // after the job's own name, and the job's status line.
    void Report(DWORD messageId, const std::vector<std::wstring>& strings, const std::wstring& status);

private:
    PrinterHandle printer_;
    DWORD jobId_ = 0;
    std::wstring document_, owner_;
};
