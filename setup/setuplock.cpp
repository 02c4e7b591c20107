#include "setup/setuplock.h"

#include "zorvaneidentity.h"

const wchar_t kSetupLockName[] = ZORVANE_WIDE("Global\\" ZORVANE_PRODUCT_NAME " Setup");

namespace {

// SYSTEM and the Administrators full control; everybody else may wait on the
// lock and release it, so that a run of any account or session can take it.
// Protected: nothing is inherited.
constexpr wchar_t kSetupLockSecurity[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD)";

constexpr DWORD kWaitAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

}  // namespace

SetupLock::SetupLock(const std::wstring& logPath) : Installer(L"", logPath) {}

SetupLock::~SetupLock() {
    if (owned_) {
        sys::ReleaseMutex(hMutex_.Get());
    }
}

// Creates the mutex, or opens it when another run made it first and its
// security lets this account only wait on it.
bool SetupLock::OpenMutex() {
    sys::LocalMemory pSecurity;
    sys::SetLastError(0);
    if (!sys::ConvertStringSecurityDescriptorToSecurityDescriptorW(kSetupLockSecurity, SDDL_REVISION_1,
                                                                   pSecurity.Receive(), nullptr)) {
        ReportError(L"ConvertStringSecurityDescriptorToSecurityDescriptor", kSetupLockName,
                    sys::GetLastError());
        return false;
    }
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), pSecurity.Get(), FALSE};
    hMutex_ = sys::KernelObject(sys::CreateMutexW(&security, FALSE, kSetupLockName));
    if (hMutex_) {
        return true;
    }
    DWORD dwError = sys::GetLastError();
    if (dwError != ERROR_ACCESS_DENIED) {
        ReportError(L"CreateMutex", kSetupLockName, dwError);
        return false;
    }
    hMutex_ = sys::KernelObject(sys::OpenMutexW(kWaitAccess, FALSE, kSetupLockName));
    if (!hMutex_) {
        ReportError(L"OpenMutex", kSetupLockName, sys::GetLastError());
        return false;
    }
    return true;
}

bool SetupLock::Acquire() {
    if (!OpenMutex()) {
        return false;
    }
    bool waited = false;
    DWORD dwWait = sys::WaitForSingleObject(hMutex_.Get(), 0);
    if (dwWait == WAIT_TIMEOUT) {
        waited = true;
        Log(L"Another setup run is in progress; waiting up to %d minutes for it to end.",
            kSetupLockWaitMinutes);
        dwWait = sys::WaitForSingleObject(hMutex_.Get(), kSetupLockWaitMinutes * 60 * 1000);
    }
    switch (dwWait) {
        case WAIT_OBJECT_0:
            owned_ = true;
            if (waited) {
                Log(L"The other setup run has ended; going on.");
            }
            return true;
        case WAIT_ABANDONED:
            // The run that held the lock was ended without releasing it: what it
            // left half done is what this run repairs.
            owned_ = true;
            Log(L"An earlier setup run ended without finishing; going on.");
            return true;
        case WAIT_TIMEOUT:
            Log(L"Error: Another setup run is still in progress after %d minutes; nothing was changed.",
                kSetupLockWaitMinutes);
            return false;
        default:
            ReportError(L"WaitForSingleObject", kSetupLockName, sys::GetLastError());
            return false;
    }
}
