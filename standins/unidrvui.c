// Stand-in for Windows' unidrvui.dll, the configuration DLL of Unidrv drivers,
// for tests and the demonstration under Wine, which has none. Never shipped.
// Wine's spooler loads a printer's configuration DLL when the printer is
// created and calls its DrvDocumentPropertySheets, found by name and called
// unchecked, for the printer's default DEVMODE; DeviceCapabilities calls
// DrvDeviceCapabilities the same way. This stand-in answers both without a
// user interface: a plain public DEVMODEW (Letter, portrait, colour, 600 dpi)
// and no capabilities.
#include <windows.h>

#include <winddiui.h>

// The documented argument of DrvDocumentPropertySheets when no property sheet
// is shown; MinGW-w64's winddiui.h lacks it.
typedef struct {
    WORD cbSize;
    WORD Reserved;
    HANDLE hPrinter;
    LPWSTR pszPrinterName;
    PDEVMODEW pdmIn;
    PDEVMODEW pdmOut;
    DWORD cbOut;
    DWORD fMode;
} DocumentPropertyHeader;

enum { kDefaultResolution = 600 };

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

static void DefaultDevMode(DEVMODEW* devMode, const WCHAR* printerName) {
    ZeroMemory(devMode, sizeof *devMode);
    if (printerName != NULL) {
        lstrcpynW(devMode->dmDeviceName, printerName, CCHDEVICENAME);
    }
    devMode->dmSpecVersion = DM_SPECVERSION;
    devMode->dmSize = sizeof *devMode;
    devMode->dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_DEFAULTSOURCE | DM_PRINTQUALITY |
                        DM_YRESOLUTION | DM_COLOR | DM_DUPLEX;
    devMode->dmOrientation = DMORIENT_PORTRAIT;
    devMode->dmPaperSize = DMPAPER_LETTER;
    devMode->dmCopies = 1;
    devMode->dmDefaultSource = DMBIN_UPPER;
    devMode->dmPrintQuality = kDefaultResolution;
    devMode->dmYResolution = kDefaultResolution;
    devMode->dmColor = DMCOLOR_COLOR;
    devMode->dmDuplex = DMDUP_SIMPLEX;
}

// Takes over the settings of the caller's DEVMODE that this one knows.
static void MergeDevMode(DEVMODEW* devMode, const DEVMODEW* in) {
    if (in->dmSize < FIELD_OFFSET(DEVMODEW, dmFormName)) {
        return;
    }
    if (in->dmFields & DM_ORIENTATION) {
        devMode->dmOrientation = in->dmOrientation;
    }
    if (in->dmFields & DM_PAPERSIZE) {
        devMode->dmPaperSize = in->dmPaperSize;
    }
    if (in->dmFields & DM_COPIES) {
        devMode->dmCopies = in->dmCopies;
    }
    if (in->dmFields & DM_PRINTQUALITY) {
        devMode->dmPrintQuality = in->dmPrintQuality;
    }
    if (in->dmFields & DM_YRESOLUTION) {
        devMode->dmYResolution = in->dmYResolution;
    }
    if (in->dmFields & DM_COLOR) {
        devMode->dmColor = in->dmColor;
    }
}

// Without a property sheet (info is NULL): with fMode 0 or no output buffer,
// the size of the DEVMODE; with DM_OUT_BUFFER, the default DEVMODE, changed by
// the input DEVMODE under DM_IN_BUFFER, and IDOK. A property sheet is not
// offered: -1 with ERROR_NOT_SUPPORTED.
__declspec(dllexport) LONG WINAPI DrvDocumentPropertySheets(PPROPSHEETUI_INFO info, LPARAM lParam) {
    DocumentPropertyHeader* header = (DocumentPropertyHeader*)lParam;
    if (info != NULL) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return -1;
    }
    if (header == NULL || header->cbSize < sizeof *header) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (header->fMode == 0 || header->pdmOut == NULL) {
        header->cbOut = sizeof(DEVMODEW);
        return sizeof(DEVMODEW);
    }
    if (!(header->fMode & DM_OUT_BUFFER)) {
        return IDOK;
    }
    if (header->cbOut < sizeof(DEVMODEW)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return -1;
    }
    DEVMODEW devMode;
    DefaultDevMode(&devMode, header->pszPrinterName);
    if ((header->fMode & DM_IN_BUFFER) && header->pdmIn != NULL) {
        MergeDevMode(&devMode, header->pdmIn);
    }
    CopyMemory(header->pdmOut, &devMode, sizeof devMode);
    return IDOK;
}

// The stand-in describes no device capabilities.
__declspec(dllexport) DWORD WINAPI DrvDeviceCapabilities(HANDLE printer, PWSTR deviceName, WORD capability,
                                                         PVOID output, PDEVMODEW devMode) {
    (void)printer;
    (void)deviceName;
    (void)capability;
    (void)output;
    (void)devMode;
    SetLastError(ERROR_NOT_SUPPORTED);
    return GDI_ERROR;
}
