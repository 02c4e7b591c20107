#include "setup/setup.h"

#include <cstdlib>
#include <vector>

#include "platform/platform.h"
#include "platform/seamhandles.h"
#include "setup/handover.h"
#include "setup/installer.h"
#include "setup/portmonitorinstaller.h"
#include "setup/portmonitoruninstaller.h"
#include "setup/printerdriverinstaller.h"
#include "setup/printeruninstaller.h"
#include "setup/setuplock.h"
#include "zorvaneidentity.h"

namespace {

bool EqualsIgnoringAsciiCase(const char* left, const char* right) {
    auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    for (; *left != '\0' && *right != '\0'; ++left, ++right) {
        if (fold(*left) != fold(*right)) {
            return false;
        }
    }
    return *left == *right;
}

// The "/log" argument from the ANSI code page; false when it converts to nothing.
bool AnsiToWide(const char* text, std::wstring& converted) {
    int cchWide = sys::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, nullptr, 0);
    if (cchWide <= 0) {
        return false;
    }
    std::vector<wchar_t> tempBuf(static_cast<size_t>(cchWide));
    if (sys::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, tempBuf.data(), cchWide) <= 0) {
        return false;
    }
    converted.assign(tempBuf.data());
    return true;
}

constexpr int kRemovalAttempts = 100;
constexpr DWORD kRemovalPauseMs = 100;

const wchar_t* OsText(int osFamily) { return osFamily == 0 ? L"PreVista" : L"VistaOrLater"; }

// Whether a printer of this name can be opened, answered as the installation
// asks it: the open succeeds and leaves the last-error value at 0.
bool PrinterIsInstalled(PortMonitorInstaller& monitorInstaller, const std::wstring& printerName) {
    std::wstring name = printerName;
    sys::PrinterHandle hPrinter;
    sys::SetLastError(0);
    BOOL bOpened = sys::OpenPrinterW(&name[0], hPrinter.Receive(), nullptr);
    DWORD dwError = sys::GetLastError();
    if (!bOpened) {
        hPrinter.Release();  // nothing was opened
        return false;
    }
    if (hPrinter && dwError == 0) {
        monitorInstaller.Log(L"Printer is already installed.");
        return true;
    }
    return false;
}

bool RunInstallation(const std::wstring& monitorName, const std::wstring& portName,
                     const std::wstring& printerName, const std::wstring& driverName,
                     const std::wstring& logPath, int osFamily, bool standalone) {
    int result = 1;
    std::wstring sourceDir = ExecutableDirectory();
    PortMonitorInstaller monitorInstaller(sourceDir, monitorName, portName, logPath);
    monitorInstaller.Log(
        L"Starting installation of %s, using driver %s, port monitor %s, port name %s on OS %s", printerName,
        driverName, monitorName, portName, OsText(osFamily));

    result &= monitorInstaller.StartSpooler() ? 1 : 0;
    monitorInstaller.Log(result == 0 ? L"Unable to start printer spooler." : L"Started printer spooler.");

    if (PrinterIsInstalled(monitorInstaller, printerName)) {
        // A run ended between staging and its clean-up leaves the staged
        // files behind, and this run has no clean-up of its own: the same
        // names are deleted here, whoever left them.
        RemoveStagedSystemFiles(monitorInstaller);
        return true;
    }

    sourceDir = monitorInstaller.GetSourceDirectory();
    if (sourceDir.empty()) {
        monitorInstaller.Log(L"Error: Unable to extract resources, fatal error.");
        return false;
    }

    result &= monitorInstaller.InstallMonitor(standalone) ? 1 : 0;
    monitorInstaller.Log(result != 0 ? L"Monitor Installed." : L"Error: Monitor Not Installed.");

    bool bPort = monitorInstaller.AddPort();
    monitorInstaller.Log(bPort ? L"Port Installed." : L"Error: Port Not Installed.");
    result &= bPort ? 1 : 0;

    // Released before the monitor installer; its release deletes the staged
    // system files and logs after the finishing line.
    PrinterDriverInstaller driverInstaller(driverName, printerName, portName, sourceDir, osFamily, logPath);

    bool bDriver = driverInstaller.AddDriver();
    driverInstaller.Log(bDriver ? L"Driver Installed." : L"Error: Driver Not Installed.");
    result &= bDriver ? 1 : 0;

    bool bPrinter = driverInstaller.AddPrinter();
    driverInstaller.Log(bPrinter ? L"Printer Installed." : L"Error: Printer Not Installed.");
    result &= bPrinter ? 1 : 0;

    monitorInstaller.Log(
        L"Finishing installation of %s, using driver %s, port monitor %s, port name %s on OS %s", printerName,
        driverName, monitorName, portName, OsText(osFamily));
    if (result == 0) {
        driverInstaller.LogError(L"Unable to install Zorvane Quelda Printer due to previous errors.", 0);
    }
    return result == 1;
}

