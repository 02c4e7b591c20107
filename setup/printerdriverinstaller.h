// PrinterDriverInstaller: installs the printer driver and creates the printer.
// It stages Windows' own Unidrv and XPS files through SetupAPI, copies the
// product's driver files and colour profiles, registers the driver and
// creates the printer; releasing it deletes the staged system files again.
#pragma once

#include <string>
#include <vector>

#include "platform/seamhandles.h"
#include "setup/installer.h"

// The driver's dependent files, double-NUL-terminated, for each family.
extern const wchar_t PreVistaDependentFiles[];
extern const wchar_t VistaOrLaterDependentFiles[];

// The maker's web address, given to the spooler and shown in the printer's
// comment.
extern const wchar_t kMakerUrl[];

class PrinterDriverInstaller : public Installer {
public:
    // Finds the spooler's driver directory and builds the file sets.
    PrinterDriverInstaller(const std::wstring& driverName, const std::wstring& printerName,
                           const std::wstring& portName, const std::wstring& sourceDir, int osFamily,
                           const std::wstring& logPath);
    // Deletes the staged system files (CleanSystemDrivers). An exception from
    // the clean-up reaches the caller, unless one is on its way already.
    ~PrinterDriverInstaller() noexcept(false);
    PrinterDriverInstaller(const PrinterDriverInstaller&) = delete;
    PrinterDriverInstaller& operator=(const PrinterDriverInstaller&) = delete;

    // Stages the system's Unidrv and XPS files into the driver directory from
    // the printer INF files of the family.
    bool CopySystemDrivers();
    // The product's driver files into the driver directory, its colour
    // profiles into the colour directory beside it.
    bool CopyLocalFiles();
    // Deletes the eight staged system files; always true.
    bool CleanSystemDrivers();
    // Stages and copies the files, checks every file the driver names and
    // registers the driver (level 6).
    bool AddDriver();
    // Creates the printer on the driver and the port.
    bool AddPrinter();

protected:
    int osFamily;
    std::vector<std::wstring> systemDriverFiles;
    std::vector<std::wstring> localDriverFiles;
    std::vector<std::wstring> colorProfiles;
    std::wstring driverName;
    std::wstring printerName;
    std::wstring portName;
    std::wstring driverDirectory;

private:
    sys::InfHandle OpenNtPrintInf();
    bool MapDriverDirectory(HINF hNtPrintInf);
    bool CopySystemDriversVistaOrLater();
    int uncaughtExceptions_;
    bool CopySystemDriversPreVista();
};

// On a machine where the printer is installed already: deletes every file
// at the top of the driver directory that bears the name of one of the eight
// staged system files, whoever left it there (a run ended before its
// clean-up, or anyone else), as CleanSystemDrivers does at the end of every
// installation. Registered drivers are not touched: the spooler keeps their
// files in the directory of their version below. One record per file
// removed; none when there is nothing to remove.
void RemoveStagedSystemFiles(Installer& installer);
