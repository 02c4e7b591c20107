#include "tools/filterhost/zipwriter.h"

#include <cstring>

#include <zlib.h>

namespace {

void Put32(std::string& s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>(v >> (8 * i)));
}
void Put16(std::string& s, std::uint16_t v) {
    s.push_back(static_cast<char>(v));
    s.push_back(static_cast<char>(v >> 8));
}

}  // namespace

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
    long position = std::ftell(file_);
    if (position < 0 || content.size() > 0xFFFFFFFEu || name.size() > 0xFFFF) {
        failed_ = true;  // past what a plain ZIP can say
        return false;
    }
    std::uint32_t offset = static_cast<std::uint32_t>(position);
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
    long position = std::ftell(file_);
    failed_ = failed_ || position < 0 || entries_ > 0xFFFF;
    std::uint32_t offset = static_cast<std::uint32_t>(position);
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
