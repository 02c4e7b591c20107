// Who printed a job, learned the way Windows allows. Microsoft's JOB_INFO_2
// page says its pSecurityDescriptor "is NULL. Retrieval and setting of
// document security descriptors is not supported", so the owner comes from,
// in this order:
//   1. the user the spooler impersonates when it starts the job on the port
//      (the token's TokenUser);
//   2. the owner of the job's security descriptor, where one is present;
//   3. the job's pUserName, when pMachineName names this computer and the
//      computer is in no domain: LookupAccountNameW of "<computer>\<user>"
//      finds the local account. In a domain a bare name may be a local and a
//      domain account at once (LookupAccountNameW searches the local
//      accounts before the domains), and a name from another machine may be
//      that machine's account, so a name alone never decides there.
// A SID counts when it names a user account, or an account that cannot be
// looked up now (a domain's while its controller is out of reach); the
// spooler's own identity and groups do not. A job record whose user name is
// not the SID's account makes the owner unknown.
#pragma once

#include <string>

#include <windows.h>

// The account that printed a job: its name, which names its folder, and its
// SID as text ("S-1-5-21-..."). Unknown when either is empty.
struct JobOwner {
    std::wstring userName;
    std::wstring sid;

    bool Known() const { return !userName.empty() && !sid.empty(); }
};

// What the spooler tells about a job's owner; empty where it tells nothing.
struct OwnerEvidence {
    std::wstring clientSid;           // the impersonated user at the job's start
    std::wstring userName;            // JOB_INFO_2 pUserName
    std::wstring machineName;         // JOB_INFO_2 pMachineName ("\\NAME")
    std::wstring descriptorOwnerSid;  // the owner of JOB_INFO_2 pSecurityDescriptor
};

// The accounts the computer knows.
class AccountDirectory {
public:
    struct Account {
        std::wstring name;
        std::wstring domain;
        std::wstring sid;
        SID_NAME_USE use = SidTypeUnknown;
    };

    virtual ~AccountDirectory() = default;
    // LookupAccountSidW, LookupAccountNameW: false when nothing is found.
    virtual bool FindSid(const std::wstring& sid, Account& account) const = 0;
    virtual bool FindName(const std::wstring& name, Account& account) const = 0;
    virtual std::wstring ComputerName() const = 0;
    // Whether the computer is a member of a domain; true when that cannot be
    // learned.
    virtual bool InDomain() const = 0;
};

// The local security authority's answers (advapi32, NetGetJoinInformation).
class SystemAccounts : public AccountDirectory {
public:
    bool FindSid(const std::wstring& sid, Account& account) const override;
    bool FindName(const std::wstring& name, Account& account) const override;
    std::wstring ComputerName() const override;
    bool InDomain() const override;
};

JobOwner ChooseJobOwner(const OwnerEvidence& evidence, const AccountDirectory& accounts);
