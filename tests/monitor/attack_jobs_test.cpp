// Jobs printed through the monitor's entry points while a hostile local user
// works on the output tree from outside (tests/monitor/link-attacks sets up
// the attacks and checks that the files they aim at stay unchanged):
//   monitor_attack_tests <zorvanemon.dll> <output folder> <jobs> all-fail|elsewhere|complete-or-failed
// Every job must end either reported failed or complete, and each complete
// job's bytes must be in exactly one file of its owner's folder. With
// all-fail, every job must be refused; with elsewhere, the output folder is
// refused and every job must print into the default root.
#include <cstdio>
#include <cstdlib>
#include <map>

#include "tests/monitor/monitor_test_support.h"

namespace {

enum class Expected { AllFail, Elsewhere, CompleteOrFailed };

struct Arguments {
    std::wstring root;
    int jobs = 0;
    Expected expected = Expected::CompleteOrFailed;
} arguments;

// Each job's bytes are its own, so that a file tells which job it holds.
std::string JobBytes(int job) { return "job " + std::to_string(job) + " " + std::string(3000 + job, 'x'); }

// One job in two writes, with a pause between them that leaves the attacker
// time to act on the job's file. True when every call succeeded.
bool PrintOneJob(const Monitor& monitor, int job) {
    const MONITOR2& functions = monitor.Functions();
    HANDLE hPort = nullptr;
    if (!functions.pfnOpenPort(monitor.Handle(), const_cast<wchar_t*>(L"AttackPort"), &hPort)) {
        ADD_FAILURE() << "OpenPort: " << ::GetLastError();
        return false;
    }
    std::string bytes = JobBytes(job);
    size_t half = bytes.size() / 2;
    DWORD cbWritten = 0;
    bool ok = functions.pfnStartDocPort(hPort, nullptr, 0, 0, nullptr) ||
              (std::printf("job %d not started: error %lu\n", job, ::GetLastError()), false);
    ok = ok && functions.pfnWritePort(hPort, reinterpret_cast<BYTE*>(&bytes[0]), static_cast<DWORD>(half),
                                      &cbWritten);
    if (ok) {
        ::Sleep(10);
        ok = functions.pfnWritePort(hPort, reinterpret_cast<BYTE*>(&bytes[half]),
                                    static_cast<DWORD>(bytes.size() - half), &cbWritten);
        ok = functions.pfnEndDocPort(hPort) && ok;
    }
    EXPECT_TRUE(functions.pfnClosePort(hPort));
    return ok;
}

TEST(JobsUnderAttack, EveryJobIsCompleteOrReportedFailed) {
    FakeMonitorRegistry fake;
    Monitor monitor(fake.MonitorInit());
    ASSERT_TRUE(monitor.Initialized());
    ASSERT_EQ(monitor.AddPort(L"AttackPort"), static_cast<DWORD>(ERROR_SUCCESS));
    fake.SetString(L"Ports\\AttackPort", L"OutputFolder", arguments.root);

    std::vector<int> complete;
    for (int job = 1; job <= arguments.jobs; ++job) {
        if (PrintOneJob(monitor, job)) {
            complete.push_back(job);
        }
    }
    std::printf("%zu of %d jobs complete, the others reported failed\n", complete.size(), arguments.jobs);
    if (arguments.expected != Expected::CompleteOrFailed) {
        EXPECT_EQ(complete.size(), arguments.expected == Expected::AllFail ? 0u : size_t(arguments.jobs));
        return;
    }
    std::wstring owner = arguments.root + L"\\[unknown owner]";
    std::map<std::string, int> filesWithBytes;
    for (const std::wstring& name : TempFolder::FileNamesIn(owner)) {
        ++filesWithBytes[ReadBytes(owner + L"\\" + name)];
    }
    for (int job : complete) {
        EXPECT_EQ(filesWithBytes[JobBytes(job)], 1) << "complete job " << job;
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 5) {
        std::fprintf(stderr,
                     "usage: monitor_attack_tests <zorvanemon.dll> <root> <jobs> "
                     "all-fail|elsewhere|complete-or-failed\n");
        return 2;
    }
    DWORD dwError = ERROR_SUCCESS;
    if (!MonitorDll::Load(WindowsPath(argv[1]), dwError)) {
        std::fprintf(stderr, "cannot load InitializePrintMonitor2 from %s: error %lu\n", argv[1], dwError);
        return 1;
    }
    arguments.root = WindowsPath(argv[2]);
    arguments.jobs = std::atoi(argv[3]);
    std::string expected = argv[4];
    arguments.expected = expected == "all-fail"    ? Expected::AllFail
                         : expected == "elsewhere" ? Expected::Elsewhere
                                                   : Expected::CompleteOrFailed;
    return RUN_ALL_TESTS();
}
