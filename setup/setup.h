// The entry point's work and the two sequences that drive a run.
#pragma once

#include <string>

enum class SetupMode { Install = 0, Uninstall = 1 };
enum class OsFamily { PreVista = 0, VistaOrLater = 1 };

// Everything the command line can set.
struct SetupOptions {
    SetupMode mode = SetupMode::Install;
    OsFamily osFamily = OsFamily::PreVista;
    bool standalone = true;
    std::wstring logPath = L"C:/testxyzzy/quelda-log.txt";
};

// The switches, compared whole and without regard to ASCII case; the last of
// each kind wins, anything else is ignored. The first argument is skipped.
SetupOptions ParseCommandLine(int argc, char** argv);

// Installs or uninstalls; true on success. Never lets an exception out.
bool RunSetup(const std::wstring& monitorName, const std::wstring& portName, const std::wstring& printerName,
              const std::wstring& driverName, SetupMode mode, const std::wstring& logPath, int osFamily,
              bool standalone);

// "Succeeded.  See <log>\n" or "Failure.  See <log>\n", the log path in its
// ASCII form.
std::string ResultLine(bool succeeded, const std::wstring& logPath);

// The whole run behind WinMain: parse, run, print the result line; returns
// the exit code, 0 for success and 1 for failure. Never lets an exception out.
int SetupMain(int argc, char** argv);
