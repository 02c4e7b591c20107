// The line zorvaneconvert.exe and the filter host print on stderr when asked
// (ZORVANE_CONVERT_STATS, ZORVANE_FILTERHOST_STATS): "PROGRAM: T ms, peak
// working set W KiB, processor P ms". T is the time since startTicks,
// without Wine's start; P the processor time the process used (user and
// kernel), which other work on a busy machine does not stretch as it does
// T.
#pragma once

#include <windows.h>

void PrintRunStatistics(const wchar_t* program, DWORD startTicks);
