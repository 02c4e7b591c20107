#include "monitor/jobnotice.h"

#include <winspool.h>

#include "monitor/scopedhandle.h"

namespace {

template <typename Fn>
Fn* Bind(HMODULE hModule, const char* procName) {
    return reinterpret_cast<Fn*>(reinterpret_cast<void*>(::GetProcAddress(hModule, procName)));
}

ModuleHandle LoadWinspool() {
    wchar_t pPath[MAX_PATH];
    const wchar_t kFileName[] = L"\\winspool.drv";
    UINT uLen = ::GetSystemDirectoryW(pPath, MAX_PATH);
    if (uLen == 0 || uLen + sizeof(kFileName) / sizeof(wchar_t) > MAX_PATH) {
        return ModuleHandle();
    }
    std::wstring path = std::wstring(pPath, uLen) + kFileName;
    return ModuleHandle(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

}  // namespace

void ReportJobSentToPrinter(const std::wstring& printerName, DWORD jobId) {
    if (printerName.empty() || jobId == 0) {
        return;
    }
    ModuleHandle winspool = LoadWinspool();
    if (!winspool) {
        return;
    }
    auto pOpenPrinterW = Bind<decltype(::OpenPrinterW)>(winspool.Get(), "OpenPrinterW");
    auto pSetJobW = Bind<decltype(::SetJobW)>(winspool.Get(), "SetJobW");
    auto pClosePrinter = Bind<decltype(::ClosePrinter)>(winspool.Get(), "ClosePrinter");
    if (pOpenPrinterW == nullptr || pSetJobW == nullptr || pClosePrinter == nullptr) {
        return;
    }
    std::wstring name = printerName;
    HANDLE hPrinter = nullptr;
    if (!pOpenPrinterW(&name[0], &hPrinter, nullptr)) {
        return;
    }
    pSetJobW(hPrinter, jobId, 0, nullptr, JOB_CONTROL_SENT_TO_PRINTER);
    pClosePrinter(hPrinter);
}
