#include "xps/ziparchive.h"

#include <cstring>

#include <zlib.h>

#include "xps/checkedmath.h"
#include "xps/utf8.h"
#include "xps/workbudget.h"

namespace xps {

const HRESULT kNotAPackage = HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
const HRESULT kDamaged = HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
const HRESULT kOverCap = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
const HRESULT kPartMissing = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

namespace {

constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kDirectoryEntry = 0x02014b50;
constexpr std::uint32_t kEndOfDirectory = 0x06054b50;
constexpr std::uint32_t kZip64End = 0x06064b50;
constexpr std::uint32_t kZip64Locator = 0x07064b50;
// A directory bigger than this is no print job's.
constexpr std::uint64_t kMaxDirectory = 64ull << 20;

std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Le32(const unsigned char* p) { return Le16(p) | static_cast<std::uint32_t>(Le16(p + 2)) << 16; }
std::uint64_t Le64(const unsigned char* p) { return Le32(p) | static_cast<std::uint64_t>(Le32(p + 4)) << 32; }

// "name/[n].piece" or "name/[n].last.piece": the part's name, n and whether
// it is the last.
bool SplitPiece(const std::wstring& name, std::wstring& part, std::uint64_t& index, bool& last) {
    std::wstring key = PartKey(name);
    std::size_t open = key.rfind(L"/[");
    if (open == std::wstring::npos) {
        return false;
    }
    std::size_t close = key.find(L']', open);
    std::wstring tail = close == std::wstring::npos ? L"" : key.substr(close);
    if (tail != L"].piece" && tail != L"].last.piece") {
        return false;
    }
    index = 0;
    if (close == open + 2) {
        return false;
    }
    for (std::size_t i = open + 2; i < close; ++i) {
        if (key[i] < L'0' || key[i] > L'9' || index > 1000000) {
            return false;
        }
        index = index * 10 + (key[i] - L'0');
    }
    part = name.substr(0, open);
    last = tail == L"].last.piece";
    return true;
}

}  // namespace

HRESULT FileSource::Open(const std::wstring& path) {
    file_ = FileHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) {
        return HRESULT_FROM_WIN32(::GetLastError());
    }
    DWORD high = 0;
    DWORD low = ::GetFileSize(file_.Get(), &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) {
        return HRESULT_FROM_WIN32(::GetLastError());
    }
    size_ = static_cast<std::uint64_t>(high) << 32 | low;
    return S_OK;
}

// A read at an offset of its own, so that threads reading parts at once do
// not share a file pointer.
bool FileSource::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    if (offset > size_ || size > size_ - offset) {
        return false;
    }
    char* p = static_cast<char*>(buffer);
    while (size > 0) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD read = 0;
        if (!::ReadFile(file_.Get(), p, chunk, &read, &at) || read == 0) {
            return false;
        }
        p += read;
        offset += read;
        size -= read;
    }
    return true;
}

bool BorrowedSource::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    if (offset > size_ || size > size_ - offset) {
        return false;
    }
    if (size != 0) {  // an empty read may come with no buffer at all
        std::memcpy(buffer, bytes_ + offset, size);
    }
    return true;
}

bool MemorySource::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    return BorrowedSource(bytes_.data(), bytes_.size()).ReadAt(offset, buffer, size);
}

// The end-of-directory record, and the ZIP64 one where a field overflowed.
HRESULT ZipArchive::ReadDirectory(std::uint64_t& offset, std::uint64_t& size, std::uint64_t& count) const {
    std::uint64_t fileSize = source_->Size();
    std::size_t tail = static_cast<std::size_t>(fileSize < 65557 ? fileSize : 65557);
    std::vector<unsigned char> buffer(tail);
    if (tail < 22 || !source_->ReadAt(fileSize - tail, buffer.data(), tail)) {
        return kNotAPackage;
    }
    std::size_t end = tail - 22;
    // The last record whose comment reaches exactly to the end of the file.
    while (!(Le32(&buffer[end]) == kEndOfDirectory && end + 22 + Le16(&buffer[end + 20]) == tail)) {
        if (end == 0) {
            return kNotAPackage;
        }
        --end;
    }
    const unsigned char* record = &buffer[end];
    if (Le16(record + 4) != 0 && Le16(record + 4) != 0xFFFF) {
        return kNotAPackage;  // an archive split over disks
    }
    count = Le16(record + 10);
    size = Le32(record + 12);
    offset = Le32(record + 16);
    std::uint64_t recordAt = fileSize - tail + end;
    if (count == 0xFFFF || size == 0xFFFFFFFF || offset == 0xFFFFFFFF) {
        unsigned char locator[20], zip64[56];
        if (recordAt < 20 || !source_->ReadAt(recordAt - 20, locator, 20) || Le32(locator) != kZip64Locator) {
            return kNotAPackage;
        }
        std::uint64_t zip64At = Le64(locator + 8);
        if (!source_->ReadAt(zip64At, zip64, 56) || Le32(zip64) != kZip64End) {
            return kNotAPackage;
        }
        count = Le64(zip64 + 32);
        size = Le64(zip64 + 40);
        offset = Le64(zip64 + 48);
        recordAt = zip64At;
    }
    if (offset > recordAt || size > recordAt - offset) {
        return kNotAPackage;
    }
    if (count > caps_.items || size > kMaxDirectory) {
        return kOverCap;
    }
    return S_OK;
}

