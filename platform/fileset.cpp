#include "platform/fileset.h"

#include <algorithm>
#include <cstring>

const unsigned char kFileSetSignature[8] = {0x89, 'Z', 'C', 'R', '\r', '\n', 0x1A, '\n'};

namespace {

// The length that ends the frames.
constexpr std::uint32_t kEndOfFiles = 0xFFFFFFFF;

// Whether one more file of cbFile bytes fits a set that holds count files.
FileSetError CheckLength(std::uint64_t cbFile, std::size_t count) {
    if (count >= kMaxFileSetFiles) {
        return FileSetError::TooManyFiles;
    }
    if (cbFile == 0) {
        return FileSetError::EmptyFile;
    }
    return cbFile > kMaxFileSetFileBytes ? FileSetError::FileTooLarge : FileSetError::None;
}

// Whether a file with these first bytes may join a set of count files of
// setFormat; format is what it is.
FileSetError CheckFormat(const unsigned char* pHead, std::size_t cbHead, std::size_t count,
                         FileFormat setFormat, FileFormat& format) {
    format = FormatOf(pHead, cbHead);
    if (!IsPageFormat(format)) {
        return FileSetError::NotAPage;
    }
    return count > 0 && format != setFormat ? FileSetError::MixedFormats : FileSetError::None;
}

// Reads the stream in order, never past its end.
class Cursor {
public:
    Cursor(FileSetSource& source, std::uint64_t cbStream) : source_(source), cbStream_(cbStream) {}

    std::uint64_t Offset() const { return offset_; }
    std::uint64_t Left() const { return cbStream_ - offset_; }

    FileSetError Read(unsigned char* pBytes, std::size_t cb) {
        if (cb > Left()) {
            return FileSetError::Truncated;
        }
        if (!source_.ReadAt(offset_, pBytes, cb)) {
            return FileSetError::ReadFailed;
        }
        offset_ += cb;
        return FileSetError::None;
    }

    FileSetError ReadNumber(std::uint32_t& value) {
        unsigned char bytes[4];
        FileSetError error = Read(bytes, sizeof(bytes));
        value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
        return error;
    }

    // The caller has checked that cb bytes are left.
    void Skip(std::uint64_t cb) { offset_ += cb; }

private:
    FileSetSource& source_;
    std::uint64_t cbStream_;
    std::uint64_t offset_ = 0;
};

FileSetError ReadHeader(Cursor& cursor) {
    unsigned char signature[sizeof(kFileSetSignature)];
    if (cursor.Left() < sizeof(signature)) {
        return FileSetError::NotASet;
    }
    FileSetError error = cursor.Read(signature, sizeof(signature));
    if (error != FileSetError::None) {
        return error;
    }
    if (std::memcmp(signature, kFileSetSignature, sizeof(signature)) != 0) {
        return FileSetError::NotASet;
    }
    std::uint32_t version = 0;
    error = cursor.ReadNumber(version);
    if (error != FileSetError::None) {
        return error;
    }
    return version == kFileSetVersion ? FileSetError::None : FileSetError::UnknownVersion;
}

// The frame of cbFile bytes at the cursor, checked and listed.
FileSetError ReadFrame(Cursor& cursor, std::uint32_t cbFile, FileSetContents& contents) {
    FileSetError error = CheckLength(cbFile, contents.files.size());
    if (error != FileSetError::None) {
        return error;
    }
    if (cbFile > cursor.Left()) {
        return FileSetError::PastTheEnd;
    }
    FileSetFile file{cursor.Offset(), cbFile};
    unsigned char head[kFormatSniffBytes];
    std::size_t cbHead = std::min<std::size_t>(cbFile, sizeof(head));
    error = cursor.Read(head, cbHead);
    if (error != FileSetError::None) {
        return error;
    }
    cursor.Skip(cbFile - cbHead);
    FileFormat format = FileFormat::Unknown;
    error = CheckFormat(head, cbHead, contents.files.size(), contents.format, format);
    if (error != FileSetError::None) {
        return error;
    }
    contents.format = format;
    contents.files.push_back(file);
    return FileSetError::None;
}

}  // namespace

