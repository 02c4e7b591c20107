// ZlibStream: deflate in zlib's format (PNG's IDAT, TIFF's Deflate
// compression) fed in pieces, its output handed on as it comes, so that a
// picture never needs to be held whole.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include <windows.h>

#include <zlib.h>

namespace engine {

class ZlibStream {
public:
    // For rows of pictures, filtered (PNG's "Up", TIFF's horizontal
    // predictor): runs alone (Z_RLE) deflate them within a third of zlib's
    // default size, often as small, in a third of its time.
    static constexpr int kPictureLevel = 1;
    static constexpr int kPictureStrategy = Z_RLE;

    // Where the compressed bytes go, a piece at a time.
    using Output = std::function<HRESULT(const unsigned char* bytes, std::size_t size)>;

    ZlibStream() = default;
    ZlibStream(const ZlibStream&) = delete;
    ZlibStream& operator=(const ZlibStream&) = delete;
    ~ZlibStream();

    // A new stream (level and strategy as zlib's deflateInit2 takes them);
    // E_OUTOFMEMORY when zlib cannot start one.
    HRESULT Begin(int level, int strategy, Output output);
    HRESULT Write(const void* bytes, std::size_t size);
    // The rest of the stream; the next Begin starts a new one.
    HRESULT End();

private:
    HRESULT Deflate(int flush);

    z_stream stream_ = {};
    bool open_ = false;
    Output output_;
    std::vector<unsigned char> buffer_;
};

}  // namespace engine