HRESULT ZipArchive::Open(std::unique_ptr<ByteSource> source, const ZipCaps& caps) {
    source_ = std::move(source);
    caps_ = caps;
    parts_.clear();
    return WithoutThrowing([this] { return OpenDirectory(); });
}

HRESULT ZipArchive::OpenDirectory() {
    std::uint64_t offset, size, count;
    HRESULT hr = ReadDirectory(offset, size, count);
    if (FAILED(hr)) {
        return hr;
    }
    std::vector<unsigned char> directory(static_cast<std::size_t>(size));
    if (!source_->ReadAt(offset, directory.data(), directory.size())) {
        return kNotAPackage;
    }
    PieceTable pieces;
    std::uint64_t total = 0, seen = 0;
    for (std::size_t p = 0; p + 46 <= directory.size(); ++seen) {
        const unsigned char* entry = &directory[p];
        if (Le32(entry) != kDirectoryEntry || seen >= count) {
            return kNotAPackage;
        }
        std::size_t nameLength = Le16(entry + 28), extraLength = Le16(entry + 30);
        std::size_t next = p + 46 + nameLength + extraLength + Le16(entry + 32);
        if (next > directory.size()) {
            return kNotAPackage;
        }
        Item item;
        item.flags = Le16(entry + 8);
        item.method = Le16(entry + 10);
        item.crc = Le32(entry + 16);
        item.compressedSize = Le32(entry + 20);
        item.size = Le32(entry + 24);
        item.localHeader = Le32(entry + 42);
        // ZIP64: the fields that overflowed follow in the extra field 0x0001, in this order.
        std::uint64_t* wide[] = {&item.size, &item.compressedSize, &item.localHeader};
        const unsigned char* extra = entry + 46 + nameLength;
        for (std::size_t e = 0; e + 4 <= extraLength;) {
            std::size_t length = Le16(extra + e + 2);
            if (Le16(extra + e) == 0x0001) {
                std::size_t at = e + 4;
                for (std::uint64_t* field : wide) {
                    if (*field == 0xFFFFFFFF) {
                        if (at + 8 > e + 4 + length || at + 8 > extraLength) {
                            return kNotAPackage;
                        }
                        *field = Le64(extra + at);
                        at += 8;
                    }
                }
            }
            e += 4 + length;
        }
        std::string name(reinterpret_cast<const char*>(entry + 46), nameLength);
        p = next;
        if (name.empty() || name.back() == '/') {
            continue;  // a folder
        }
        if (item.size > caps_.partSize ||
            (item.size > (1u << 20) &&
             item.size > SaturatingMultiply(SaturatingAdd(item.compressedSize, std::uint64_t{1}), caps_.ratio))) {
            return kOverCap;
        }
        total += item.size;
        if (total > caps_.totalSize) {
            return kOverCap;
        }
        hr = AddItem(name, item, pieces);
        if (FAILED(hr)) {
            return hr;
        }
    }
    // Pieces must run from 0 without a gap and end with the last piece.
    for (auto& part : pieces) {
        PartItems& items = parts_[part.first];
        std::uint64_t expected = 0;
        for (auto& piece : part.second) {
            bool isLast = expected + 1 == part.second.size();
            if (piece.first != expected++ || piece.second.second != isLast) {
                return kDamaged;
            }
            items.pieces.push_back(piece.second.first);
        }
    }
    return S_OK;
}

HRESULT ZipArchive::AddItem(const std::string& itemName, const Item& item, PieceTable& pieces) {
    std::wstring name = DecodePartName(xml::FromUtf8(itemName));
    if (name[0] != L'/') {
        name.insert(name.begin(), L'/');
    }
    std::wstring partName;
    std::uint64_t index;
    bool last;
    if (SplitPiece(name, partName, index, last)) {
        std::wstring key = PartKey(partName);
        auto whole = parts_.find(key);
        if ((whole != parts_.end() && !whole->second.pieces.empty()) ||
            !pieces[key].emplace(index, std::make_pair(item, last)).second) {
            return kDamaged;  // the same piece twice, or a part both whole and in pieces
        }
        parts_[key].name = partName;
        return S_OK;
    }
    std::wstring key = PartKey(name);
    if (parts_.count(key) != 0) {
        return kDamaged;  // two items for one part name
    }
    parts_[key] = PartItems{name, {item}};
    return S_OK;
}

