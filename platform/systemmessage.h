// SystemMessage: the system's own text for an error code or HRESULT, as
// FormatMessage gives it in the user's language, without the line end it
// comes with; empty when the system has none. The monitor's event entries
// and the engine's failure descriptions both quote it.
#pragma once

#include <string>

#include <windows.h>

std::wstring SystemMessage(DWORD code);
