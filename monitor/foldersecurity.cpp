#include "monitor/foldersecurity.h"

#include <vector>

#include <aclapi.h>
#include <sddl.h>

#include "platform/handles.h"

namespace {

// The TOKEN_USER of the process, which holds its account's SID.
std::vector<BYTE> ProcessUser() {
    KernelObject token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive())) {
        token.Release();  // nothing was opened
        return {};
    }
    DWORD cbNeeded = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &cbNeeded);
    std::vector<BYTE> buffer(cbNeeded);
    if (cbNeeded == 0 || !::GetTokenInformation(token.Get(), TokenUser, buffer.data(), cbNeeded, &cbNeeded)) {
        return {};
    }
    return buffer;
}

bool IsTrusted(PSID sid, PSID processAccount) {
    return ::IsWellKnownSid(sid, WinLocalSystemSid) || ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           (processAccount != nullptr && ::EqualSid(sid, processAccount));
}

std::wstring SidText(PSID sid) {
    wchar_t* pText = nullptr;
    if (sid == nullptr || !::ConvertSidToStringSidW(sid, &pText)) {
        return std::wstring();
    }
    LocalText text(pText);
    return text.Get();
}

// The rights the DACL's allowing entries for the folder itself (not those
// only inherited by what it holds) give accounts other than the trusted.
ACCESS_MASK OthersRights(PACL pDacl, PSID processAccount) {
    if (pDacl == nullptr) {
        return FILE_ALL_ACCESS | GENERIC_ALL;
    }
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    ACCESS_MASK rights = 0;
    for (WORD i = 0; i < pDacl->AceCount; ++i) {
        void* pAce = nullptr;
        if (!::GetAce(pDacl, i, &pAce)) {
            return FILE_ALL_ACCESS;
        }
        const ACE_HEADER* header = static_cast<ACE_HEADER*>(pAce);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
            continue;
        }
        ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(pAce);
        if (!IsTrusted(&allowed->SidStart, processAccount)) {
            ACCESS_MASK mask = allowed->Mask;
            ::MapGenericMask(&mask, &mapping);
            rights |= mask;
        }
    }
    return rights;
}

}  // namespace

DWORD FolderSecurity::Read(HANDLE hFolder, FolderSecurity& security) {
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    DWORD dwError =
        ::GetSecurityInfo(hFolder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                          nullptr, nullptr, nullptr, nullptr, &pDescriptor);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    LocalMemory descriptor(pDescriptor);
    std::vector<BYTE> user = ProcessUser();
    PSID processAccount = user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    security = Of(pDescriptor, processAccount);
    return ERROR_SUCCESS;
}

FolderSecurity FolderSecurity::Of(PSECURITY_DESCRIPTOR pDescriptor, PSID processAccount) {
    FolderSecurity security;
    PSID owner = nullptr;
    BOOL bDefaulted = FALSE;
    if (::GetSecurityDescriptorOwner(pDescriptor, &owner, &bDefaulted) && owner != nullptr) {
        security.ownerTrusted_ = IsTrusted(owner, processAccount);
        security.owner_ = SidText(owner);
    }
    BOOL bPresent = FALSE;
    PACL pDacl = nullptr;
    if (!::GetSecurityDescriptorDacl(pDescriptor, &bPresent, &pDacl, &bDefaulted)) {
        security.others_ = FILE_ALL_ACCESS;
    } else {
        security.others_ = OthersRights(bPresent ? pDacl : nullptr, processAccount);
    }
    return security;
}
