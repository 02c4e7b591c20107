// Seeds for the simulated machine: the system's printer INF files with the
// files they stage, and the product's files beside setup.exe.
#pragma once

#include <string>

#include "tests/sim/simulated_machine.h"
#include "tests/unit/test_support.h"
#include "zorvaneidentity.h"

// A DLL whose product version is 3.1 and whose file version is 9.8.
const wchar_t kVersionedDll[] = ZORVANE_WIDE(ZORVANE_VERSIONED_DLL);

inline std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

inline const wchar_t* const kSystemFiles[] = {L"msxpsinc.gpd", L"mxdwdrv.dll", L"stdnames.gpd",
                                              L"unidrv.dll",   L"unidrv.hlp",  L"unidrvui.dll",
                                              L"unires.dll",   L"xpssvcs.dll"};
inline const wchar_t* const kLocalFiles[] = {L"zorvane-pipelineconfig.xml",
                                             L"zorvanebook.dll",
                                             L"zorvanebook.gpd",
                                             L"zorvanedrv.gpd",
                                             L"zorvanedrv.ini",
                                             L"zorvanedrvui.dll",
                                             L"zorvanenames.gpd",
                                             L"zorvanenup.dll",
                                             L"zorvanenup.gpd",
                                             L"zorvanepgscl.gpd",
                                             L"zorvanescale.dll",
                                             L"zorvanewmark.dll",
                                             L"zorvanewmark.gpd"};
inline const wchar_t* const kProfiles[] = {L"zorvaneCMYKPrinter.icc", L"zorvanewscRGB.icc"};

// Printer INF files as Windows has them: NTPRINT.INF with all three sections
// (Windows Vista and later), MSXPSDRV.INF with the XPS ones (the Windows XP
// generation's XPS Essentials Pack).
inline const char kUnidrvCopyFiles[] =
    "@unidrv.dll,@unidrvui.dll,@unires.dll,@unidrv.hlp,@stdnames.gpd,@stddtype.gdl,@stdschem.gdl,@stdschmx."
    "gdl";
inline const char kXpsDrvCopyFiles[] = "@mxdwdrv.dll,@xpssvcs.dll";

inline const char kPrinterInfHeader[] =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\n\r\n"
    "[DestinationDirs]\r\nDefaultDestDir=66000\r\n\r\n[SourceDisksNames]\r\n1=%Disk%,,,\r\n\r\n";

inline std::string UnidrvSection(const std::string& copyFiles = kUnidrvCopyFiles) {
    return "[unidrv.oem]\r\nCopyFiles=" + copyFiles + "\r\n";
}

inline void InstallPrinterInfs(SimulatedMachine& machine, bool withMsXpsDrv = true,
                               const std::string& unidrvCopyFiles = kUnidrvCopyFiles,
                               const std::string& xpsDrvCopyFiles = kXpsDrvCopyFiles) {
    const std::string header = kPrinterInfHeader;
    const std::string unidrv = UnidrvSection(unidrvCopyFiles);
    const std::string xps =
        "[XPSGPD.OEM]\r\nCopyFiles=@msxpsinc.gpd\r\n; the XPS driver itself\r\n[xpsdrv.oem]\r\nCopyFiles=" +
        xpsDrvCopyFiles + "\r\n";
    WriteBytes(machine.infDirectory + L"\\NTPRINT.INF", header + unidrv + xps);
    if (withMsXpsDrv) {
        WriteBytes(machine.infDirectory + L"\\MSXPSDRV.INF", header + xps);
    }
    for (const wchar_t* name : kSystemFiles) {
        WriteBytes(machine.infDirectory + L"\\" + name, "stand-in " + Narrow(name));
    }
    for (const wchar_t* name : {L"stddtype.gdl", L"stdschem.gdl", L"stdschmx.gdl"}) {
        WriteBytes(machine.infDirectory + L"\\" + name, "stand-in " + Narrow(name));
    }
}

// The Windows XP generation with the XPS Essentials Pack: its NTPRINT.INF
// knows Unidrv only; the XPS sections are MSXPSDRV.INF's.
inline void InstallWindowsXpPrinterInfs(SimulatedMachine& machine) {
    InstallPrinterInfs(machine);
    WriteBytes(machine.infDirectory + L"\\NTPRINT.INF", kPrinterInfHeader + UnidrvSection());
}

// The product's files beside setup.exe (the executable's directory); the
// driver's UI DLL carries product version 3.1.
inline void PutProductFiles(const std::wstring& sourceDir) {
    for (const wchar_t* name : {L"zorvanemon.dll", L"queldac.dll"}) {
        WriteBytes(sourceDir + name, "MZ " + Narrow(name));
    }
    for (const wchar_t* name : kLocalFiles) {
        WriteBytes(sourceDir + name, "package " + Narrow(name));
    }
    for (const wchar_t* name : kProfiles) {
        WriteBytes(sourceDir + name, "profile " + Narrow(name));
    }
    ::CopyFileW(kVersionedDll, (sourceDir + L"zorvanedrvui.dll").c_str(), FALSE);
}
