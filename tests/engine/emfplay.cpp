// emfplay DPI IN.emf OUT.bmp [IN.emf OUT.bmp]...: replays each enhanced
// metafile with GDI's PlayEnhMetaFile onto white, its frame at DPI dots per
// inch, and writes the picture as a BMP: the EMF writer's judge, a reader
// nobody here wrote. Exit code 0 when every one played; otherwise 1
// and the failing call on stderr.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include <windows.h>

#include "engine/gdihandles.h"

namespace {

int Fail(const char* call) {
    std::fprintf(stderr, "emfplay: %s failed (%lu)\n", call, ::GetLastError());
    return 1;
}

int Play(double dpi, const wchar_t* input, const wchar_t* output) {
    engine::EnhMetaFile metafile(::GetEnhMetaFileW(input));
    if (!metafile) {
        return Fail("GetEnhMetaFileW");
    }
    ENHMETAHEADER header = {};
    if (::GetEnhMetaFileHeader(metafile.Get(), sizeof header, &header) == 0) {
        return Fail("GetEnhMetaFileHeader");
    }
    // The frame is in 0.01 mm.
    int width = static_cast<int>(std::lround((header.rclFrame.right - header.rclFrame.left) * dpi / 2540));
    int height = static_cast<int>(std::lround((header.rclFrame.bottom - header.rclFrame.top) * dpi / 2540));
    if (width <= 0 || height <= 0 || width > 20000 || height > 20000) {
        std::fprintf(stderr, "emfplay: a frame of %dx%d pixels\n", width, height);
        return 1;
    }
    engine::MemoryDc dc(::CreateCompatibleDC(nullptr));
    if (!dc) {
        return Fail("CreateCompatibleDC");
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    engine::GdiObject bitmap(::CreateDIBSection(dc.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || bits == nullptr) {
        return Fail("CreateDIBSection");
    }
    engine::Selection selected(dc.Get(), bitmap.Get());
    if (!selected.Selected()) {
        return Fail("SelectObject");
    }
    RECT page = {0, 0, width, height};
    if (!::FillRect(dc.Get(), &page, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)))) {
        return Fail("FillRect");
    }
    if (!::PlayEnhMetaFile(dc.Get(), metafile.Get(), &page)) {
        return Fail("PlayEnhMetaFile");
    }
    ::GdiFlush();
    // A BMP file: the DIB section's header and rows as they are.
    DWORD size = static_cast<DWORD>(((width * 3 + 3) & ~3) * height);
    BITMAPFILEHEADER file = {0x4D42, sizeof file + sizeof info.bmiHeader + size, 0, 0,
                             sizeof file + sizeof info.bmiHeader};
    FILE* out = _wfopen(output, L"wb");
    if (out == nullptr) {
        return Fail("_wfopen");
    }
    bool written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                   std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
                   std::fwrite(bits, 1, size, out) == size;
    if (std::fclose(out) != 0 || !written) {
        return Fail("fwrite");
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: emfplay DPI IN.emf OUT.bmp [IN.emf OUT.bmp]...\n");
        return 2;
    }
    double dpi = std::wcstod(argv[1], nullptr);
    for (int i = 2; i + 1 < argc; i += 2) {
        if (Play(dpi, argv[i], argv[i + 1]) != 0) {
            return 1;
        }
    }
    return 0;
}
