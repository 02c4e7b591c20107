#include "engine/jpegwriter.h"

#include <algorithm>

namespace engine {

namespace {

ConvertOptions OnWhite(ConvertOptions options) {
    options.transparent = false;
    return options;
}

}  // namespace

JpegWriter::JpegWriter(const xps::XpsPackage& package, const ConvertOptions& options, ByteSink sink)
    : RasterWriter(package, OnWhite(options), std::move(sink)) {}

HRESULT JpegWriter::BeginPicture(unsigned width, unsigned height) {
    // COM for the writer's life: every page's encoder is WIC's.
    HRESULT hr = comEntered_ ? S_OK : com_.Enter();
    comEntered_ = SUCCEEDED(hr);
    return SUCCEEDED(hr) ? Encode(width, height) : hr;
}

HRESULT JpegWriter::Encode(unsigned width, unsigned height) {
    Microsoft::WRL::ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CreateImagingFactory(factory);
    if (SUCCEEDED(hr)) {
        hr = CreateMemoryStream(stream_);
    }
    if (SUCCEEDED(hr)) {
        hr = factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, encoder_.ReleaseAndGetAddressOf());
    }
    if (SUCCEEDED(hr)) {
        hr = encoder_->Initialize(stream_.Get(), WICBitmapEncoderNoCache);
    }
    Microsoft::WRL::ComPtr<IPropertyBag2> properties;
    if (SUCCEEDED(hr)) {
        hr = encoder_->CreateNewFrame(frame_.ReleaseAndGetAddressOf(), properties.GetAddressOf());
    }
    if (SUCCEEDED(hr) && properties) {
        PROPBAG2 option = {};
        option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
        VARIANT value = {};
        value.vt = VT_R4;
        value.fltVal = std::max(1u, std::min(100u, JpegQuality())) / 100.0f;
        hr = properties->Write(1, &option, &value);
    }
    if (SUCCEEDED(hr)) {
        hr = frame_->Initialize(properties.Get());
    }
    if (SUCCEEDED(hr)) {
        hr = frame_->SetSize(width, height);
    }
    if (SUCCEEDED(hr)) {
        hr = frame_->SetResolution(Dpi(), Dpi());
    }
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr)) {
        hr = frame_->SetPixelFormat(&format);
    }
    if (SUCCEEDED(hr) && format != GUID_WICPixelFormat24bppBGR) {
        hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    }
    return hr;
}

HRESULT JpegWriter::WriteBand(const RasterBand& band) {
    UINT stride = band.width * 3;
    rows_.resize(static_cast<std::size_t>(stride) * band.rows);
    for (std::size_t i = 0; i < static_cast<std::size_t>(band.width) * band.rows; ++i) {
        std::uint32_t pixel = band.pixels[i];
        rows_[3 * i] = static_cast<BYTE>(pixel);
        rows_[3 * i + 1] = static_cast<BYTE>(pixel >> 8);
        rows_[3 * i + 2] = static_cast<BYTE>(pixel >> 16);
    }
    return frame_->WritePixels(band.rows, stride, static_cast<UINT>(rows_.size()), rows_.data());
}

HRESULT JpegWriter::EndPicture() {
    HRESULT hr = frame_->Commit();
    if (SUCCEEDED(hr)) {
        hr = encoder_->Commit();
    }
    LARGE_INTEGER start = {};
    ULARGE_INTEGER end = {};
    if (SUCCEEDED(hr)) {
        hr = stream_->Seek(start, STREAM_SEEK_CUR, &end);
    }
    if (SUCCEEDED(hr)) {
        hr = stream_->Seek(start, STREAM_SEEK_SET, nullptr);
    }
    std::vector<char> chunk(64u << 10);
    for (ULONGLONG left = end.QuadPart; SUCCEEDED(hr) && left > 0;) {
        ULONG read = 0;
        hr = stream_->Read(chunk.data(), static_cast<ULONG>(std::min<ULONGLONG>(left, chunk.size())), &read);
        if (SUCCEEDED(hr) && read == 0) {
            hr = E_UNEXPECTED;
        }
        if (SUCCEEDED(hr)) {
            hr = Put(chunk.data(), read);
            left -= read;
        }
    }
    frame_.Reset();
    encoder_.Reset();
    stream_.Reset();
    return hr;
}

}  // namespace engine
