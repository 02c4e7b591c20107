// Owning wrappers for what the components open: one template, with traits
// per kind of handle. Each handle is closed when its owner goes out of scope,
// on every path. The kinds below close through Windows itself; the
// installer's close through the seam (platform/seamhandles.h), so that the
// simulated machine sees every close.
//
// Only <windows.h>: every component can use this header, the port monitor
// and the driver's DLLs as well as the installer.
#pragma once

#include <windows.h>

// Traits of a kind: its Handle type, Invalid() (the value when nothing is
// held), IsValid(handle), and Close(handle), true when the system reports
// the handle closed.
template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    ~UniqueHandle() { Close(); }

    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = other.Release();
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Handle Get() const { return handle_; }
    explicit operator bool() const { return Traits::IsValid(handle_); }

    // For calls that hand the handle out through a pointer: what was held is
    // closed first. A call that fails may leave anything there; Release()
    // then drops it unclosed.
    Handle* Receive() {
        Close();
        return &handle_;
    }

    // Hands the handle over to the caller, who closes it.
    Handle Release() {
        Handle handle = handle_;
        handle_ = Traits::Invalid();
        return handle;
    }

    // Closes what is held; false, with the thread's last-error set, when the
    // system reports a failure (for a file: data that could not be written).
    bool Close() {
        bool closed = !Traits::IsValid(handle_) || Traits::Close(handle_);
        handle_ = Traits::Invalid();
        return closed;
    }

private:
    Handle handle_ = Traits::Invalid();
};

// ---- What "nothing held" is, per kind -----------------------------------------

// Processes, threads, tokens, events, mutexes, registry keys, modules and
// memory: null when missing.
template <typename H>
struct NullWhenMissing {
    using Handle = H;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
};

// Files, searches, SetupAPI's INF files and queues: INVALID_HANDLE_VALUE when
// their call fails. Null is no handle either (GetStdHandle's "none").
template <typename H>
struct InvalidValueWhenMissing {
    using Handle = H;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
};

// ---- Kinds closed through Windows ---------------------------------------------

struct FileTraits : InvalidValueWhenMissing<HANDLE> {
    static bool Close(Handle h) { return ::CloseHandle(h) != FALSE; }
};

struct KernelObjectTraits : NullWhenMissing<HANDLE> {
    static bool Close(Handle h) { return ::CloseHandle(h) != FALSE; }
};

// FindFirstFileW's search.
struct FindTraits : InvalidValueWhenMissing<HANDLE> {
    static bool Close(Handle h) { return ::FindClose(h) != FALSE; }
};

// RegCloseKey answers its code instead of setting the last-error.
struct RegistryKeyTraits : NullWhenMissing<HKEY> {
    static bool Close(Handle h) { return ::RegCloseKey(h) == ERROR_SUCCESS; }
};

struct ModuleTraits : NullWhenMissing<HMODULE> {
    static bool Close(Handle h) { return ::FreeLibrary(h) != FALSE; }
};

// Memory the system allocated with LocalAlloc (security descriptors, SIDs
// and their text).
template <typename Pointer>
struct LocalMemoryTraits : NullWhenMissing<Pointer> {
    static bool Close(Pointer p) { return ::LocalFree(p) == nullptr; }
};

using FileHandle = UniqueHandle<FileTraits>;
using KernelObject = UniqueHandle<KernelObjectTraits>;
using FindHandle = UniqueHandle<FindTraits>;
using RegistryKeyHandle = UniqueHandle<RegistryKeyTraits>;
using ModuleHandle = UniqueHandle<ModuleTraits>;
using LocalMemory = UniqueHandle<LocalMemoryTraits<HLOCAL>>;
using LocalText = UniqueHandle<LocalMemoryTraits<LPWSTR>>;

// ---- Critical sections --------------------------------------------------------

// A critical section that lives exactly as long as its owner.
class CriticalSection {
public:
    CriticalSection() { ::InitializeCriticalSection(&section_); }
    ~CriticalSection() { ::DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

private:
    friend class CriticalSectionLock;
    CRITICAL_SECTION section_;
};

// Holds a critical section from its construction to the end of its scope.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& section) : section_(section.section_) {
        ::EnterCriticalSection(&section_);
    }
    ~CriticalSectionLock() { ::LeaveCriticalSection(&section_); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CRITICAL_SECTION& section_;
};
