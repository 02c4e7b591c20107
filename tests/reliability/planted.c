// A DLL planted under the name of a DLL that a program loads. Once loaded it
// leaves the marker C:\planted-<its file name>.txt, a line naming itself and
// the program that loaded it. No C runtime and no import but kernel32, so that
// the same file can stand for any DLL (msvcrt.dll included).
#include <windows.h>

static const wchar_t* BaseName(const wchar_t* path) {
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p != L'\0'; ++p) {
        if (*p == L'\\' || *p == L'/') {
            name = p + 1;
        }
    }
    return name;
}

// Static: DllMain runs under the loader lock, one call at a time, and without a C
// runtime there is no stack probe for large frames.
static wchar_t selfPath[MAX_PATH];
static wchar_t hostPath[MAX_PATH];
static wchar_t marker[MAX_PATH + 32];
static wchar_t line[2 * MAX_PATH + 16];
static char text[6 * MAX_PATH + 48];

static void LeaveMarker(HINSTANCE self) {
    if (GetModuleFileNameW(self, selfPath, MAX_PATH) == 0 ||
        GetModuleFileNameW(NULL, hostPath, MAX_PATH) == 0) {
        return;
    }
    lstrcpyW(marker, L"C:\\planted-");
    lstrcatW(marker, BaseName(selfPath));
    lstrcatW(marker, L".txt");
    lstrcpyW(line, selfPath);
    lstrcatW(line, L" loaded by ");
    lstrcatW(line, hostPath);
    int length = WideCharToMultiByte(CP_UTF8, 0, line, -1, text, sizeof text, NULL, NULL);
    HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        if (length > 0) {
            text[length - 1] = '\n';
            WriteFile(file, text, (DWORD)length, &written, NULL);
        }
        CloseHandle(file);
    }
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        LeaveMarker(instance);
    }
    return TRUE;
}
