#include "engine/pdfimage.h"

namespace engine {

HRESULT MakePdfImage(const std::string& bytes, const std::wstring& contentType, PdfImage& image) {
    (void)bytes;
    (void)contentType;
    (void)image;
    return E_NOTIMPL;
}

}  // namespace engine
