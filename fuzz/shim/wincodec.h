// The WIC interfaces and values the engine's image decoding uses, with the
// methods it calls; fakes.cpp implements a factory behind them.
#pragma once

#include <windows.h>

#include <unknwn.h>

#define WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT static_cast<HRESULT>(0x88982F80u)
#define WINCODEC_ERR_UNSUPPORTEDOPERATION static_cast<HRESULT>(0x88982F81u)
#define WINCODEC_ERR_BADIMAGE static_cast<HRESULT>(0x88982F60u)
#define WINCODEC_ERR_COMPONENTNOTFOUND static_cast<HRESULT>(0x88982F50u)

enum WICDecodeOptions { WICDecodeMetadataCacheOnDemand, WICDecodeMetadataCacheOnLoad };
enum WICBitmapDitherType { WICBitmapDitherTypeNone };
enum WICBitmapPaletteType { WICBitmapPaletteTypeCustom };
enum WICColorContextType {
    WICColorContextUninitialized,
    WICColorContextProfile,
    WICColorContextExifColorSpace
};

struct WICRect {
    INT X, Y, Width, Height;
};

extern const GUID GUID_WICPixelFormat32bppBGRA;

struct IWICPalette : IUnknown {};
struct IWICColorContext : IUnknown {
    virtual HRESULT GetType(WICColorContextType* type) = 0;
    virtual HRESULT GetProfileBytes(UINT size, BYTE* buffer, UINT* actual) = 0;
};
struct IWICBitmapSource : IUnknown {
    virtual HRESULT GetSize(UINT* width, UINT* height) = 0;
    virtual HRESULT GetResolution(double* dpiX, double* dpiY) = 0;
    virtual HRESULT CopyPixels(const WICRect* rect, UINT stride, UINT size, BYTE* buffer) = 0;
};
struct IWICBitmapFrameDecode : IWICBitmapSource {
    virtual HRESULT GetColorContexts(UINT count, IWICColorContext** contexts, UINT* actual) = 0;
};
struct IWICFormatConverter : IWICBitmapSource {
    virtual HRESULT Initialize(IWICBitmapSource* source, REFGUID format, WICBitmapDitherType dither,
                               IWICPalette* palette, double alphaThreshold,
                               WICBitmapPaletteType paletteType) = 0;
};
struct IWICBitmapDecoder : IUnknown {
    virtual HRESULT GetFrame(UINT index, IWICBitmapFrameDecode** frame) = 0;
};
struct IWICStream : IStream {
    virtual HRESULT InitializeFromMemory(BYTE* bytes, DWORD size) = 0;
};
struct IWICImagingFactory : IUnknown {
    virtual HRESULT CreateColorContext(IWICColorContext** context) = 0;
    virtual HRESULT CreateStream(IWICStream** stream) = 0;
    virtual HRESULT CreateDecoderFromStream(IStream* stream, const GUID* vendor, WICDecodeOptions options,
                                            IWICBitmapDecoder** decoder) = 0;
    virtual HRESULT CreateFormatConverter(IWICFormatConverter** converter) = 0;
};
