// ZipWriter: the ZIP container of the package the host writes, every item
// deflated by zlib. The package goes on to a reader, not to storage: plain
// ZIP, so a job of 4 GiB or more fails instead of writing a broken archive.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

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
