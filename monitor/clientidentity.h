// The identity a port's job functions run under. The spooler calls them on a
// thread that often impersonates the user who printed: its documentation
// gives print monitors RevertToPrinterSelf "when a component needs access to
// resources from the local system context" and ImpersonatePrinterClient to
// resume. The output folders grant users no right to create anything, so the
// monitor does its file work as itself, and learns the printing user from the
// token it sets aside.
#pragma once

#include <string>

#include <windows.h>

#include "platform/handles.h"

// While it lives, the thread runs as the monitor's own process; the
// impersonation it found is resumed when it goes. A thread that does not
// impersonate is left as it is.
class ClientImpersonationPause {
public:
    ClientImpersonationPause();
    ~ClientImpersonationPause();
    ClientImpersonationPause(const ClientImpersonationPause&) = delete;
    ClientImpersonationPause& operator=(const ClientImpersonationPause&) = delete;

    // The impersonated user's SID as text ("S-1-5-21-..."); empty when the
    // thread did not impersonate or the token tells no user.
    const std::wstring& ClientSid() const { return clientSid_; }

private:
    KernelObject token_;
    bool reverted_ = false;
    std::wstring clientSid_;
};
