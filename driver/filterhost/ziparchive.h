// The ZIP container of an XPS package: reading stored and deflated entries,
// writing deflated ones. zlib does the compression; this is only the
// container's directory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

class ZipReader {
public:
    ~ZipReader();
    // False when the file cannot be opened or has no readable directory.
    bool Open(const std::wstring& path);
    bool Has(const std::string& name) const { return entries_.count(name) != 0; }
    // The entry's uncompressed content; false when absent or damaged.
    bool Read(const std::string& name, std::string& content);

private:
    struct Entry {
        std::uint32_t localHeader;
        std::uint32_t compressedSize;
        std::uint32_t size;
        std::uint16_t method;
        std::uint32_t crc;
    };
    std::FILE* file_ = nullptr;
    std::map<std::string, Entry> entries_;
};

class ZipWriter {
public:
    ~ZipWriter();
    bool Create(const std::wstring& path);
    bool Add(const std::string& name, const std::string& content);
    // Writes the directory; false when any write failed.
    bool Finish();

private:
    struct Entry {
        std::string name;
        std::uint32_t localHeader, compressedSize, size, crc;
    };
    std::FILE* file_ = nullptr;
    std::string directory_;
    std::uint32_t entries_ = 0;
    bool failed_ = false;
};
