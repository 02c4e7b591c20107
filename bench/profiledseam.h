// A profile of the platform seam: every sys:: call is counted and timed on
// its way to an inner binding, either the real system or the simulated
// machine. The inner binding is the project's own source compiled with its
// namespace renamed (see bench/CMakeLists.txt), so the installer's objects
// link unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct CallStats {
    std::string name;
    std::uint64_t count = 0;
    double ms = 0;  // wall time inside the call, nested calls included
};

struct SeamProfile {
    std::vector<CallStats> calls;  // the calls made, in order of first use
    double platformMs = 0;         // inside the outermost calls, Sleep included
    double sleepMs = 0;            // inside Sleep
    std::uint64_t sleepRequestedMs = 0;
    // The log's own calls, told apart by their arguments and order: the log
    // path made absolute and its folders checked, the open for appending and
    // what follows on that handle until it is closed, the time stamp, the
    // error texts.
    std::uint64_t logCalls = 0;
    double logMs = 0;

    std::uint64_t CallCount() const;
    const CallStats* Find(const std::string& name) const;
};

void ResetSeamProfile();
SeamProfile TakeSeamProfile();

// Wall clock for the benchmarks themselves.
double NowMs();

}  // namespace bench
