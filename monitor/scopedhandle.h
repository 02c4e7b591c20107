// Owning wrappers for the kernel objects the monitor opens: each is closed
// when its owner goes out of scope, on every path.
#pragma once

#include <windows.h>

template <typename Traits>
class ScopedHandle {
public:
    using Handle = typename Traits::Handle;

    ScopedHandle() = default;
    explicit ScopedHandle(Handle handle) : handle_(handle) {}
    ~ScopedHandle() { Reset(); }

    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = other.Release();
        }
        return *this;
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    Handle Get() const { return handle_; }
    explicit operator bool() const { return Traits::IsValid(handle_); }

    Handle Release() {
        Handle handle = handle_;
        handle_ = Traits::Invalid();
        return handle;
    }

    // Closes the object; false with the thread's last-error set when the
    // system reports a failure (for a file: data that could not be written).
    bool Close() {
        bool bClosed = !Traits::IsValid(handle_) || Traits::Close(handle_);
        handle_ = Traits::Invalid();
        return bClosed;
    }

    void Reset() { Close(); }

private:
    Handle handle_ = Traits::Invalid();
};

struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static bool Close(Handle h) { return ::CloseHandle(h) != FALSE; }
};

struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static bool Close(Handle h) { return ::RegCloseKey(h) == ERROR_SUCCESS; }
};

struct ModuleTraits {
    using Handle = HMODULE;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static bool Close(Handle h) { return ::FreeLibrary(h) != FALSE; }
};

// Memory the system allocated with LocalAlloc (security descriptors, SID
// strings).
struct LocalMemoryTraits {
    using Handle = HLOCAL;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static bool Close(Handle h) { return ::LocalFree(h) == nullptr; }
};

using FileHandle = ScopedHandle<FileHandleTraits>;
using OwnRegistryKey = ScopedHandle<RegistryKeyTraits>;
using ModuleHandle = ScopedHandle<ModuleTraits>;
using LocalMemory = ScopedHandle<LocalMemoryTraits>;
