// The system behind the shim's declarations. Files never open (the targets
// read from memory); WIC's factory decodes a stand-in format that lets the
// engine's code around it run: a 16-bit width and height, little-endian,
// then pixels as BGRA bytes repeated from what follows.
#include <windows.h>

#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "engine/wicfactory.h"

namespace {
thread_local DWORD lastError = 0;
}  // namespace

HANDLE CreateFileW(LPCWSTR, DWORD, DWORD, SECURITY_ATTRIBUTES*, DWORD, DWORD, HANDLE) {
    lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
}
BOOL ReadFile(HANDLE, LPVOID, DWORD, DWORD*, OVERLAPPED*) { return FALSE; }
DWORD GetFileSize(HANDLE, DWORD*) { return INVALID_FILE_SIZE; }
BOOL CloseHandle(HANDLE) { return TRUE; }
BOOL FindClose(HANDLE) { return TRUE; }
LONG RegCloseKey(HKEY) { return 0; }
BOOL FreeLibrary(HMODULE) { return TRUE; }
HLOCAL LocalFree(HLOCAL) { return nullptr; }
DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }
// The real clock: the work budget's time limit reads it.
DWORD GetTickCount() {
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count());
}
void Sleep(DWORD ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
void GetSystemTime(SYSTEMTIME* time) { *time = SYSTEMTIME{2026, 1, 4, 1, 0, 0, 0, 0}; }
void InitializeCriticalSection(CRITICAL_SECTION*) {}
void DeleteCriticalSection(CRITICAL_SECTION*) {}
void EnterCriticalSection(CRITICAL_SECTION*) {}
void LeaveCriticalSection(CRITICAL_SECTION*) {}

const GUID GUID_WICPixelFormat32bppBGRA = {
    0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0f}};

