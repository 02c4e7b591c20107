// What each filter DLL gives the COM server in filtermodule.cpp: its class ID
// and its filter object, and the count of live objects for DllCanUnloadNow.
#pragma once

#include "driver/filters/filterpipeline.h"

// The DLL's one filter class, and a new object of it (null when out of memory).
extern const CLSID kFilterClassId;
IPrintPipelineFilter* CreateFilter();

// The DLL's count of live objects and server locks, for DllCanUnloadNow.
void LockModule();
void UnlockModule();
