// The monitor's parts on fakes where Wine cannot show them through the DLL.
#include "monitor/printjob.h"
#include "tests/monitor/monitor_test_support.h"

namespace {

TEST(WriteLedger, AFailedWriteIsMadeGoodOnlyByTheSameBytes) {
    const std::string kFirst = "first";
    const std::string kOther = "other";
    UnreadableBuffer unreadable;
    struct Step {
        const std::string* bytes;  // null: a buffer nobody can read
        bool fails;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
        bool whole;
    } kCases[] = {
        {"no failure", {{&kFirst, false}, {&kOther, false}}, true},
        {"a failure, then its retry", {{&kFirst, true}, {&kFirst, false}, {&kOther, false}}, true},
        {"a retry that fails again, then succeeds",
         {{&kFirst, true}, {&kFirst, true}, {&kFirst, false}},
         true},
        {"a failure, then other bytes", {{&kFirst, true}, {&kOther, false}}, false},
        {"a failure of other bytes after a failure",
         {{&kFirst, true}, {&kOther, true}, {&kOther, false}},
         false},
        {"an unreadable failure, then anything", {{nullptr, true}, {&kFirst, false}}, false},
        {"a failure last", {{&kFirst, false}, {&kOther, true}}, false},
    };
    for (const auto& c : kCases) {
        WriteLedger ledger;
        for (const Step& step : c.steps) {
            const BYTE* pData =
                step.bytes ? reinterpret_cast<const BYTE*>(step.bytes->data()) : unreadable.Get();
            DWORD cbData = step.bytes ? static_cast<DWORD>(step.bytes->size()) : UnreadableBuffer::kSize;
            step.fails ? ledger.Failed(pData, cbData, ERROR_DISK_FULL) : ledger.Written(pData, cbData);
        }
        EXPECT_EQ(ledger.Missing(), c.whole ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_DISK_FULL)) << c.name;
    }
}

}  // namespace
