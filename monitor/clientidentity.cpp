#include "monitor/clientidentity.h"

#include <new>
#include <vector>

#include <sddl.h>

namespace {

std::wstring TokenUserSid(HANDLE hToken) {
    DWORD cbNeeded = 0;
    ::GetTokenInformation(hToken, TokenUser, nullptr, 0, &cbNeeded);
    std::vector<BYTE> buffer(cbNeeded);
    wchar_t* pSidText = nullptr;
    if (cbNeeded == 0 || !::GetTokenInformation(hToken, TokenUser, buffer.data(), cbNeeded, &cbNeeded) ||
        !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &pSidText)) {
        return std::wstring();
    }
    LocalText sidText(pSidText);
    return sidText.Get();
}

}  // namespace

ClientImpersonationPause::ClientImpersonationPause() {
    // Opened as the process: the client's token need not let the client
    // itself open it. ERROR_NO_TOKEN: the thread does not impersonate.
    if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY | TOKEN_IMPERSONATE, TRUE, token_.Receive())) {
        token_.Release();  // nothing was opened
        return;
    }
    // Before the revert, so that nothing can fail between it and the end of
    // the constructor. Without memory for it the owner is unknown, and the
    // job goes where only administrators look.
    try {
        clientSid_ = TokenUserSid(token_.Get());
    } catch (const std::bad_alloc&) {
        clientSid_.clear();
    }
    // Without the revert the file work runs as the client and fails for
    // lack of rights, with its error as the job's status.
    reverted_ = ::RevertToSelf() != FALSE;
}

ClientImpersonationPause::~ClientImpersonationPause() {
    if (reverted_) {
        ::SetThreadToken(nullptr, token_.Get());
    }
}
