// FailingAllocator: this test program's operator new, which can be told to
// fail as the spooler's process does when memory runs out. The n-th
// allocation after FailAt(n) throws std::bad_alloc; every other allocation
// succeeds. Only code linked into the program allocates through it: the
// monitor's own code and its entry points, not a DLL.
#pragma once

class FailingAllocator {
public:
    // The n-th allocation from now on (from 1) fails.
    static void FailAt(long n);
    // No allocation fails.
    static void Disarm();
    // Whether the allocation FailAt chose has failed.
    static bool Failed();
};
