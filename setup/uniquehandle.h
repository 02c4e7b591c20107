// Owning wrappers for the handles the installer opens: each is closed through
// the seam when its owner goes out of scope, on every path.
#pragma once

#include "platform/platform.h"

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.release();
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Handle get() const { return handle_; }
    explicit operator bool() const { return Traits::IsValid(handle_); }

    // For calls that hand the handle out through a pointer.
    Handle* receive() {
        reset();
        return &handle_;
    }

    Handle release() {
        Handle handle = handle_;
        handle_ = Traits::Invalid();
        return handle;
    }

    void reset() {
        if (Traits::IsValid(handle_)) {
            Traits::Close(handle_);
        }
        handle_ = Traits::Invalid();
    }

private:
    Handle handle_ = Traits::Invalid();
};

struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Handle h) { sys::CloseHandle(h); }
};

struct PrinterHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { sys::ClosePrinter(h); }
};

struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { sys::CloseServiceHandle(h); }
};

struct InfHandleTraits {
    using Handle = HINF;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Handle h) { sys::SetupCloseInfFile(h); }
};

struct FileQueueHandleTraits {
    using Handle = HSPFILEQ;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Handle h) { sys::SetupCloseFileQueue(h); }
};

struct QueueCallbackContextTraits {
    using Handle = PVOID;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { sys::SetupTermDefaultQueueCallback(h); }
};

// Text that FormatMessageW allocated.
struct LocalTextTraits {
    using Handle = LPWSTR;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { sys::LocalFree(h); }
};

// Kernel objects other than files: null when missing.
struct KernelObjectTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { sys::CloseHandle(h); }
};

struct LocalSecurityDescriptorTraits {
    using Handle = PSECURITY_DESCRIPTOR;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { sys::LocalFree(h); }
};

using FileHandle = UniqueHandle<FileHandleTraits>;
using PrinterHandle = UniqueHandle<PrinterHandleTraits>;
using ServiceHandle = UniqueHandle<ServiceHandleTraits>;
using InfHandle = UniqueHandle<InfHandleTraits>;
using FileQueueHandle = UniqueHandle<FileQueueHandleTraits>;
using QueueCallbackContext = UniqueHandle<QueueCallbackContextTraits>;
using LocalText = UniqueHandle<LocalTextTraits>;
using KernelObject = UniqueHandle<KernelObjectTraits>;
using LocalSecurityDescriptor = UniqueHandle<LocalSecurityDescriptorTraits>;
