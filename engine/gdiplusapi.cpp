#include "engine/gdiplusapi.h"

#include "engine/gdiplusmanifest.h"
#include "platform/systemlibrary.h"

namespace engine {

namespace {

struct Started {
    HRESULT result = E_FAIL;
    GdiPlusApi api;
};

HRESULT LastErrorResult() {
    DWORD dwError = ::GetLastError();
    return dwError != ERROR_SUCCESS ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
}

// Whether a loaded module's file lies in the Windows directory.
bool InWindowsDirectory(HMODULE module) {
    wchar_t pWindows[MAX_PATH], pModule[MAX_PATH];
    UINT cchWindows = ::GetWindowsDirectoryW(pWindows, MAX_PATH);
    DWORD cchModule = ::GetModuleFileNameW(module, pModule, MAX_PATH);
    return cchWindows > 0 && cchWindows < MAX_PATH - 1 && cchModule > cchWindows && cchModule < MAX_PATH &&
           ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, pWindows, static_cast<int>(cchWindows),
                            pModule, static_cast<int>(cchWindows)) == CSTR_EQUAL &&
           (pModule[cchWindows] == L'\\' || pWindows[cchWindows - 1] == L'\\');
}

// GDI+ as Windows XP keeps it: only the side-by-side assembly
// Microsoft.Windows.GdiPlus, which a load by name finds within an activation
// context made from this module's manifest. A module from outside the
// Windows directory (the assembly missing, the name found elsewhere) is
// let go again.
HMODULE LoadSideBySide() {
    HMODULE self = nullptr;
    wchar_t pSelf[MAX_PATH];
    if (!::GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&LoadSideBySide), &self)) {
        return nullptr;
    }
    DWORD cchSelf = ::GetModuleFileNameW(self, pSelf, MAX_PATH);
    if (cchSelf == 0 || cchSelf >= MAX_PATH) {
        return nullptr;
    }
    ACTCTXW context = {};
    context.cbSize = sizeof(context);
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID | ACTCTX_FLAG_HMODULE_VALID;
    context.lpSource = pSelf;
    context.hModule = self;
    context.lpResourceName = MAKEINTRESOURCEW(ZORVANE_GDIPLUS_MANIFEST_ID);
    HANDLE activation = ::CreateActCtxW(&context);
    if (activation == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    ULONG_PTR cookie = 0;
    HMODULE module = nullptr;
    if (::ActivateActCtx(activation, &cookie)) {
        module = ::LoadLibraryW(L"gdiplus.dll");
        ::DeactivateActCtx(0, cookie);
    }
    ::ReleaseActCtx(activation);
    if (module != nullptr && !InWindowsDirectory(module)) {
        ::FreeLibrary(module);
        module = nullptr;
    }
    if (module == nullptr) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
    }
    return module;
}

// GDI+ from the system directory, where Windows has it from Vista on, else
// as Windows XP keeps it.
HMODULE LoadGdiPlus() {
    static SystemLibrary systemCopy{L"gdiplus.dll"};
    HMODULE module = systemCopy.Module();
    return module != nullptr ? module : LoadSideBySide();
}

template <typename Fn>
Fn* Bind(HMODULE module, const char* name) {
    return reinterpret_cast<Fn*>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

Started Start() {
    Started started;
    HMODULE gdiplus = LoadGdiPlus();
    if (gdiplus == nullptr) {
        started.result = LastErrorResult();
        return started;
    }
    auto startup =
        Bind<std::remove_pointer<decltype(&Gdiplus::GdiplusStartup)>::type>(gdiplus, "GdiplusStartup");
    if (startup == nullptr) {
        started.result = LastErrorResult();
        return started;
    }
#define ZORVANE_GDIPLUS_BIND(name)                                                                  \
    started.api.name = Bind<std::remove_pointer<decltype(started.api.name)>::type>(gdiplus, #name); \
    if (started.api.name == nullptr) {                                                              \
        started.result = LastErrorResult();                                                         \
        return started;                                                                             \
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
