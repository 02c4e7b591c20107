// The unit tests' entry: monitor_tests <zorvanemon.dll> <queldac.dll>.
#include <cstdio>

#include "tests/monitor/monitor_test_support.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: monitor_tests <zorvanemon.dll> <queldac.dll>\n");
        return 2;
    }
    TestDlls::monitor = WindowsPath(argv[1]);
    TestDlls::library = WindowsPath(argv[2]);
    DWORD dwError = ERROR_SUCCESS;
    if (!MonitorDll::Load(TestDlls::monitor, dwError)) {
        std::fprintf(stderr, "cannot load InitializePrintMonitor2 from %s: error %lu\n", argv[1], dwError);
        return 1;
    }
    return RUN_ALL_TESTS();
}
