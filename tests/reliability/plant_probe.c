// plant_probe: the DLL planting check's measuring program. Built twice, once
// with the static imports of setup.exe (kernel32, advapi32, msvcrt) and once
// with those of zorvanecheck.exe (kernel32, msvcrt); the check compares the
// import tables before it trusts either.
//
//   plant_probe none        returns at once: the loader's own DLLs for this
//                           import table, before any code of the program runs
//   plant_probe bare NAME   LoadLibraryW(NAME): the default search order, which
//                           begins with the program's directory
//   plant_probe restricted  restricts the search to the system directory, loads
//                           the spooler, SetupAPI and version libraries by full
//                           path and calls into each: what Wine's own code
//                           loads from the program's directory regardless
#include <stdio.h>
#include <windows.h>

#include <setupapi.h>
#include <winspool.h>

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD);
typedef SC_HANDLE(WINAPI* OpenSCManagerWFn)(LPCWSTR, LPCWSTR, DWORD);
typedef BOOL(WINAPI* CloseServiceHandleFn)(SC_HANDLE);
typedef BOOL(WINAPI* EnumFn)(LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
typedef BOOL(WINAPI* EnumPrintersWFn)(DWORD, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
typedef DWORD(WINAPI* GetFileVersionInfoSizeWFn)(LPCWSTR, LPDWORD);
typedef HINF(WINAPI* SetupOpenInfFileWFn)(PCWSTR, PCWSTR, DWORD, PUINT);

static const DWORD kSearchSystem32 = 0x00000800;

static HMODULE LoadSystemLibrary(const wchar_t* name) {
    wchar_t path[MAX_PATH + 32];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return NULL;
    }
    lstrcatW(path, L"\\");
    lstrcatW(path, name);
    HMODULE module = LoadLibraryExW(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == NULL) {
        fprintf(stderr, "plant_probe: cannot load %ls: %lu\n", path, GetLastError());
    }
    return module;
}

static FARPROC Proc(HMODULE module, const char* name) {
    FARPROC proc = module != NULL ? GetProcAddress(module, name) : NULL;
    if (proc == NULL) {
        fprintf(stderr, "plant_probe: no %s\n", name);
    }
    return proc;
}

static int Restricted(void) {
    SetDefaultDllDirectoriesFn setDefault = (SetDefaultDllDirectoriesFn)(void*)Proc(
        GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (setDefault == NULL || !setDefault(kSearchSystem32)) {
        return 1;
    }
    // The service manager first, as an installation starts with the spooler
    // service: what its code loads then, nothing else has loaded yet.
    HMODULE advapi32 = LoadSystemLibrary(L"advapi32.dll");
    OpenSCManagerWFn openManager = (OpenSCManagerWFn)(void*)Proc(advapi32, "OpenSCManagerW");
    CloseServiceHandleFn closeHandle = (CloseServiceHandleFn)(void*)Proc(advapi32, "CloseServiceHandle");
    if (openManager == NULL || closeHandle == NULL) {
        return 1;
    }
    SC_HANDLE manager = openManager(NULL, NULL, GENERIC_READ);
    if (manager != NULL) {
        closeHandle(manager);
    }

    HMODULE winspool = LoadSystemLibrary(L"winspool.drv");
    HMODULE setupapi = LoadSystemLibrary(L"setupapi.dll");
    HMODULE version = LoadSystemLibrary(L"version.dll");
    EnumPrintersWFn enumPrinters = (EnumPrintersWFn)(void*)Proc(winspool, "EnumPrintersW");
    EnumFn enumMonitors = (EnumFn)(void*)Proc(winspool, "EnumMonitorsW");
    EnumFn enumPorts = (EnumFn)(void*)Proc(winspool, "EnumPortsW");
    SetupOpenInfFileWFn openInf = (SetupOpenInfFileWFn)(void*)Proc(setupapi, "SetupOpenInfFileW");
    GetFileVersionInfoSizeWFn versionSize =
        (GetFileVersionInfoSizeWFn)(void*)Proc(version, "GetFileVersionInfoSizeW");
    if (!enumPrinters || !enumMonitors || !enumPorts || !openInf || !versionSize) {
        return 1;
    }
    // Size probes are enough: each reaches the spooler's provider.
    DWORD needed = 0;
    DWORD returned = 0;
    enumPrinters(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &needed, &returned);
    enumMonitors(NULL, 2, NULL, 0, &needed, &returned);
    enumPorts(NULL, 2, NULL, 0, &needed, &returned);
    UINT errorLine = 0;
    HINF inf = openInf(L"C:\\windows\\inf\\no such file.inf", NULL, INF_STYLE_WIN4, &errorLine);
    if (inf != INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD handle = 0;
    versionSize(L"C:\\windows\\system32\\kernel32.dll", &handle);
    return 0;
}

int main(int argc, char** argv) {
#ifdef PLANT_PROBE_IMPORTS_ADVAPI32
    // Never true: the call puts advapi32 into the import table.
    if (argc > 1000) {
        RegCloseKey(NULL);
    }
#endif
    if (argc == 2 && lstrcmpA(argv[1], "none") == 0) {
        return 0;
    }
    if (argc == 3 && lstrcmpA(argv[1], "bare") == 0) {
        wchar_t name[MAX_PATH];
        if (MultiByteToWideChar(CP_ACP, 0, argv[2], -1, name, MAX_PATH) == 0) {
            return 2;
        }
        HMODULE module = LoadLibraryW(name);
        wchar_t path[MAX_PATH] = L"";
        if (module != NULL) {
            GetModuleFileNameW(module, path, MAX_PATH);
        }
        printf("%ls\n", path);
        return module != NULL ? 0 : 1;
    }
    if (argc == 2 && lstrcmpA(argv[1], "restricted") == 0) {
        return Restricted();
    }
    fprintf(stderr, "usage: plant_probe none | bare NAME | restricted\n");
    return 2;
}
