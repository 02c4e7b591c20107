#include "engine/gdiplusapi.h"

#include "platform/systemlibrary.h"

namespace engine {

namespace {

struct Started {
    HRESULT result = E_FAIL;
    GdiPlusApi api;
};

SystemLibrary gdiplusLibrary{L"gdiplus.dll"};

HRESULT LastErrorResult() {
    DWORD dwError = ::GetLastError();
    return dwError != ERROR_SUCCESS ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
}

Started Start() {
    Started started;
    auto startup =
        gdiplusLibrary.Bind<std::remove_pointer<decltype(&Gdiplus::GdiplusStartup)>::type>("GdiplusStartup");
    if (startup == nullptr) {
        started.result = LastErrorResult();
        return started;
    }
#define ZORVANE_GDIPLUS_BIND(name)                                                                        \
    started.api.name = gdiplusLibrary.Bind<std::remove_pointer<decltype(started.api.name)>::type>(#name); \
    if (started.api.name == nullptr) {                                                                    \
        started.result = LastErrorResult();                                                               \
        return started;                                                                                   \
    }
    ZORVANE_GDIPLUS_FUNCTIONS(ZORVANE_GDIPLUS_BIND)
#undef ZORVANE_GDIPLUS_BIND
    Gdiplus::GdiplusStartupInput input;
    // No image codecs are used: none from outside Windows either.
    input.SuppressExternalCodecs = TRUE;
    ULONG_PTR token = 0;
    started.result = GdiPlusResult(startup(&token, &input, nullptr));
    return started;
}

// A function's static is made once, by the first thread to get here.
const Started& Once() {
    static const Started started = Start();
    return started;
}

}  // namespace

HRESULT StartGdiPlus(const GdiPlusApi*& api) {
    api = &Once().api;
    return Once().result;
}

HRESULT GdiPlusResult(Gdiplus::GpStatus status) {
    switch (status) {
        case Gdiplus::Ok:
            return S_OK;
        case Gdiplus::OutOfMemory:
            return E_OUTOFMEMORY;
        case Gdiplus::InvalidParameter:
            return E_INVALIDARG;
        default:
            return kGdiPlusFailed + static_cast<HRESULT>(status);
    }
}

void GdiPlusDelete::operator()(Gdiplus::GpGraphics* graphics) const {
    Once().api.GdipDeleteGraphics(graphics);
}
void GdiPlusDelete::operator()(Gdiplus::GpImage* image) const { Once().api.GdipDisposeImage(image); }
void GdiPlusDelete::operator()(Gdiplus::GpPath* path) const { Once().api.GdipDeletePath(path); }
void GdiPlusDelete::operator()(Gdiplus::GpBrush* brush) const { Once().api.GdipDeleteBrush(brush); }
void GdiPlusDelete::operator()(Gdiplus::GpPen* pen) const { Once().api.GdipDeletePen(pen); }
void GdiPlusDelete::operator()(Gdiplus::GpMatrix* matrix) const { Once().api.GdipDeleteMatrix(matrix); }
void GdiPlusDelete::operator()(Gdiplus::GpRegion* region) const { Once().api.GdipDeleteRegion(region); }

}  // namespace engine