namespace {

template <typename Interface>
class Counted : public Interface {
public:
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

private:
    ULONG references_ = 1;
};

class FakeStream : public Counted<IWICStream> {
public:
    HRESULT InitializeFromMemory(BYTE* bytes, DWORD size) override {
        bytes_.assign(reinterpret_cast<const char*>(bytes), size);
        return S_OK;
    }
    std::string bytes_;
};

class FakeFrame : public Counted<IWICBitmapFrameDecode> {
public:
    explicit FakeFrame(const std::string& bytes) : bytes_(bytes) {}
    HRESULT GetSize(UINT* width, UINT* height) override {
        *width = Byte(0) | Byte(1) << 8;
        *height = Byte(2) | Byte(3) << 8;
        return S_OK;
    }
    HRESULT GetResolution(double* dpiX, double* dpiY) override {
        *dpiX = *dpiY = 96;
        return S_OK;
    }
    HRESULT CopyPixels(const WICRect* rect, UINT stride, UINT size, BYTE* buffer) override {
        UINT width = 0, height = 0;
        GetSize(&width, &height);
        if (rect->X < 0 || rect->Y < 0 || rect->Width < 0 || rect->Height < 0 ||
            static_cast<UINT>(rect->X + rect->Width) > width ||
            static_cast<UINT>(rect->Y + rect->Height) > height || stride < 4u * rect->Width ||
            static_cast<std::uint64_t>(stride) * rect->Height > size) {
            return E_INVALIDARG;
        }
        // Past a million pixels the stand-in's data "breaks off", as a short
        // file's would: the engine's caps and allocation are still reached,
        // but large images do not slow every run down.
        if (static_cast<std::uint64_t>(width) * height > (1u << 20)) {
            return WINCODEC_ERR_BADIMAGE;
        }
        // Each row the pixel bytes from an offset of its own, repeated.
        std::string pixels = bytes_.size() > 4 ? bytes_.substr(4) : std::string(4, '\xFF');
        for (INT y = 0; y < rect->Height; ++y) {
            BYTE* row = buffer + static_cast<std::size_t>(y) * stride;
            std::size_t rowBytes = 4u * rect->Width;
            std::size_t from = static_cast<std::size_t>(rect->Y + y) % pixels.size();
            for (std::size_t x = 0; x < rowBytes;) {
                std::size_t chunk = std::min(rowBytes - x, pixels.size() - from);
                std::memcpy(row + x, pixels.data() + from, chunk);
                x += chunk;
                from = 0;
            }
        }
        return S_OK;
    }
    HRESULT GetColorContexts(UINT, IWICColorContext**, UINT* actual) override {
        *actual = 0;
        return S_OK;
    }

private:
    UINT Byte(std::size_t at) const { return at < bytes_.size() ? static_cast<BYTE>(bytes_[at]) : 0; }
    std::string bytes_;
};

class FakeConverter : public Counted<IWICFormatConverter> {
public:
    ~FakeConverter() override {
        if (source_ != nullptr) {
            source_->Release();
        }
    }
    HRESULT Initialize(IWICBitmapSource* source, REFGUID, WICBitmapDitherType, IWICPalette*, double,
                       WICBitmapPaletteType) override {
        source->AddRef();
        source_ = source;
        return S_OK;
    }
    HRESULT GetSize(UINT* width, UINT* height) override { return source_->GetSize(width, height); }
    HRESULT GetResolution(double* dpiX, double* dpiY) override { return source_->GetResolution(dpiX, dpiY); }
    HRESULT CopyPixels(const WICRect* rect, UINT stride, UINT size, BYTE* buffer) override {
        return source_->CopyPixels(rect, stride, size, buffer);
    }

private:
    IWICBitmapSource* source_ = nullptr;
};

class FakeDecoder : public Counted<IWICBitmapDecoder> {
public:
    explicit FakeDecoder(const std::string& bytes) : bytes_(bytes) {}
    HRESULT GetFrame(UINT index, IWICBitmapFrameDecode** frame) override {
        if (index != 0) {
            return E_INVALIDARG;
        }
        *frame = new FakeFrame(bytes_);
        return S_OK;
    }

private:
    std::string bytes_;
};

class FakeFactory : public Counted<IWICImagingFactory> {
public:
    HRESULT CreateColorContext(IWICColorContext**) override { return E_NOTIMPL; }
    HRESULT CreateStream(IWICStream** stream) override {
        *stream = new FakeStream;
        return S_OK;
    }
    HRESULT CreateDecoderFromStream(IStream* stream, const GUID*, WICDecodeOptions,
                                    IWICBitmapDecoder** decoder) override {
        const std::string& bytes = static_cast<FakeStream*>(stream)->bytes_;
        if (bytes.size() < 4) {
            return WINCODEC_ERR_COMPONENTNOTFOUND;
        }
        *decoder = new FakeDecoder(bytes);
        return S_OK;
    }
    HRESULT CreateFormatConverter(IWICFormatConverter** converter) override {
        *converter = new FakeConverter;
        return S_OK;
    }
};

}  // namespace

namespace engine {

ComScope::~ComScope() {}
HRESULT ComScope::Enter() { return S_OK; }

HRESULT CreateImagingFactory(Microsoft::WRL::ComPtr<IWICImagingFactory>& factory) {
    *&factory = new FakeFactory;
    return S_OK;
}

HRESULT CreateMemoryStream(Microsoft::WRL::ComPtr<IStream>&) { return E_NOTIMPL; }

}  // namespace engine

// No colour management (ICM): context colours keep what their channels give,
// as colorprofiles.h has it where ICM is missing.
#include "engine/colorprofiles.h"

namespace engine {

struct ColorProfiles::Transform {};
ColorProfiles::ColorProfiles(const xps::XpsPackage& package) : package_(package) {}
ColorProfiles::~ColorProfiles() = default;
bool ColorProfiles::ToSrgb(const std::wstring&, const std::vector<double>&, Color&) { return false; }

}  // namespace engine
