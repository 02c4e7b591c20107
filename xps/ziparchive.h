// ZipArchive: the ZIP container of a package, read as the parts it holds.
// Items are stored or deflated (zlib), with or without data descriptors, in
// ZIP or ZIP64; a part may be one item or interleaved pieces
// ("name/[0].piece" ... "name/[n].last.piece"). Part names are compared as
// the package format says: percent-encoding decoded, ASCII case ignored.
//
// Every size is checked against the caps below before anything is
// allocated, so a damaged or hostile archive fails with an HRESULT instead
// of taking the process's memory. Reading is thread-safe once open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <windows.h>

#include "platform/handles.h"
#include "xps/partname.h"

namespace xps {

// Not a ZIP archive, or a directory that contradicts itself.
extern const HRESULT kNotAPackage;
// Data that does not inflate, fails its CRC or lies past the end.
extern const HRESULT kDamaged;
// Over one of the caps: a zip bomb, or more than a print job can be.
extern const HRESULT kOverCap;
extern const HRESULT kPartMissing;

struct ZipCaps {
    std::size_t items = 100000;
    std::uint64_t partSize = 256ull << 20;
    std::uint64_t totalSize = 2ull << 30;
    // Deflate reaches about 1000:1 at most on real data; a part over 1 MiB
    // claiming more than this is a bomb.
    std::uint64_t ratio = 250;
};

// Where the archive's bytes come from: a file, or bytes in memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Exactly size bytes at offset; false when they are not all there.
    virtual bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const = 0;
};

class FileSource final : public ByteSource {
public:
    HRESULT Open(const std::wstring& path);
    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const override;

private:
    FileHandle file_;
    std::uint64_t size_ = 0;
};

// Bytes the caller keeps, unchanged, for as long as the archive is open.
class BorrowedSource final : public ByteSource {
public:
    BorrowedSource(const void* bytes, std::size_t size)
        : bytes_(static_cast<const char*>(bytes)), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const override;

private:
    const char* bytes_;
    std::size_t size_;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const override;

private:
    std::string bytes_;
};

// Runs work, answering E_OUTOFMEMORY for what the allocator throws: the
// package's public calls never throw.
template <typename Work>
HRESULT WithoutThrowing(Work work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

class ZipArchive {
public:
    HRESULT Open(std::unique_ptr<ByteSource> source, const ZipCaps& caps = ZipCaps());
    bool Has(const std::wstring& partName) const;
    // The part's content, its pieces joined.
    HRESULT Read(const std::wstring& partName, std::string& content) const;
    // The name of the part as the archive spells it ("/Documents/1/FixedDocument.fdoc").
    std::wstring NameOf(const std::wstring& partName) const;
    std::vector<std::wstring> PartNames() const;
    // The archive's size in bytes: what a job's work budget is measured by.
    std::uint64_t Size() const { return source_ ? source_->Size() : 0; }

private:
    struct Item {
        std::uint64_t localHeader = 0;
        std::uint64_t compressedSize = 0;
        std::uint64_t size = 0;
        std::uint32_t crc = 0;
        std::uint16_t method = 0;
        std::uint16_t flags = 0;
    };
    struct PartItems {
        std::wstring name;
        std::vector<Item> pieces;  // in order; one for a part that is not interleaved
    };
    HRESULT OpenDirectory();
    HRESULT ReadPart(const std::wstring& partName, std::string& content) const;
    HRESULT ReadDirectory(std::uint64_t& offset, std::uint64_t& size, std::uint64_t& count) const;
    // Pieces by part key, then by index; the flag marks the last piece.
    using PieceTable = std::map<std::wstring, std::map<std::uint64_t, std::pair<Item, bool>>>;
    HRESULT AddItem(const std::string& itemName, const Item& item, PieceTable& pieces);
    HRESULT ReadItem(const Item& item, std::string& content) const;

    std::unique_ptr<ByteSource> source_;
    ZipCaps caps_;
    std::map<std::wstring, PartItems> parts_;  // by PartKey
};

}  // namespace xps
