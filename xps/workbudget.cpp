#include "xps/workbudget.h"

#include "xps/checkedmath.h"

namespace xps {

const HRESULT kWorkExhausted = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_QUOTA);

namespace {

// About a second of the engine's work, and 128 units (a microsecond) an
// input byte: a 650 MB job may spend 83 billion, a 1 MB document a quarter
// of a billion, a few seconds.
constexpr std::uint64_t kBaseUnits = 1ull << 27;
constexpr std::uint64_t kUnitsPerByte = 128;
// The clock is read once this many units have been charged.
constexpr std::uint64_t kUnitsBetweenClocks = 1u << 12;

thread_local WorkBudget* current = nullptr;

}  // namespace

std::uint64_t WorkBudget::ForInput(std::uint64_t inputBytes) {
    return SaturatingAdd(kBaseUnits, SaturatingMultiply(inputBytes, kUnitsPerByte));
}

WorkBudget::WorkBudget(std::uint64_t units, DWORD timeLimitMs)
    : left_(units), start_(::GetTickCount()), timeLimitMs_(timeLimitMs) {}

bool WorkBudget::Charge(std::uint64_t units) {
    if (failure_.load(std::memory_order_relaxed) != S_OK) {
        return false;
    }
    std::uint64_t left = left_.load(std::memory_order_relaxed);
    do {
        if (units > left) {
            HRESULT none = S_OK;
            failure_.compare_exchange_strong(none, kWorkExhausted);
            return false;
        }
    } while (!left_.compare_exchange_weak(left, left - units, std::memory_order_relaxed));
    if (timeLimitMs_ != 0 &&
        sinceClock_.fetch_add(units, std::memory_order_relaxed) + units >= kUnitsBetweenClocks) {
        return InTime();
    }
    return true;
}

bool WorkBudget::InTime() {
    sinceClock_.store(0, std::memory_order_relaxed);
    // Unsigned difference: right across GetTickCount's wrap.
    if (timeLimitMs_ != 0 && ::GetTickCount() - start_ > timeLimitMs_) {
        HRESULT none = S_OK;
        failure_.compare_exchange_strong(none, HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    }
    return failure_.load(std::memory_order_relaxed) == S_OK;
}

WorkBudget::Scope::Scope(WorkBudget& budget) : previous_(current) { current = &budget; }

WorkBudget::Scope::~Scope() { current = previous_; }

WorkBudget* WorkBudget::Current() { return current; }

class WorkBudget::SpinLock {
public:
    explicit SpinLock(std::atomic_flag& busy) : busy_(busy) {
        while (busy_.test_and_set(std::memory_order_acquire)) {
            ::Sleep(0);
        }
    }
    ~SpinLock() { busy_.clear(std::memory_order_release); }
    SpinLock(const SpinLock&) = delete;
    SpinLock& operator=(const SpinLock&) = delete;

private:
    std::atomic_flag& busy_;
};

bool WorkBudget::FailedBefore(const std::wstring& key, HRESULT& hr) const {
    SpinLock lock(busy_);
    auto found = failures_.find(key);
    if (found == failures_.end()) {
        return false;
    }
    hr = found->second;
    return true;
}

void WorkBudget::RememberFailure(const std::wstring& key, HRESULT hr) {
    SpinLock lock(busy_);
    failures_.emplace(key, hr);
}

}  // namespace xps
