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

HRESULT Convert(const void* xps, std::size_t size, const QueldacJob& job) {
    engine::ConvertOptions options;
    if (xps == nullptr || job.write == nullptr) {
        return E_POINTER;
    }
    if (job.cbSize < sizeof(QueldacJob) || !engine::OutputFormatNamed(job.format, options.format) ||
        (job.dpi != 0 && (job.dpi < engine::kMinDpi || job.dpi > engine::kMaxDpi)) || job.jpegQuality > 100) {
        return E_INVALIDARG;
    }
    if (size > kQueldacMaxInput) {
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    options.title = job.title != nullptr ? job.title : L"";
    options.author = job.author != nullptr ? job.author : L"";
    options.timeLimitMs = kQueldacTimeLimitMs;
    options.dpi = job.dpi != 0 ? job.dpi : options.dpi;
    options.jpegQuality = job.jpegQuality != 0 ? job.jpegQuality : options.jpegQuality;
    options.transparent = job.transparent != FALSE;
    if (job.beginFile != nullptr) {
        options.beginFile = [&job](unsigned page) { return job.beginFile(job.context, page); };
    }
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
        return job.write(job.context, bytes, count);
    });
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI
    QueldacConvert(const void* xps, size_t size, const QueldacJob* job) {
    // Nothing the engine throws leaves the library.
    try {
        return job != nullptr ? Convert(xps, size, *job) : E_POINTER;
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
