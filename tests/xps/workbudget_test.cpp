// The one way a document's numbers become sizes and pixels, and the work
// budget that bounds a job: saturation at the type's end, a clamp defined
// for NaN and infinities, charges that stop once spent or out of time, and
// failures remembered for the rest of the job.
#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "xps/checkedmath.h"
#include "xps/workbudget.h"

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

TEST(CheckedMath, ProductsAndSumsSaturate) {
    const struct {
        std::uint64_t a, b, product, sum;
    } cases[] = {
        {3, 4, 12, 7},
        {0, kMax, 0, kMax},
        {1ull << 32, 1ull << 32, kMax, (1ull << 33)},
        {kMax, 1, kMax, kMax},
        {kMax / 2 + 1, 2, kMax, kMax / 2 + 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.product, xps::SaturatingMultiply(c.a, c.b)) << c.a << " * " << c.b;
        EXPECT_EQ(c.sum, xps::SaturatingAdd(c.a, c.b)) << c.a << " + " << c.b;
    }
}

TEST(CheckedMath, DoublesBecomeIntegersWithinTheirRange) {
    const struct {
        double value;
        int clamped;
    } cases[] = {
        {2.7, 2},       {-2.7, -2},         {1e300, 1000},      {-1e300, -1000},
        {kInfinity, 1000}, {-kInfinity, -1000}, {std::nan(""), -1000}, {1000, 1000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.clamped, xps::Clamped<int>(c.value, -1000, 1000)) << c.value;
    }
    EXPECT_EQ(-xps::kFarPixel, xps::PixelOf(std::nan("")));
    EXPECT_EQ(xps::kFarPixel, xps::PixelOf(4e9)) << "past an int's range";
}

TEST(WorkBudget, ChargesStopOnceSpentAndStayStopped) {
    xps::WorkBudget budget(100, 0);
    xps::WorkBudget::Scope scope(budget);
    EXPECT_TRUE(xps::ChargeWork(60));
    EXPECT_TRUE(xps::ChargeWork(40));
    EXPECT_FALSE(xps::ChargeWork(1));
    EXPECT_EQ(xps::kWorkExhausted, budget.Failure());
    EXPECT_FALSE(xps::ChargeWork(0)) << "spent stays spent";
    EXPECT_FALSE(budget.InTime());
}

TEST(WorkBudget, BindsOnlyWhileItsScopeLasts) {
    xps::WorkBudget outer(10, 0), inner(1000, 0);
    {
        xps::WorkBudget::Scope outerScope(outer);
        {
            xps::WorkBudget::Scope innerScope(inner);
            EXPECT_TRUE(xps::ChargeWork(500));
        }
        EXPECT_EQ(&outer, xps::WorkBudget::Current());
        EXPECT_FALSE(xps::ChargeWork(500));
    }
    EXPECT_EQ(nullptr, xps::WorkBudget::Current());
    EXPECT_TRUE(xps::ChargeWork(kMax)) << "outside a job nothing is charged";
    EXPECT_EQ(S_OK, inner.Failure());
}

TEST(WorkBudget, TheTimeLimitHoldsOnCharges) {
    xps::WorkBudget budget(kMax, 1);
    xps::WorkBudget::Scope scope(budget);
    ::Sleep(50);
    bool charged = true;
    for (int i = 0; i < 1 << 16 && charged; ++i) {
        charged = xps::ChargeWork(1);
    }
    EXPECT_FALSE(charged);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT), budget.Failure());
}

TEST(WorkBudget, BudgetsGrowWithTheInput) {
    EXPECT_LT(xps::WorkBudget::ForInput(1 << 20), xps::WorkBudget::ForInput(650ull << 20));
    EXPECT_EQ(kMax, xps::WorkBudget::ForInput(kMax)) << "saturates";
}

TEST(WorkBudget, AFailureIsRememberedForTheJob) {
    int runs = 0;
    auto failing = [&] {
        ++runs;
        return E_FAIL;
    };
    EXPECT_EQ(E_FAIL, xps::UnlessFailedBefore(L"decode /a.png", failing));
    EXPECT_EQ(E_FAIL, xps::UnlessFailedBefore(L"decode /a.png", failing));
    EXPECT_EQ(2, runs) << "outside a job every call runs";
    xps::WorkBudget budget(100, 0);
    xps::WorkBudget::Scope scope(budget);
    EXPECT_EQ(E_FAIL, xps::UnlessFailedBefore(L"decode /a.png", failing));
    EXPECT_EQ(E_FAIL, xps::UnlessFailedBefore(L"decode /a.png", failing));
    EXPECT_EQ(3, runs) << "within a job a failure runs once";
    EXPECT_EQ(S_OK, xps::UnlessFailedBefore(L"decode /b.png", [&] {
                  ++runs;
                  return S_OK;
              }));
    EXPECT_EQ(4, runs);
}

}  // namespace
