// WorkBudget: what one conversion may spend, charged inside pages by every
// loop whose count a document chooses (tiles, table records, attributes,
// glyph components, resource look-ups), so that a small hostile document
// ends in seconds however its numbers multiply. The budget is a base plus a
// share of every input byte: a legitimate job's work grows with its size,
// a hostile one's with what it asks. The job's time limit is looked at on
// the same charges, so it holds within a page too.
//
// The budget also remembers what failed: a part (an image, a font) that
// failed once fails the same way for the rest of the job without being
// read or decoded again.
//
// A budget serves the threads that bind it (Scope): the conversion's own
// and its read-ahead. Once spent or out of time it stays so, every later
// charge fails, and the loops that charge stop; the job then fails with
// Failure() where it next looks. Code run outside any job (tests, the
// filters) charges nothing and is never stopped.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include <windows.h>

namespace xps {

// The job asked for more work than its size allows.
extern const HRESULT kWorkExhausted;

// What a step costs, in units of about ten nanoseconds of the engine's work
// on this generation of machines: a look-up among a document's own items (an
// attribute, a table record, a glyph component, a dictionary), a byte of a
// part read, an element a writer draws, a tile, an element the rasteriser
// draws, pixels of a picture.
constexpr std::uint64_t kLookUpCost = 1;
constexpr std::uint64_t kByteCost = 1;  // a byte of a part inflated, to be parsed
constexpr std::uint64_t kElementCost = 100;
constexpr std::uint64_t kPointCost = 10;    // a point of a path a writer makes up (a gradient's bands)
constexpr std::uint64_t kGroupCost = 1000;  // an element drawn by itself first: opacity, a mask
constexpr std::uint64_t kTileCost = 1000;
// GDI records each element and tile of a metafile with its state and clip.
constexpr std::uint64_t kMetafileFactor = 10;
constexpr std::uint64_t kRasterElementCost = 1000;
// Pixels of a picture (at 300 dpi), a layer or an image: filled, blended
// and encoded many at a time.
constexpr std::uint64_t kPixelsPerUnit = 16;
constexpr std::uint64_t PixelsCost(std::uint64_t pixels) { return pixels / kPixelsPerUnit + 1; }

class WorkBudget {
public:
    // Units for a document of inputBytes: a base that any real page fits
    // in many times over, and a share per byte.
    static std::uint64_t ForInput(std::uint64_t inputBytes);

    // timeLimitMs: 0 for none.
    WorkBudget(std::uint64_t units, DWORD timeLimitMs);
    WorkBudget(const WorkBudget&) = delete;
    WorkBudget& operator=(const WorkBudget&) = delete;

    // S_OK while there is budget and time left; kWorkExhausted, or
    // HRESULT_FROM_WIN32(ERROR_TIMEOUT), from then on.
    HRESULT Failure() const { return failure_.load(std::memory_order_relaxed); }

    bool Charge(std::uint64_t units);
    // Looks at the clock now; false once the budget is spent or out of time.
    bool InTime();

    // The budget the calling thread charges, until the scope ends.
    class Scope {
    public:
        explicit Scope(WorkBudget& budget);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        WorkBudget* previous_;
    };

    // The calling thread's budget, or null outside a job.
    static WorkBudget* Current();

    // What key (a kind of work and its part) failed with earlier in the job.
    bool FailedBefore(const std::wstring& key, HRESULT& hr) const;
    void RememberFailure(const std::wstring& key, HRESULT hr);

private:
    // Guards failures_: held for a look-up or an insertion only.
    class SpinLock;
    mutable std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
    std::map<std::wstring, HRESULT> failures_;

    std::atomic<std::uint64_t> left_;
    std::atomic<HRESULT> failure_{S_OK};
    std::atomic<std::uint64_t> sinceClock_{0};
    DWORD start_;
    DWORD timeLimitMs_;
};

// Charges the calling thread's job; false once it is spent or out of time.
// Outside a job, true.
inline bool ChargeWork(std::uint64_t units) {
    WorkBudget* budget = WorkBudget::Current();
    return budget == nullptr || budget->Charge(units);
}

// work() once per key in a job: a key that failed before answers that
// failure without running work again. Outside a job, work() every time.
template <typename Work>
HRESULT UnlessFailedBefore(const std::wstring& key, Work work) {
    WorkBudget* budget = WorkBudget::Current();
    HRESULT hr = S_OK;
    if (budget != nullptr && budget->FailedBefore(key, hr)) {
        return hr;
    }
    hr = work();
    if (budget != nullptr && FAILED(hr)) {
        budget->RememberFailure(key, hr);
    }
    return hr;
}

}  // namespace xps
