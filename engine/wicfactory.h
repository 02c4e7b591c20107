// WIC, Windows' imaging codecs, for the engine's image decoding and JPEG
// writing: COM entered for a call, and the factory made from
// windowscodecs.dll in the system directory (Windows XP has WIC only with a
// later update).
#pragma once

#include <windows.h>

#include <wincodec.h>
#include <wrl/client.h>

namespace engine {

// COM on the calling thread for one call: entered as a multithreaded
// apartment and left again only when this entry succeeded.
class ComScope {
public:
    ComScope() = default;
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    ~ComScope();
    HRESULT Enter();

private:
    void(WINAPI* uninitialize_)() = nullptr;
};

// The factory straight from windowscodecs.dll's class object, so that the
// DLL comes from the system directory and not from the registry's path.
HRESULT CreateImagingFactory(Microsoft::WRL::ComPtr<IWICImagingFactory>& factory);

// A stream on growing memory (ole32's CreateStreamOnHGlobal).
HRESULT CreateMemoryStream(Microsoft::WRL::ComPtr<IStream>& stream);

}  // namespace engine
