#include "monitor/spoolerjob.h"

#include <vector>

#include <sddl.h>
#include <winspool.h>

#include "platform/handles.h"

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

// The printer of a job, opened through winspool.drv for the calls below.
class JobPrinter {
public:
    JobPrinter(const std::wstring& printerName, DWORD jobId) : jobId_(jobId) {
        if (printerName.empty() || jobId == 0) {
            return;
        }
        winspool_ = LoadWinspool();
        if (!winspool_) {
            return;
        }
        auto pOpenPrinterW = Bind<decltype(::OpenPrinterW)>(winspool_.Get(), "OpenPrinterW");
        pClosePrinter_ = Bind<decltype(::ClosePrinter)>(winspool_.Get(), "ClosePrinter");
        pGetJobW_ = Bind<decltype(::GetJobW)>(winspool_.Get(), "GetJobW");
        pSetJobW_ = Bind<decltype(::SetJobW)>(winspool_.Get(), "SetJobW");
        if (pOpenPrinterW == nullptr || pClosePrinter_ == nullptr || pGetJobW_ == nullptr ||
            pSetJobW_ == nullptr) {
            return;
        }
        std::wstring name = printerName;
        if (!pOpenPrinterW(&name[0], &hPrinter_, nullptr)) {
            hPrinter_ = nullptr;
        }
    }
    ~JobPrinter() {
        if (hPrinter_ != nullptr) {
            pClosePrinter_(hPrinter_);
        }
    }
    JobPrinter(const JobPrinter&) = delete;
    JobPrinter& operator=(const JobPrinter&) = delete;

    // The job's record at the level (JOB_INFO_1 or JOB_INFO_2), or empty.
    std::vector<BYTE> GetJob(DWORD level) const {
        DWORD cbNeeded = 0;
        if (hPrinter_ == nullptr) {
            return {};
        }
        pGetJobW_(hPrinter_, jobId_, level, nullptr, 0, &cbNeeded);
        std::vector<BYTE> record(cbNeeded);
        if (cbNeeded == 0 || !pGetJobW_(hPrinter_, jobId_, level, record.data(), cbNeeded, &cbNeeded)) {
            return {};
        }
        return record;
    }

    void SetJob(DWORD level, BYTE* pJob, DWORD command) const {
        if (hPrinter_ != nullptr) {
            pSetJobW_(hPrinter_, jobId_, level, pJob, command);
        }
    }

private:
    DWORD jobId_;
    ModuleHandle winspool_;
    HANDLE hPrinter_ = nullptr;
    decltype(::ClosePrinter)* pClosePrinter_ = nullptr;
    decltype(::GetJobW)* pGetJobW_ = nullptr;
    decltype(::SetJobW)* pSetJobW_ = nullptr;
};

}  // namespace

OwnerEvidence GatherOwnerEvidence(const std::wstring& printerName, DWORD jobId,
                                  const std::wstring& clientSid) {
    OwnerEvidence evidence;
    evidence.clientSid = clientSid;
    std::vector<BYTE> record = JobPrinter(printerName, jobId).GetJob(2);
    if (record.empty()) {
        return evidence;
    }
    const JOB_INFO_2W* info = reinterpret_cast<const JOB_INFO_2W*>(record.data());
    evidence.userName = info->pUserName != nullptr ? info->pUserName : L"";
    evidence.machineName = info->pMachineName != nullptr ? info->pMachineName : L"";
    PSID sid = nullptr;
    BOOL bDefaulted = FALSE;
    wchar_t* pSidText = nullptr;
    if (info->pSecurityDescriptor != nullptr &&
        ::GetSecurityDescriptorOwner(info->pSecurityDescriptor, &sid, &bDefaulted) && sid != nullptr &&
        ::ConvertSidToStringSidW(sid, &pSidText)) {
        LocalText sidText(pSidText);
        evidence.descriptorOwnerSid = sidText.Get();
    }
    return evidence;
}

void ReportJobStatus(const std::wstring& printerName, DWORD jobId, const std::wstring& status) {
    JobPrinter printer(printerName, jobId);
    std::vector<BYTE> record = printer.GetJob(1);
    if (record.empty()) {
        return;
    }
    JOB_INFO_1W* info = reinterpret_cast<JOB_INFO_1W*>(record.data());
    std::wstring text = status;
    info->pStatus = &text[0];
    // SetJob takes the position from the record: keep the job where it is.
    info->Position = JOB_POSITION_UNSPECIFIED;
    printer.SetJob(1, record.data(), 0);
}

void ReportJobSentToPrinter(const std::wstring& printerName, DWORD jobId) {
    JobPrinter(printerName, jobId).SetJob(0, nullptr, JOB_CONTROL_SENT_TO_PRINTER);
}
