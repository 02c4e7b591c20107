// The hand-over: on 64-bit Windows the 32-bit setup.exe cannot do the work
// (the 64-bit spooler loads only 64-bit monitors and serves only "Windows
// x64" drivers), so it runs the 64-bit setup.exe from its x64 folder with the
// same arguments and standard handles and ends with its exit code.
#pragma once

#include <string>

enum class HandOver {
    RunHere,         // 32-bit Windows (or the 64-bit build): this process does the run
    ChildSucceeded,  // the 64-bit setup ran and succeeded; it wrote the log and the result line
    ChildFailed,     // the 64-bit setup ran and failed; likewise
    NotRun,          // refused, not started, ended unfinished or its end unknown: the line is still due
};

// Decides where the run belongs and, on 64-bit Windows, hands it over and
// waits. Never falls back to the 32-bit path on 64-bit Windows.
HandOver HandOverTo64BitSetup(const std::wstring& logPath);

// The arguments of a command line exactly as given: what follows the program
// name, as the C runtime ends it (a quoted name at its closing quote, any
// other at the first space or tab).
std::wstring CommandLineArguments(const wchar_t* commandLine);