bool RunUninstallation(const std::wstring& monitorName, const std::wstring& portName,
                       const std::wstring& printerName, const std::wstring& driverName,
                       const std::wstring& logPath, int osFamily) {
    int result = 1;
    PrinterUninstaller printerUninstaller(driverName, printerName, logPath);
    printerUninstaller.Log(
        L"Starting uninstallation of %s, using driver %s, port monitor %s, port name %s on OS %s",
        printerName, driverName, monitorName, portName, OsText(osFamily));

    sys::SetLastError(0);
    if (printerUninstaller.IsSpoolerRunning()) {
        result &= printerUninstaller.StopSpooler() ? 1 : 0;
    }
    result &= printerUninstaller.StartSpooler() ? 1 : 0;

    if (result == 0) {
        printerUninstaller.LogError(
            ZORVANE_WIDE("Unable to uninstall " ZORVANE_PRODUCT_NAME " due to previous errors."), 0);
    } else {
        // Whether any printer could be listed does not decide the removal:
        // the driver and the monitor are removed all the same.
        printerUninstaller.DeletePrinters();

        int attemptResult = 0;
        for (int attemptsLeft = kRemovalAttempts; attemptsLeft > 0; --attemptsLeft) {
            attemptResult = 1;
            sys::Sleep(kRemovalPauseMs);
            attemptResult &= printerUninstaller.DeleteDriver() ? 1 : 0;
            PortMonitorUninstaller monitorUninstaller(monitorName, portName, logPath);
            attemptResult &= monitorUninstaller.DeleteMonitor() ? 1 : 0;
            if (attemptResult == 0) {
                printerUninstaller.Log(L"Unable to uninstall driver or monitor, retrying...");
            }
            result &= printerUninstaller.StopSpooler() ? 1 : 0;
            attemptResult &= monitorUninstaller.OnSpoolerStopped();
            result &= printerUninstaller.StartSpooler() ? 1 : 0;
            if (attemptResult == 1) {
                break;
            }
        }
        if (attemptResult != 1) {
            printerUninstaller.LogError(L"Too many attempts.  Unable to uninstall driver or monitor.", 0);
        }
    }

    printerUninstaller.Log(
        L"Finishing uninstallation of %s, using driver %s, port monitor %s, port name %s on OS %s",
        printerName, driverName, monitorName, portName, OsText(osFamily));
    return result == 1;
}

// What a text-mode stream makes of a line: LF goes out as CR LF.
std::string TextModeBytes(const std::string& text) {
    std::string bytes;
    for (char c : text) {
        if (c == '\n') {
            bytes += '\r';
        }
        bytes += c;
    }
    return bytes;
}

void WriteStandardOutput(const std::string& text) {
    HANDLE hStdOut = sys::GetStdHandle(STD_OUTPUT_HANDLE);
    if (hStdOut == nullptr || hStdOut == INVALID_HANDLE_VALUE) {
        return;
    }
    std::string bytes = TextModeBytes(text);
    DWORD dwWritten = 0;
    sys::WriteFile(hStdOut, bytes.data(), static_cast<DWORD>(bytes.size()), &dwWritten, nullptr);
}

}  // namespace

