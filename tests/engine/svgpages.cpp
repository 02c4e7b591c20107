// engine_svgpages.exe IN.xps OUTFOLDER: the engine's SVG of each page,
// OUTFOLDER\page-N.svg, for the SVG tests. Exit code 0 when every page was
// written; otherwise 1 and no page left.
#include <cstdio>
#include <string>
#include <vector>

#include <windows.h>

#include "engine/converter.h"
#include "platform/handles.h"

namespace {

// One page's file, written whole.
HRESULT WritePage(const std::wstring& path, const std::string& bytes) {
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD done = 0;
    bool written = file &&
                   ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
                   done == bytes.size();
    return written && file.Close() ? S_OK : HRESULT_FROM_WIN32(::GetLastError());
}

int Run(const std::wstring& input, const std::wstring& folder, std::vector<std::wstring>& written) {
    xps::XpsPackage package;
    if (FAILED(package.OpenFile(input))) {
        return 1;
    }
    // The bytes of the page begun last, written when the next begins.
    std::string page;
    auto flush = [&]() { return written.empty() ? S_OK : WritePage(written.back(), page); };
    engine::ConvertOptions options;
    options.format = engine::OutputFormat::Svg;
    options.beginFile = [&](unsigned number) {
        HRESULT hr = flush();
        written.push_back(folder + L"\\page-" + std::to_wstring(number) + L".svg");
        page.clear();
        return hr;
    };
    HRESULT hr = engine::Convert(package, options, [&page](const void* bytes, std::size_t size) {
        page.append(static_cast<const char*>(bytes), size);
        return S_OK;
    });
    if (SUCCEEDED(hr)) {
        hr = flush();
    }
    if (FAILED(hr)) {
        std::fwprintf(stderr, L"engine_svgpages: conversion failed: 0x%08lX\n",
                      static_cast<unsigned long>(hr));
        return 1;
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        return 1;
    }
    std::vector<std::wstring> written;
    int exitCode = 1;
    try {
        exitCode = Run(argv[1], argv[2], written);
    } catch (...) {
        exitCode = 1;
    }
    if (exitCode != 0) {
        for (const std::wstring& name : written) {
            ::DeleteFileW(name.c_str());
        }
    }
    return exitCode;
}
