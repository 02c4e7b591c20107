// A Windows system DLL loaded on first use from the system directory by its
// full path, never through the DLL search order, so that a DLL planted
// beside the program is never loaded.
#pragma once

#include <windows.h>

class SystemLibrary {
public:
    constexpr explicit SystemLibrary(const wchar_t* fileName) : fileName_(fileName) {}

    // The named export, with the thread's last-error value left as it was;
    // or null with it set (ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND, ...).
    FARPROC Proc(const char* procName);

    template <typename Fn>
    Fn* Bind(const char* procName) {
        return reinterpret_cast<Fn*>(reinterpret_cast<void*>(Proc(procName)));
    }

    // The library itself, loaded on first use; null with the last-error value set.
    HMODULE Module() { return module_ != nullptr || Load() ? module_ : nullptr; }

private:
    bool Load();

    const wchar_t* fileName_;
    HMODULE module_ = nullptr;
};

// For programs outside the installer's seam (the checker): DLLs loaded on the
// program's behalf come from the system directory only, through
// SetDefaultDllDirectories where kernel32 has it, else SetDllDirectoryW(L"").
void RestrictDllSearchToSystemDirectory();
