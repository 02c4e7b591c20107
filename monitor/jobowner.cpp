#include "monitor/jobowner.h"

#include <cwchar>
#include <vector>

#include <lm.h>
#include <sddl.h>

#include "monitor/samename.h"
#include "platform/handles.h"
#include "platform/systemlibrary.h"

namespace {

// "name" of "DOMAIN\name".
std::wstring BareName(const std::wstring& name) { return name.substr(name.find_last_of(L'\\') + 1); }

// The owner a SID gives: false when there is no SID, or it names no user.
bool OwnerOfSid(const std::wstring& sid, const OwnerEvidence& evidence, const AccountDirectory& accounts,
                JobOwner& owner) {
    AccountDirectory::Account account;
    bool found = !sid.empty() && accounts.FindSid(sid, account);
    if (sid.empty() || (found && account.use != SidTypeUser)) {
        return false;
    }
    bool agrees = !found || evidence.userName.empty() || SameName(BareName(evidence.userName), account.name);
    owner.sid = sid;
    owner.userName = !agrees ? std::wstring() : found ? account.name : evidence.userName;
    return true;
}

bool OwnerOfLocalName(const OwnerEvidence& evidence, const AccountDirectory& accounts, JobOwner& owner) {
    std::wstring computer = accounts.ComputerName();
    size_t nameStart = evidence.machineName.find_first_not_of(L'\\');
    std::wstring machine =
        nameStart == std::wstring::npos ? std::wstring() : evidence.machineName.substr(nameStart);
    AccountDirectory::Account account;
    if (evidence.userName.empty() || evidence.userName.find(L'\\') != std::wstring::npos ||
        computer.empty() || !SameName(machine, computer) || accounts.InDomain() ||
        !accounts.FindName(computer + L"\\" + evidence.userName, account) || account.use != SidTypeUser ||
        !SameName(account.domain, computer)) {
        return false;
    }
    owner.userName = account.name;
    owner.sid = account.sid;
    return true;
}

std::wstring SidText(PSID pSid) {
    wchar_t* pText = nullptr;
    if (!::ConvertSidToStringSidW(pSid, &pText)) {
        return std::wstring();
    }
    LocalText text(pText);
    return text.Get();
}

}  // namespace

bool SystemAccounts::FindSid(const std::wstring& sid, Account& account) const {
    PSID pSid = nullptr;
    if (!::ConvertStringSidToSidW(sid.c_str(), &pSid)) {
        return false;
    }
    LocalMemory sidMemory(pSid);
    DWORD cchName = 0;
    DWORD cchDomain = 0;
    ::LookupAccountSidW(nullptr, pSid, nullptr, &cchName, nullptr, &cchDomain, &account.use);
    std::vector<wchar_t> name(cchName + 1);
    std::vector<wchar_t> domain(cchDomain + 1);
    if (cchName == 0 ||
        !::LookupAccountSidW(nullptr, pSid, name.data(), &cchName, domain.data(), &cchDomain, &account.use)) {
        return false;
    }
    account.name = name.data();
    account.domain = domain.data();
    account.sid = sid;
    return true;
}

bool SystemAccounts::FindName(const std::wstring& name, Account& account) const {
    DWORD cbSid = 0;
    DWORD cchDomain = 0;
    ::LookupAccountNameW(nullptr, name.c_str(), nullptr, &cbSid, nullptr, &cchDomain, &account.use);
    std::vector<BYTE> sid(cbSid);
    std::vector<wchar_t> domain(cchDomain + 1);
    if (cbSid == 0 || !::LookupAccountNameW(nullptr, name.c_str(), sid.data(), &cbSid, domain.data(),
                                            &cchDomain, &account.use)) {
        return false;
    }
    account.name = BareName(name);
    account.domain = domain.data();
    account.sid = SidText(sid.data());
    return !account.sid.empty();
}

std::wstring SystemAccounts::ComputerName() const {
    wchar_t pName[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD cchName = MAX_COMPUTERNAME_LENGTH + 1;
    return ::GetComputerNameW(pName, &cchName) ? std::wstring(pName, cchName) : std::wstring();
}

bool SystemAccounts::InDomain() const {
    // Loaded when needed: the spooler need not load netapi32 for the monitor.
    static SystemLibrary netapi32{L"netapi32.dll"};
    auto getJoinInformation = netapi32.Bind<decltype(::NetGetJoinInformation)>("NetGetJoinInformation");
    auto freeBuffer = netapi32.Bind<decltype(::NetApiBufferFree)>("NetApiBufferFree");
    LPWSTR pName = nullptr;
    NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
    if (getJoinInformation == nullptr || freeBuffer == nullptr ||
        getJoinInformation(nullptr, &pName, &status) != NERR_Success) {
        return true;
    }
    freeBuffer(pName);
    return status != NetSetupUnjoined && status != NetSetupWorkgroupName;
}

JobOwner ChooseJobOwner(const OwnerEvidence& evidence, const AccountDirectory& accounts) {
    JobOwner owner;
    if (OwnerOfSid(evidence.clientSid, evidence, accounts, owner) ||
        OwnerOfSid(evidence.descriptorOwnerSid, evidence, accounts, owner) ||
        OwnerOfLocalName(evidence, accounts, owner)) {
        return owner;
    }
    return JobOwner();
}
