// Who owns a job, from what the spooler tells, against a table of accounts
// (Wine tells nothing: it passes job id 0 and impersonates nobody).
#include "monitor/jobowner.h"
#include "tests/monitor/monitor_test_support.h"

namespace {

const wchar_t kAlice[] = L"S-1-5-21-1-2-3-1001";      // PC's user alice
const wchar_t kCorpAlice[] = L"S-1-5-21-7-8-9-1105";  // CORP's user alice
const wchar_t kUnreachable[] =
    L"S-1-5-21-4-5-6-1000";  // a domain's user while its controller is out of reach
const wchar_t kSystem[] = L"S-1-5-18";
const wchar_t kElise[] = L"S-1-5-21-1-2-3-1002";  // PC's user élise

using Account = AccountDirectory::Account;
const Account kAccounts[] = {{L"alice", L"PC", kAlice, SidTypeUser},
                             {L"alice", L"CORP", kCorpAlice, SidTypeUser},
                             {L"\u00e9lise", L"PC", kElise, SidTypeUser},
                             {L"SYSTEM", L"NT AUTHORITY", kSystem, SidTypeWellKnownGroup},
                             {L"Administrators", L"PC", L"S-1-5-32-544", SidTypeAlias}};

// The computer PC; an account is found by its SID or by "DOMAIN\name".
class FakeAccounts : public AccountDirectory {
public:
    explicit FakeAccounts(bool inDomain) : inDomain_(inDomain) {}
    bool FindSid(const std::wstring& sid, Account& account) const override { return Find(sid, account); }
    bool FindName(const std::wstring& name, Account& account) const override { return Find(name, account); }
    std::wstring ComputerName() const override { return L"PC"; }
    bool InDomain() const override { return inDomain_; }

private:
    static bool Find(const std::wstring& key, Account& account) {
        for (const Account& candidate : kAccounts) {
            if (candidate.sid == key || candidate.domain + L"\\" + candidate.name == key) {
                account = candidate;
                return true;
            }
        }
        return false;
    }
    bool inDomain_;
};

TEST(JobOwner, EachSourceInItsOrder) {
    const struct {
        const char* name;
        OwnerEvidence evidence;  // impersonated user, pUserName, pMachineName, descriptor's owner
        bool inDomain;
        JobOwner owner;
    } kCases[] = {
        {"the impersonated user", {kAlice, L"alice", L"\\\\PC", L""}, true, {L"alice", kAlice}},
        {"a domain's user of a local name",
         {kCorpAlice, L"alice", L"\\\\PC", L""},
         true,
         {L"alice", kCorpAlice}},
        {"no job record", {kAlice, L"", L"", L""}, true, {L"alice", kAlice}},
        {"a user no lookup finds now", {kUnreachable, L"bob", L"\\\\PC", L""}, true, {L"bob", kUnreachable}},
        {"the spooler, then the descriptor",
         {kSystem, L"alice", L"\\\\PC", kCorpAlice},
         true,
         {L"alice", kCorpAlice}},
        {"a job record whose name differs only in case beyond ASCII",
         {kElise, L"\u00c9LISE", L"\\\\PC", L""},
         false,
         {L"\u00e9lise", kElise}},
        {"a job record of another user", {kAlice, L"bob", L"\\\\PC", L""}, false, {}},
        {"a local name in a workgroup", {L"", L"alice", L"\\\\PC", L""}, false, {L"alice", kAlice}},
        {"a name in a domain", {L"", L"alice", L"\\\\PC", L""}, true, {}},
        {"a name from another computer", {L"", L"alice", L"\\\\OTHER", L""}, false, {}},
        {"a group's name", {L"", L"Administrators", L"\\\\PC", L""}, false, {}},
        {"a name no account has", {L"", L"carol", L"\\\\PC", L""}, false, {}},
        {"nothing told", {}, false, {}},
    };
    for (const auto& c : kCases) {
        JobOwner owner = ChooseJobOwner(c.evidence, FakeAccounts(c.inDomain));
        EXPECT_EQ(Narrow(owner.Known() ? owner.userName + L" " + owner.sid : L"unknown"),
                  Narrow(c.owner.Known() ? c.owner.userName + L" " + c.owner.sid : L"unknown"))
            << c.name;
    }
}

}  // namespace