const wchar_t* FileSetErrorText(FileSetError error) {
    switch (error) {
        case FileSetError::None:
            return L"well formed";
        case FileSetError::ReadFailed:
            return L"the stream could not be read";
        case FileSetError::WriteFailed:
            return L"the stream could not be written";
        case FileSetError::NotASet:
            return L"no file set signature";
        case FileSetError::UnknownVersion:
            return L"a file set version this monitor does not know";
        case FileSetError::Truncated:
            return L"the stream ends before the end of the set";
        case FileSetError::FileTooLarge:
            return L"a file larger than 1 GiB";
        case FileSetError::PastTheEnd:
            return L"a file longer than what is left of the stream";
        case FileSetError::EmptyFile:
            return L"an empty file";
        case FileSetError::NotAPage:
            return L"a file that is no PNG, JPEG, SVG or EMF";
        case FileSetError::MixedFormats:
            return L"files of different formats";
        case FileSetError::TooManyFiles:
            return L"more than 100000 files";
        case FileSetError::NoFiles:
            return L"no files";
        case FileSetError::WrongCount:
            return L"a count that is not the number of files";
        case FileSetError::TrailingBytes:
            return L"bytes after the end of the set";
    }
    return L"unknown";
}

FileSetError ReadFileSet(FileSetSource& source, std::uint64_t cbStream, FileSetContents& contents) {
    contents = FileSetContents();
    Cursor cursor(source, cbStream);
    FileSetError error = ReadHeader(cursor);
    std::uint32_t length = 0;
    while (error == FileSetError::None && (error = cursor.ReadNumber(length)) == FileSetError::None &&
           length != kEndOfFiles) {
        error = ReadFrame(cursor, length, contents);
    }
    std::uint32_t count = 0;
    if (error == FileSetError::None) {
        error = cursor.ReadNumber(count);
    }
    if (error != FileSetError::None) {
        return error;
    }
    if (contents.files.empty()) {
        return FileSetError::NoFiles;
    }
    if (count != contents.files.size()) {
        return FileSetError::WrongCount;
    }
    return cursor.Left() == 0 ? FileSetError::None : FileSetError::TrailingBytes;
}

FileSetError FileSetWriter::Begin() {
    if (!sink_.Write(kFileSetSignature, sizeof(kFileSetSignature))) {
        return FileSetError::WriteFailed;
    }
    return Put(kFileSetVersion);
}

FileSetError FileSetWriter::Add(const unsigned char* pFile, std::size_t cbFile) {
    FileSetError error = CheckLength(cbFile, count_);
    FileFormat format = FileFormat::Unknown;
    if (error == FileSetError::None) {
        error = CheckFormat(pFile, std::min(cbFile, kFormatSniffBytes), count_, format_, format);
    }
    if (error == FileSetError::None) {
        error = Put(static_cast<std::uint32_t>(cbFile));
    }
    if (error == FileSetError::None && !sink_.Write(pFile, cbFile)) {
        error = FileSetError::WriteFailed;
    }
    if (error == FileSetError::None) {
        format_ = format;
        ++count_;
    }
    return error;
}

FileSetError FileSetWriter::End() {
    if (count_ == 0) {
        return FileSetError::NoFiles;
    }
    FileSetError error = Put(kEndOfFiles);
    return error == FileSetError::None ? Put(count_) : error;
}

FileSetError FileSetWriter::Put(std::uint32_t value) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                    static_cast<unsigned char>(value >> 16),
                                    static_cast<unsigned char>(value >> 24)};
    return sink_.Write(bytes, sizeof(bytes)) ? FileSetError::None : FileSetError::WriteFailed;
}
