#include "engine/zlibstream.h"

#include <algorithm>

namespace engine {

namespace {

constexpr std::size_t kBufferBytes = 64u << 10;

}  // namespace

ZlibStream::~ZlibStream() {
    if (open_) {
        deflateEnd(&stream_);
    }
}

HRESULT ZlibStream::Begin(int level, int strategy, Output output) {
    output_ = std::move(output);
    buffer_.resize(kBufferBytes);
    int result = open_ ? deflateReset(&stream_) : deflateInit2(&stream_, level, Z_DEFLATED, 15, 8, strategy);
    if (result == Z_OK && open_) {
        result = deflateParams(&stream_, level, strategy);
    }
    open_ = open_ || result == Z_OK;
    return result == Z_OK ? S_OK : E_OUTOFMEMORY;
}

HRESULT ZlibStream::Write(const void* bytes, std::size_t size) {
    // zlib counts in uInt: large pieces go in parts.
    const Bytef* next = static_cast<const Bytef*>(bytes);
    while (size > 0) {
        uInt part = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        stream_.next_in = const_cast<Bytef*>(next);
        stream_.avail_in = part;
        HRESULT hr = Deflate(Z_NO_FLUSH);
        if (FAILED(hr)) {
            return hr;
        }
        next += part;
        size -= part;
    }
    return S_OK;
}

HRESULT ZlibStream::End() {
    stream_.next_in = nullptr;
    stream_.avail_in = 0;
    return Deflate(Z_FINISH);
}

HRESULT ZlibStream::Deflate(int flush) {
    for (;;) {
        stream_.next_out = buffer_.data();
        stream_.avail_out = static_cast<uInt>(buffer_.size());
        int result = deflate(&stream_, flush);
        if (result == Z_STREAM_ERROR) {
            return E_UNEXPECTED;
        }
        std::size_t produced = buffer_.size() - stream_.avail_out;
        if (produced > 0) {
            HRESULT hr = output_(buffer_.data(), produced);
            if (FAILED(hr)) {
                return hr;
            }
        }
        // Done when deflate left room: all input taken, and at Z_FINISH
        // the end written.
        if (stream_.avail_out != 0 && (flush != Z_FINISH || result == Z_STREAM_END)) {
            return S_OK;
        }
    }
}

}  // namespace engine
