#include "driver/filters/jobreport.h"

#include <cstdio>

#include <winspool.h>

#include "zorvaneidentity.h"

namespace {

struct EventSourceTraits : NullWhenMissing<HANDLE> {
    static bool Close(Handle h) { return ::DeregisterEventSource(h) != FALSE; }
};
using EventSource = UniqueHandle<EventSourceTraits>;

// A property of the bag as a string or a number; false when it is absent or
// of another type.
bool BagText(IPrintPipelinePropertyBag* bag, const wchar_t* name, std::wstring& text) {
    VARIANT value;
    ::VariantInit(&value);
    bool found = SUCCEEDED(bag->GetProperty(name, &value)) && value.vt == VT_BSTR && value.bstrVal != nullptr;
    if (found) {
        text.assign(value.bstrVal, ::SysStringLen(value.bstrVal));
    }
    ::VariantClear(&value);
    return found;
}

bool BagNumber(IPrintPipelinePropertyBag* bag, const wchar_t* name, DWORD& number) {
    VARIANT value;
    ::VariantInit(&value);
    bool found = SUCCEEDED(bag->GetProperty(name, &value)) &&
                 SUCCEEDED(::VariantChangeType(&value, &value, 0, VT_UI4));
    if (found) {
        number = value.ulVal;
    }
    ::VariantClear(&value);
    return found;
}

// GetJob level 1 into memory of its own; empty when the job is unknown.
std::vector<BYTE> JobInfo(HANDLE printer, DWORD jobId) {
    DWORD cbNeeded = 0;
    ::GetJobW(printer, jobId, 1, nullptr, 0, &cbNeeded);
    std::vector<BYTE> info(cbNeeded);
    if (cbNeeded < sizeof(JOB_INFO_1W) || !::GetJobW(printer, jobId, 1, info.data(), cbNeeded, &cbNeeded)) {
        info.clear();
    }
    return info;
}

}  // namespace

JobReport::JobReport(IPrintPipelinePropertyBag* bag) {
    std::wstring printerName;
    HANDLE printer = nullptr;
    if (bag == nullptr || !BagText(bag, XPS_FP_PRINTER_NAME, printerName) ||
        !BagNumber(bag, XPS_FP_JOB_ID, jobId_) || !::OpenPrinterW(&printerName[0], &printer, nullptr)) {
        return;
    }
    printer_ = PrinterHandle(printer);
    std::vector<BYTE> info = JobInfo(printer, jobId_);
    if (!info.empty()) {
        const JOB_INFO_1W* job = reinterpret_cast<const JOB_INFO_1W*>(info.data());
        document_ = job->pDocument != nullptr ? job->pDocument : L"";
        owner_ = job->pUserName != nullptr ? job->pUserName : L"";
    }
}

void JobReport::Report(DWORD messageId, const std::vector<std::wstring>& strings,
                       const std::wstring& status) {
    std::wstring job = document_.empty() ? L"Job " + std::to_wstring(jobId_) : L"\"" + document_ + L"\"";
    std::vector<LPCWSTR> insertions{job.c_str()};
    std::wstring line = job;
    for (const std::wstring& text : strings) {
        insertions.push_back(text.c_str());
        line += L" | " + text;
    }
    // Also for a debugger (DebugView; Wine's +debugstr), where no event log runs.
    ::OutputDebugStringW((ZORVANE_WIDE(ZORVANE_PRODUCT_NAME) L" output filter: " + line + L"\n").c_str());
    EventSource source(::RegisterEventSourceW(nullptr, ZORVANE_WIDE(ZORVANE_MONITOR_NAME)));
    if (source) {
        WORD type = (messageId >> 30) == 3 ? EVENTLOG_ERROR_TYPE : EVENTLOG_WARNING_TYPE;
        ::ReportEventW(source.Get(), type, 0, messageId, nullptr, static_cast<WORD>(insertions.size()), 0,
                       insertions.data(), nullptr);
    }
    // The status line takes what GetJob gave back with the status set; a
    // position of 0 leaves the job where it is in the queue.
    std::vector<BYTE> info = printer_ ? JobInfo(printer_.Get(), jobId_) : std::vector<BYTE>();
    if (!info.empty()) {
        JOB_INFO_1W* record = reinterpret_cast<JOB_INFO_1W*>(info.data());
        std::wstring text = status;
        record->pStatus = &text[0];
        record->Position = JOB_POSITION_UNSPECIFIED;
        ::SetJobW(printer_.Get(), jobId_, 1, info.data(), 0);
    }
}
