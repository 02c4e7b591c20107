// PrinterUninstaller: deletes every printer that uses the driver, purging its
// jobs first, and then the driver itself.
#pragma once

#include <string>

#include "setup/installer.h"

class PrinterUninstaller : public Installer {
public:
    PrinterUninstaller(const std::wstring& driverName, const std::wstring& printerName,
                       const std::wstring& logPath);

    // Printers are found by their driver, so printers a user added on the
    // same driver go too. False when no printer at all could be listed.
    bool DeletePrinters();
    // True when the driver is gone afterwards, also when it never was there.
    bool DeleteDriver();

protected:
    std::wstring driverName;
    std::wstring printerName;
};
