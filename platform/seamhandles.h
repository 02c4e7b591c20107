// The installer's handles: the kinds of platform/handles.h, closed through
// the seam, so that the simulated machine sees every close and counts what
// is still open. In namespace sys like the calls that open them: a handle
// from sys::CreateFileW goes into a sys::FileHandle.
#pragma once

#include "platform/handles.h"
#include "platform/platform.h"

namespace sys {

struct FileTraits : InvalidValueWhenMissing<HANDLE> {
    static bool Close(Handle h) { return sys::CloseHandle(h) != FALSE; }
};

struct KernelObjectTraits : NullWhenMissing<HANDLE> {
    static bool Close(Handle h) { return sys::CloseHandle(h) != FALSE; }
};

struct PrinterTraits : NullWhenMissing<HANDLE> {
    static bool Close(Handle h) { return sys::ClosePrinter(h) != FALSE; }
};

struct ServiceTraits : NullWhenMissing<SC_HANDLE> {
    static bool Close(Handle h) { return sys::CloseServiceHandle(h) != FALSE; }
};

// SetupCloseInfFile reports nothing.
struct InfTraits : InvalidValueWhenMissing<HINF> {
    static bool Close(Handle h) {
        sys::SetupCloseInfFile(h);
        return true;
    }
};

struct FileQueueTraits : InvalidValueWhenMissing<HSPFILEQ> {
    static bool Close(Handle h) { return sys::SetupCloseFileQueue(h) != FALSE; }
};

// SetupTermDefaultQueueCallback reports nothing.
struct QueueCallbackContextTraits : NullWhenMissing<PVOID> {
    static bool Close(Handle h) {
        sys::SetupTermDefaultQueueCallback(h);
        return true;
    }
};

// RegCloseKey answers its code instead of setting the last-error value.
struct RegistryKeyTraits : NullWhenMissing<HKEY> {
    static bool Close(Handle h) { return sys::RegCloseKey(h) == ERROR_SUCCESS; }
};

template <typename Pointer>
struct LocalMemoryTraits : NullWhenMissing<Pointer> {
    static bool Close(Pointer p) { return sys::LocalFree(p) == nullptr; }
};

using FileHandle = UniqueHandle<FileTraits>;
using KernelObject = UniqueHandle<KernelObjectTraits>;
using PrinterHandle = UniqueHandle<PrinterTraits>;
using ServiceHandle = UniqueHandle<ServiceTraits>;
using InfHandle = UniqueHandle<InfTraits>;
using FileQueueHandle = UniqueHandle<FileQueueTraits>;
using QueueCallbackContext = UniqueHandle<QueueCallbackContextTraits>;
using RegistryKeyHandle = UniqueHandle<RegistryKeyTraits>;
using LocalMemory = UniqueHandle<LocalMemoryTraits<HLOCAL>>;
using LocalText = UniqueHandle<LocalMemoryTraits<LPWSTR>>;

}  // namespace sys