SetupOptions ParseCommandLine(int argc, char** argv) {
    SetupOptions options;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (EqualsIgnoringAsciiCase(arg, "/Uninstall")) {
            options.mode = SetupMode::Uninstall;
        } else if (EqualsIgnoringAsciiCase(arg, "/Install")) {
            options.mode = SetupMode::Install;
        } else if (EqualsIgnoringAsciiCase(arg, "PREVISTA")) {
            options.osFamily = OsFamily::PreVista;
        } else if (EqualsIgnoringAsciiCase(arg, "VISTAORLATER")) {
            options.osFamily = OsFamily::VistaOrLater;
        } else if (EqualsIgnoringAsciiCase(arg, "STANDALONE")) {
            options.standalone = true;
        } else if (EqualsIgnoringAsciiCase(arg, "BUNDLED")) {
            options.standalone = false;
        } else if (EqualsIgnoringAsciiCase(arg, "/log") && i + 1 < argc) {
            ++i;
            AnsiToWide(argv[i], options.logPath);
        }
    }
    return options;
}

bool RunSetup(const std::wstring& monitorName, const std::wstring& portName, const std::wstring& printerName,
              const std::wstring& driverName, SetupMode mode, const std::wstring& logPath, int osFamily,
              bool standalone) {
    // The step objects are locals of the branches: an exception releases
    // the live ones in reverse order of creation on its way out.
    try {
        if (mode == SetupMode::Install) {
            return RunInstallation(monitorName, portName, printerName, driverName, logPath, osFamily,
                                   standalone);
        }
        return RunUninstallation(monitorName, portName, printerName, driverName, logPath, osFamily);
    } catch (...) {
        return false;
    }
}

std::string ResultLine(bool succeeded, const std::wstring& logPath) {
    return (succeeded ? "Succeeded.  See " : "Failure.  See ") + WideToAsciiString(logPath.c_str()) + "\n";
}

int SetupMain(int argc, char** argv) {
    // RunSetup guards the run itself; this guards the rest (an allocation
    // failure while parsing or printing must not crash the caller's setup).
    try {
        // DLLs the system loads on the installer's behalf come from the
        // system directory only, never from beside setup.exe or the current
        // directory.
        constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;
        if (!sys::SetDefaultDllDirectories(kLoadLibrarySearchSystem32)) {
            sys::SetDllDirectoryW(L"");
        }
        SetupOptions options = ParseCommandLine(argc, argv);
        switch (HandOverTo64BitSetup(options.logPath)) {
            case HandOver::RunHere:
                break;
            case HandOver::ChildSucceeded:
                return 0;
            case HandOver::ChildFailed:
                return 1;
            case HandOver::NotRun:
                WriteStandardOutput(ResultLine(false, options.logPath));
                return 1;
        }
        bool succeeded;
        {
            const std::wstring printerName = ZORVANE_WIDE(ZORVANE_PRINTER_NAME);
            const std::wstring driverName = ZORVANE_WIDE(ZORVANE_DRIVER_NAME);
            const std::wstring portName = ZORVANE_WIDE(ZORVANE_PORT_NAME);
            const std::wstring monitorName = ZORVANE_WIDE(ZORVANE_MONITOR_NAME);
            // One run at a time on the machine, whatever the account or
            // session; held until the sequence has ended.
            SetupLock lock(options.logPath);
            succeeded = lock.Acquire() &&
                        RunSetup(monitorName, portName, printerName, driverName, options.mode,
                                 options.logPath, static_cast<int>(options.osFamily), options.standalone);
        }
        WriteStandardOutput(ResultLine(succeeded, options.logPath));
        return succeeded ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return SetupMain(__argc, __argv); }
