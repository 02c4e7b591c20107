#include "setup/setup.h"

#include <cstdlib>
#include <vector>

#include "platform/platform.h"
#include "setup/installer.h"

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

bool RunInstallation(const std::wstring&, const std::wstring&, const std::wstring&, const std::wstring&,
                     const std::wstring&, int, bool) {
    return false;
}

bool RunUninstallation(const std::wstring&, const std::wstring&, const std::wstring&, const std::wstring&,
                       const std::wstring&, int) {
    return false;
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
    SetupOptions options = ParseCommandLine(argc, argv);
    bool succeeded;
    {
        const std::wstring printerName = L"Zorvane Creator";
        const std::wstring driverName = L"Zorvane Creator";
        const std::wstring portName = L"ZorvanePort";
        const std::wstring monitorName = L"Zorvane Creator Port Monitor";
        succeeded = RunSetup(monitorName, portName, printerName, driverName, options.mode, options.logPath,
                             static_cast<int>(options.osFamily), options.standalone);
    }
    WriteStandardOutput(ResultLine(succeeded, options.logPath));
    return succeeded ? 0 : 1;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // RunSetup guards the run itself; this guards parsing and the result line
    // (an allocation failure there must not crash the caller's setup).
    try {
        return SetupMain(__argc, __argv);
    } catch (...) {
        return 1;
    }
}
