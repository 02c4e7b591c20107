// Shared by the simulated machine's bindings of the seam, one file per
// system DLL. Every call is recorded with its arguments and may be made to
// fail through the machine's fault table; a call the machine does not model
// fails the test loudly.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/sim/simulated_machine.h"

namespace sim {

inline SimulatedMachine& M() { return SimulatedMachine::Current(); }

// Records the call; true when an injected fault answers it (last-error set).
inline bool Enter(const char* name, std::vector<std::wstring> args) {
    M().Record(name, std::move(args), true);
    return M().TakeFault(name);
}

template <typename Result>
Result Unmodeled(const char* name, Result failure) {
    M().Record(name, {});
    ADD_FAILURE() << "the simulated machine does not model " << name;
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return failure;
}

// A file operation outside the machine's root (a path that would reach the
// host's disk): refused with ERROR_ACCESS_DENIED, and the test fails. An
// empty path names no file and is left to the call.
inline bool OutsideRoot(const char* call, const wchar_t* path) {
    if (path == nullptr || *path == L'\0' || M().Holds(path)) {
        return false;
    }
    ADD_FAILURE() << call << " outside the simulated machine's root: " << std::wstring(path);
    ::SetLastError(ERROR_ACCESS_DENIED);
    return true;
}

// Answers a call with a failure and its last-error value.
template <typename Result>
Result Fails(DWORD error, Result failure) {
    ::SetLastError(error);
    return failure;
}

}  // namespace sim