bool ZipArchive::Has(const std::wstring& partName) const { return parts_.count(PartKey(partName)) != 0; }

std::wstring ZipArchive::NameOf(const std::wstring& partName) const {
    auto found = parts_.find(PartKey(partName));
    return found == parts_.end() ? DecodePartName(partName) : found->second.name;
}

std::vector<std::wstring> ZipArchive::PartNames() const {
    std::vector<std::wstring> names;
    for (const auto& part : parts_) {
        names.push_back(part.second.name);
    }
    return names;
}

HRESULT ZipArchive::Read(const std::wstring& partName, std::string& content) const {
    return WithoutThrowing([&] { return ReadPart(partName, content); });
}

HRESULT ZipArchive::ReadPart(const std::wstring& partName, std::string& content) const {
    content.clear();
    auto found = parts_.find(PartKey(partName));
    if (found == parts_.end()) {
        return kPartMissing;
    }
    std::uint64_t total = 0;
    for (const Item& item : found->second.pieces) {
        total += item.size;
    }
    if (total > caps_.partSize) {
        return kOverCap;
    }
    // What a part inflates to is read and parsed again by each page that
    // uses it: a job pays for every byte each time.
    if (!ChargeWork(total * kByteCost)) {
        return WorkBudget::Current()->Failure();
    }
    content.reserve(static_cast<std::size_t>(total));
    for (const Item& item : found->second.pieces) {
        HRESULT hr = ReadItem(item, content);
        if (FAILED(hr)) {
            content.clear();
            return hr;
        }
    }
    return S_OK;
}

// Appends one item's data, inflated in steps from the source, never past the
// size the directory gives.
HRESULT ZipArchive::ReadItem(const Item& item, std::string& content) const {
    if ((item.flags & 1) != 0 || (item.method != 0 && item.method != 8)) {
        return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);  // encrypted, or another compression
    }
    unsigned char header[30];
    if (!source_->ReadAt(item.localHeader, header, 30) || Le32(header) != kLocalHeader) {
        return kDamaged;
    }
    std::uint64_t at = item.localHeader + 30 + Le16(header + 26) + Le16(header + 28);
    std::uint64_t left = item.compressedSize;
    if (at > source_->Size() || left > source_->Size() - at ||
        (item.method == 0 && item.compressedSize != item.size)) {
        return kDamaged;
    }
    std::size_t start = content.size();
    content.resize(start + static_cast<std::size_t>(item.size));
    z_stream stream{};
    if (item.method == 8 && inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        return E_OUTOFMEMORY;
    }
    stream.next_out = reinterpret_cast<Bytef*>(&content[start]);
    stream.avail_out = static_cast<uInt>(item.size);
    unsigned char buffer[65536];
    int result = Z_OK;
    bool failed = false;
    std::size_t written = 0;
    while (left > 0 && !failed) {
        std::size_t chunk = left < sizeof(buffer) ? static_cast<std::size_t>(left) : sizeof(buffer);
        if (!source_->ReadAt(at, buffer, chunk)) {
            failed = true;
            break;
        }
        at += chunk;
        left -= chunk;
        if (item.method == 0) {
            std::memcpy(&content[start + written], buffer, chunk);
            written += chunk;
            continue;
        }
        stream.next_in = buffer;
        stream.avail_in = static_cast<uInt>(chunk);
        while (stream.avail_in > 0 && result == Z_OK) {
            // Z_BUF_ERROR: no room left for what is still to come, so the
            // data is longer than the directory says.
            result = inflate(&stream, Z_NO_FLUSH);
        }
        failed = result != Z_OK && result != Z_STREAM_END;
    }
    if (item.method == 8) {
        if (!failed && result == Z_OK) {
            result = inflate(&stream, Z_FINISH);
        }
        written = static_cast<std::size_t>(stream.total_out);
        failed = failed || result != Z_STREAM_END;
        inflateEnd(&stream);
    }
    if (failed || written != item.size ||
        crc32(0, reinterpret_cast<const Bytef*>(content.data() + start), static_cast<uInt>(item.size)) !=
            item.crc) {
        return kDamaged;
    }
    return S_OK;
}

}  // namespace xps
