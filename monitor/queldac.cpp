// queldac.dll: the product library, the conversion engine behind a C
// interface (engine/queldacapi.h). A stand-alone installation copies it into
// the system directory, where the output filter loads it by full path; a
// bundled installation has none, and its jobs stay XPS.
#include <memory>
#include <new>

#include <windows.h>

#include "engine/converter.h"
#include "engine/queldacapi.h"

namespace {

HRESULT Convert(const void* xps, std::size_t size, const wchar_t* format, const wchar_t* title,
                const wchar_t* author, QueldacWriteFunction write, void* context) {
    engine::ConvertOptions options;
    if (xps == nullptr || write == nullptr) {
        return E_POINTER;
    }
    if (!engine::OutputFormatNamed(format, options.format)) {
        return E_INVALIDARG;
    }
    if (size > kQueldacMaxInput) {
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    options.title = title != nullptr ? title : L"";
    options.author = author != nullptr ? author : L"";
    options.timeLimitMs = kQueldacTimeLimitMs;
    xps::XpsPackage package;
    // The caller's bytes, read in place: a job is not copied.
    HRESULT hr = package.Open(std::unique_ptr<xps::ByteSource>(new xps::BorrowedSource(xps, size)));
    if (FAILED(hr)) {
        return hr;
    }
    unsigned long long written = 0;
    return engine::Convert(package, options, [&](const void* bytes, std::size_t count) -> HRESULT {
        if (count > kQueldacMaxOutput - written) {
            return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
        }
        written += count;
        return write(context, bytes, count);
    });
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI
    QueldacConvert(const void* xps, size_t size, const wchar_t* format, const wchar_t* title,
                   const wchar_t* author, QueldacWriteFunction write, void* context) {
    // Nothing the engine throws leaves the library.
    try {
        return Convert(xps, size, format, title, author, write, context);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved) {
    (void)pReserved;
    if (dwReason == DLL_PROCESS_ATTACH) {
        ::DisableThreadLibraryCalls(hInstance);
    }
    return TRUE;
}
