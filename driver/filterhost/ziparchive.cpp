#include "driver/filterhost/ziparchive.h"

#include <cstring>
#include <vector>

#include <zlib.h>

namespace {

std::uint32_t Le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
void Put32(std::string& s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>(v >> (8 * i)));
}
void Put16(std::string& s, std::uint16_t v) {
    s.push_back(static_cast<char>(v));
    s.push_back(static_cast<char>(v >> 8));
}

}  // namespace

ZipReader::~ZipReader() {
    if (file_ != nullptr)
        std::fclose(file_);
}

bool ZipReader::Open(const std::wstring& path) {
    file_ = _wfopen(path.c_str(), L"rb");
    if (file_ == nullptr || std::fseek(file_, 0, SEEK_END) != 0)
        return false;
    long size = std::ftell(file_);
    // The end-of-directory record lies in the last 64 KiB + 22 bytes.
    long tail = size < 65557 ? size : 65557;
    std::vector<unsigned char> buffer(static_cast<size_t>(tail));
    if (tail < 22 || std::fseek(file_, size - tail, SEEK_SET) != 0 ||
        std::fread(buffer.data(), 1, buffer.size(), file_) != buffer.size())
        return false;
    long end = tail - 22;
    while (end >= 0 && Le32(&buffer[end]) != 0x06054b50)
        --end;
    if (end < 0)
        return false;
    std::uint32_t directorySize = Le32(&buffer[end + 12]), directoryOffset = Le32(&buffer[end + 16]);
    std::vector<unsigned char> directory(directorySize);
    if (std::fseek(file_, static_cast<long>(directoryOffset), SEEK_SET) != 0 ||
        std::fread(directory.data(), 1, directory.size(), file_) != directory.size())
        return false;
    for (size_t p = 0; p + 46 <= directory.size();) {
        if (Le32(&directory[p]) != 0x02014b50)
            return false;
        Entry entry{Le32(&directory[p + 42]), Le32(&directory[p + 20]), Le32(&directory[p + 24]),
                    Le16(&directory[p + 10]), Le32(&directory[p + 16])};
        size_t nameLength = Le16(&directory[p + 28]);
        size_t extra = Le16(&directory[p + 30]), comment = Le16(&directory[p + 32]);
        if (p + 46 + nameLength > directory.size())
            return false;
        entries_[std::string(reinterpret_cast<char*>(&directory[p + 46]), nameLength)] = entry;
        p += 46 + nameLength + extra + comment;
    }
    return true;
}

bool ZipReader::Read(const std::string& name, std::string& content) {
    auto found = entries_.find(name);
    if (found == entries_.end())
        return false;
    const Entry& entry = found->second;
    unsigned char header[30];
    if (std::fseek(file_, static_cast<long>(entry.localHeader), SEEK_SET) != 0 ||
        std::fread(header, 1, 30, file_) != 30 || Le32(header) != 0x04034b50)
        return false;
    long dataOffset = static_cast<long>(entry.localHeader) + 30 + Le16(header + 26) + Le16(header + 28);
    std::string compressed(entry.compressedSize, '\0');
    if (std::fseek(file_, dataOffset, SEEK_SET) != 0 ||
        std::fread(&compressed[0], 1, compressed.size(), file_) != compressed.size())
        return false;
    if (entry.method == 0) {
        content = std::move(compressed);
    } else if (entry.method == 8) {
        content.assign(entry.size, '\0');
        z_stream stream{};
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
            return false;
        stream.next_in = reinterpret_cast<Bytef*>(&compressed[0]);
        stream.avail_in = static_cast<uInt>(compressed.size());
        stream.next_out = reinterpret_cast<Bytef*>(&content[0]);
        stream.avail_out = static_cast<uInt>(content.size());
        int result = inflate(&stream, Z_FINISH);
        inflateEnd(&stream);
        if (result != Z_STREAM_END || stream.total_out != entry.size)
            return false;
    } else {
        return false;
    }
    return crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())) ==
           entry.crc;
}

ZipWriter::~ZipWriter() {
    if (file_ != nullptr)
        std::fclose(file_);
}

bool ZipWriter::Create(const std::wstring& path) {
    file_ = _wfopen(path.c_str(), L"wb");
    return file_ != nullptr;
}

bool ZipWriter::Add(const std::string& name, const std::string& content) {
    uLong bound = compressBound(static_cast<uLong>(content.size()));
    std::string compressed(bound, '\0');
    z_stream stream{};
    // The fastest level: the package goes on to the port, not to storage.
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        failed_ = true;
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    stream.avail_in = static_cast<uInt>(content.size());
    stream.next_out = reinterpret_cast<Bytef*>(&compressed[0]);
    stream.avail_out = static_cast<uInt>(compressed.size());
    int result = deflate(&stream, Z_FINISH);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        failed_ = true;
        return false;
    }
    compressed.resize(stream.total_out);
    std::uint32_t crc =
        crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(std::ftell(file_));
    std::string header;
    Put32(header, 0x04034b50);
    Put16(header, 20);
    Put16(header, 0);
    Put16(header, 8);
    Put32(header, 0x00210000);  // 1 January 1980, 00:00: the package carries no times
    Put32(header, crc);
    Put32(header, static_cast<std::uint32_t>(compressed.size()));
    Put32(header, static_cast<std::uint32_t>(content.size()));
    Put16(header, static_cast<std::uint16_t>(name.size()));
    Put16(header, 0);
    header += name;
    if (std::fwrite(header.data(), 1, header.size(), file_) != header.size() ||
        std::fwrite(compressed.data(), 1, compressed.size(), file_) != compressed.size()) {
        failed_ = true;
        return false;
    }
    Put32(directory_, 0x02014b50);
    Put16(directory_, 20);
    Put16(directory_, 20);
    Put16(directory_, 0);
    Put16(directory_, 8);
    Put32(directory_, 0x00210000);
    Put32(directory_, crc);
    Put32(directory_, static_cast<std::uint32_t>(compressed.size()));
    Put32(directory_, static_cast<std::uint32_t>(content.size()));
    Put16(directory_, static_cast<std::uint16_t>(name.size()));
    Put16(directory_, 0);
    Put16(directory_, 0);
    Put16(directory_, 0);
    Put16(directory_, 0);
    Put32(directory_, 0);
    Put32(directory_, offset);
    directory_ += name;
    ++entries_;
    return true;
}

bool ZipWriter::Finish() {
    std::uint32_t offset = static_cast<std::uint32_t>(std::ftell(file_));
    std::string end;
    Put32(end, 0x06054b50);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, static_cast<std::uint16_t>(entries_));
    Put16(end, static_cast<std::uint16_t>(entries_));
    Put32(end, static_cast<std::uint32_t>(directory_.size()));
    Put32(end, offset);
    Put16(end, 0);
    bool written = std::fwrite(directory_.data(), 1, directory_.size(), file_) == directory_.size() &&
                   std::fwrite(end.data(), 1, end.size(), file_) == end.size();
    bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return written && closed && !failed_;
}
