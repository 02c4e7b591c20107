#include "monitor/portmonitor.h"

#include <cstring>
#include <string>
#include <vector>

#include "monitor/outputfolder.h"
#include "monitor/printjob.h"
#include "zorvaneidentity.h"

namespace {

// Writes PORT_INFO_1W or PORT_INFO_2W records at the start of a buffer and
// their strings after the last record.
class PortInfoWriter {
public:
    PortInfoWriter(DWORD level, BYTE* pBuffer, size_t cRecords)
        : level_(level), pRecord_(pBuffer), pStrings_(pBuffer + cRecords * RecordSize(level)) {}

    static size_t RecordSize(DWORD level) { return level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W); }

    static size_t Size(DWORD level, const std::wstring& portName) {
        size_t cbStrings = StringSize(portName.c_str());
        if (level == 2) {
            cbStrings += StringSize(PortMonitor::kMonitorName) + StringSize(PortMonitor::kPortDescription);
        }
        return RecordSize(level) + cbStrings;
    }

    void Write(const std::wstring& portName) {
        if (level_ == 1) {
            PORT_INFO_1W info{};
            info.pName = Put(portName.c_str());
            pRecord_ = static_cast<BYTE*>(std::memcpy(pRecord_, &info, sizeof(info))) + sizeof(info);
            return;
        }
        PORT_INFO_2W info{};
        info.pPortName = Put(portName.c_str());
        info.pMonitorName = Put(PortMonitor::kMonitorName);
        info.pDescription = Put(PortMonitor::kPortDescription);
        info.fPortType = PORT_TYPE_WRITE;
        pRecord_ = static_cast<BYTE*>(std::memcpy(pRecord_, &info, sizeof(info))) + sizeof(info);
    }

private:
    static size_t StringSize(const wchar_t* text) { return (std::wcslen(text) + 1) * sizeof(wchar_t); }

    wchar_t* Put(const wchar_t* text) {
        size_t cb = StringSize(text);
        wchar_t* pText = reinterpret_cast<wchar_t*>(pStrings_);
        std::memcpy(pStrings_, text, cb);
        pStrings_ += cb;
        return pText;
    }

    DWORD level_;
    BYTE* pRecord_;
    BYTE* pStrings_;
};

}  // namespace

const wchar_t PortMonitor::kMonitorName[] = ZORVANE_WIDE(ZORVANE_MONITOR_NAME);
const wchar_t PortMonitor::kPortDescription[] = ZORVANE_WIDE(ZORVANE_PRODUCT_NAME " Port");

DWORD PortMonitor::Create(const MONITORINIT& init, std::unique_ptr<PortMonitor>& monitor) {
    std::unique_ptr<MonitorRegistry> registry;
    DWORD dwError = MonitorRegistry::Open(init, registry);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    monitor = std::make_unique<PortMonitor>(std::move(registry));
    monitor->KeepLeftoverJobs();
    return ERROR_SUCCESS;
}

void PortMonitor::KeepLeftoverJobs() const {
    std::vector<std::wstring> outputFolders(1);  // the default root's
    std::vector<std::wstring> portNames;
    ports_.List(portNames);
    for (const std::wstring& portName : portNames) {
        std::wstring folder;
        if (ports_.ReadOutputFolder(portName, folder) == ERROR_SUCCESS && !folder.empty()) {
            outputFolders.push_back(folder);
        }
    }
    for (const std::wstring& outputFolder : outputFolders) {
        std::wstring root = roots_->Prepare(outputFolder);
        if (!root.empty()) {
            KeepLeftoverJobsAsIncomplete(root, *events_);
        }
    }
}

PortMonitor::PortMonitor(std::unique_ptr<MonitorRegistry> registry)
    : registry_(std::move(registry)), ports_(*registry_) {}

DWORD PortMonitor::EnumPorts(DWORD level, BYTE* pPorts, DWORD cbBuf, DWORD& cbNeeded,
                             DWORD& cReturned) const {
    cbNeeded = 0;
    cReturned = 0;
    if (level != 1 && level != 2) {
        return ERROR_INVALID_LEVEL;
    }
    std::vector<std::wstring> portNames;
    DWORD dwError = ports_.List(portNames);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    size_t cbTotal = 0;
    for (const std::wstring& portName : portNames) {
        cbTotal += PortInfoWriter::Size(level, portName);
    }
    cbNeeded = static_cast<DWORD>(cbTotal);
    if (cbTotal > cbBuf || (cbTotal > 0 && pPorts == nullptr)) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    PortInfoWriter writer(level, pPorts, portNames.size());
    for (const std::wstring& portName : portNames) {
        writer.Write(portName);
    }
    cReturned = static_cast<DWORD>(portNames.size());
    return ERROR_SUCCESS;
}

DWORD PortMonitor::OpenPort(const wchar_t* portName, std::unique_ptr<PrintPort>& port) const {
    std::wstring outputFolder;
    DWORD dwError = ports_.ReadOutputFolder(portName, outputFolder);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    roots_->Prepare(outputFolder);
    port = std::make_unique<PrintPort>(portName, outputFolder, events_, roots_);
    return ERROR_SUCCESS;
}

std::unique_ptr<XcvSession> PortMonitor::OpenXcv(ACCESS_MASK grantedAccess) const {
    return std::make_unique<XcvSession>(ports_, grantedAccess);
}
