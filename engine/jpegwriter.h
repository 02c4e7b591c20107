// JpegWriter: each page as a JPEG file of its own, drawn on white, encoded
// by WIC (Windows' own codec) band by band at the job's quality and with its
// resolution. Wine's encoder ignores the quality asked for.
#pragma once

#include <vector>

#include "engine/rasterwriter.h"
#include "engine/wicfactory.h"

namespace engine {

class JpegWriter final : public RasterWriter {
public:
    JpegWriter(const xps::XpsPackage& package, const ConvertOptions& options, ByteSink sink);

private:
    HRESULT BeginPicture(unsigned width, unsigned height) override;
    HRESULT WriteBand(const RasterBand& band) override;
    HRESULT EndPicture() override;
    HRESULT Encode(unsigned width, unsigned height);

    ComScope com_;
    bool comEntered_ = false;
    Microsoft::WRL::ComPtr<IStream> stream_;
    Microsoft::WRL::ComPtr<IWICBitmapEncoder> encoder_;
    Microsoft::WRL::ComPtr<IWICBitmapFrameEncode> frame_;
    std::vector<BYTE> rows_;
};

}  // namespace engine
