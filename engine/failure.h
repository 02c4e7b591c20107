// DescribeFailure: why a conversion failed, in a few words for a user or an
// administrator ("the package is damaged (0x80070570)"), with the system's
// text for a failure the engine does not name itself. A library of its own,
// so that the output filter names the engine's failures without the engine.
#pragma once

#include <string>

#include <windows.h>

namespace engine {

std::wstring DescribeFailure(HRESULT hr);

}  // namespace engine
