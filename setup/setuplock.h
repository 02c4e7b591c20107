// SetupLock: one run at a time on a machine. A named mutex in the global
// namespace, shared by every account and logon session that may run setup,
// held from before the sequence starts until after it ends.
#pragma once

#include <string>

#include "platform/seamhandles.h"
#include "setup/installer.h"

// The lock's name, the same for every run of the product on the machine.
extern const wchar_t kSetupLockName[];
// How long a run waits for another one to end before it gives up.
constexpr DWORD kSetupLockWaitMinutes = 10;

class SetupLock : public Installer {
public:
    explicit SetupLock(const std::wstring& logPath);
    // Releases the lock when it was taken.
    ~SetupLock();
    SetupLock(const SetupLock&) = delete;
    SetupLock& operator=(const SetupLock&) = delete;

    // Takes the lock. Writes records only when the run has to wait or finds
    // the lock abandoned; false, with a record, when the lock could not be
    // taken (the wait ran out, or the mutex could not be made or opened).
    bool Acquire();

private:
    bool OpenMutex();
    sys::KernelObject hMutex_;
    bool owned_ = false;
};
