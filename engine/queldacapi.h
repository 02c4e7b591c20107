// The C interface queldac.dll exports: the engine for a caller that loads the
// library at run time (the output filter). Nothing but HRESULTs crosses it.
//
// A job is the whole XPS package in memory, at most kQueldacMaxInput bytes;
// its output stops at kQueldacMaxOutput bytes, and a job that runs longer
// than kQueldacTimeLimitMs fails with HRESULT_FROM_WIN32(ERROR_TIMEOUT). The
// engine's own caps (pages, parts, fonts, images) are in engine/ headers.
#pragma once

#include <stddef.h>

#include <windows.h>

#define QUELDAC_CONVERT_EXPORT "QueldacConvert"

static const size_t kQueldacMaxInput = 512u << 20;
static const unsigned long long kQueldacMaxOutput = 2ull << 30;
static const DWORD kQueldacTimeLimitMs = 10u * 60u * 1000u;

// Takes the next bytes of the output; a failing HRESULT ends the job with it.
typedef HRESULT(WINAPI* QueldacWriteFunction)(void* context, const void* bytes, size_t size);
// A per-page format's next file begins (pages from 1); the bytes written
// after it, up to the next call, are that page's file.
typedef HRESULT(WINAPI* QueldacBeginFileFunction)(void* context, unsigned page);

// What a job asks of the engine. cbSize is sizeof(QueldacJob): a later
// library reads the fields an earlier caller knew.
typedef struct QueldacJob {
    DWORD cbSize;
    // "PDF", "PDFA1b", "PDFA2b", "SVG", "EMF", "PNG", "JPEG" or "TIFF", as the
    // print ticket's OutputFormat names them (case does not matter); another
    // name fails with E_INVALIDARG.
    const wchar_t* format;
    const wchar_t* title;   // may be null
    const wchar_t* author;  // may be null
    unsigned dpi;           // raster resolution, 72 to 1200; 0: the default
    unsigned jpegQuality;   // 1 to 100; 0: the default
    QueldacWriteFunction write;
    QueldacBeginFileFunction beginFile;  // required by SVG, EMF, PNG and JPEG
    void* context;                       // handed to write and beginFile
    BOOL transparent;                    // PNG and TIFF: what nothing draws stays transparent, not white
} QueldacJob;

// Converts the package as job asks. On failure the bytes written so far are
// no document: the caller drops them.
typedef HRESULT(WINAPI* QueldacConvertFunction)(const void* xps, size_t size, const QueldacJob* job);
