#include "tests/xps/testarchive.h"

#include <zlib.h>

namespace ziptest {

namespace {

void Put(std::string& s, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        s += static_cast<char>(v >> (8 * i));
}

std::string Deflated(const std::string& data) {
    std::string out(compressBound(static_cast<uLong>(data.size())) + 16, '\0');
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

}  // namespace

std::string Archive(const std::vector<Item>& items, bool zip64End) {
    std::string file, directory;
    for (const Item& item : items) {
        std::string stored = item.deflate ? Deflated(item.data) : item.data;
        std::uint32_t crc =
            crc32(0, reinterpret_cast<const Bytef*>(item.data.data()), static_cast<uInt>(item.data.size()));
        std::uint64_t size = item.claimedSize != ~0ull ? item.claimedSize : item.data.size();
        std::uint64_t offset = file.size();
        std::uint16_t flags = item.descriptor ? 8 : 0, method = item.deflate ? 8 : 0;
        Put(file, 0x04034b50, 4);
        Put(file, 45, 2);
        Put(file, flags, 2);
        Put(file, method, 2);
        Put(file, 0, 4);
        Put(file, item.descriptor ? 0 : crc, 4);
        Put(file, item.descriptor ? 0 : stored.size(), 4);
        Put(file, item.descriptor ? 0 : size, 4);
        Put(file, item.name.size(), 2);
        Put(file, 0, 2);
        file += item.name + stored;
        if (item.descriptor) {
            Put(file, 0x08074b50, 4);
            Put(file, crc, 4);
            Put(file, stored.size(), 4);
            Put(file, size, 4);
        }
        std::string extra;
        if (item.zip64) {
            Put(extra, 1, 2);
            Put(extra, 24, 2);
            Put(extra, size, 8);
            Put(extra, item.claimedCompressedSize.value_or(stored.size()), 8);
            Put(extra, offset, 8);
        }
        Put(directory, 0x02014b50, 4);
        Put(directory, 45, 2);
        Put(directory, 45, 2);
        Put(directory, flags, 2);
        Put(directory, method, 2);
        Put(directory, 0, 4);
        Put(directory, crc, 4);
        Put(directory, item.zip64 ? 0xFFFFFFFF : stored.size(), 4);
        Put(directory, item.zip64 ? 0xFFFFFFFF : size, 4);
        Put(directory, item.name.size(), 2);
        Put(directory, extra.size(), 2);
        Put(directory, 0, 6);  // comment length, disk, internal attributes
        Put(directory, 0, 4);
        Put(directory, item.zip64 ? 0xFFFFFFFF : offset, 4);
        directory += item.name + extra;
    }
    std::uint64_t directoryAt = file.size();
    file += directory;
    if (zip64End) {
        std::uint64_t zip64At = file.size();
        Put(file, 0x06064b50, 4);
        Put(file, 44, 8);
        Put(file, 45, 2);
        Put(file, 45, 2);
        Put(file, 0, 8);
        Put(file, items.size(), 8);
        Put(file, items.size(), 8);
        Put(file, directory.size(), 8);
        Put(file, directoryAt, 8);
        Put(file, 0x07064b50, 4);
        Put(file, 0, 4);
        Put(file, zip64At, 8);
        Put(file, 1, 4);
    }
    Put(file, 0x06054b50, 4);
    Put(file, 0, 4);
    Put(file, zip64End ? 0xFFFF : items.size(), 2);
    Put(file, zip64End ? 0xFFFF : items.size(), 2);
    Put(file, zip64End ? 0xFFFFFFFF : directory.size(), 4);
    Put(file, zip64End ? 0xFFFFFFFF : directoryAt, 4);
    Put(file, 0, 2);
    return file;
}

}  // namespace ziptest
