#include "tests/monitor/failing_allocator.h"

#include <cstdlib>
#include <new>

#include <windows.h>

namespace {

volatile LONG countdown = 0;  // allocations until the failing one; 0: none fails
volatile LONG failed = 0;

void* Allocate(std::size_t size) {
    if (countdown > 0 && ::InterlockedDecrement(&countdown) == 0) {
        failed = 1;
        throw std::bad_alloc();
    }
    void* p = std::malloc(size != 0 ? size : 1);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

}  // namespace

void FailingAllocator::FailAt(long n) {
    failed = 0;
    countdown = n;
}

void FailingAllocator::Disarm() { countdown = 0; }

bool FailingAllocator::Failed() { return failed != 0; }

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
