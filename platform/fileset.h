// A file set: several files in one job's stream, the way the output filter
// sends one file per page (PNG, JPEG, SVG, EMF) through the port, and the way
// the port monitor takes them apart again. The stream comes from a process
// with fewer rights than the monitor, which runs as SYSTEM: the reader takes
// no length on trust, checks the whole stream before anything is made of it,
// and allocates nothing that a length in the stream decides.
//
// The stream, integers little-endian:
//   signature  8 bytes  89 5A 43 52 0D 0A 1A 0A ("\x89ZCR\r\n\x1a\n": no
//                       single file starts so, and a transfer that changed
//                       line ends spoils it)
//   version    4 bytes  1
//   one frame per file, in page order:
//     length   4 bytes  1 to kMaxFileSetFileBytes
//     bytes    the file itself; a frame carries no name, the monitor names
//              every file
//   end        4 bytes  FF FF FF FF
//   count      4 bytes  how many frames came, 1 to kMaxFileSetFiles
// and nothing after. Every file is of one per-page format, told from its
// first bytes by FormatOf.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/fileformat.h"

extern const unsigned char kFileSetSignature[8];
constexpr std::uint32_t kFileSetVersion = 1;
constexpr std::uint32_t kMaxFileSetFiles = 100000;
constexpr std::uint32_t kMaxFileSetFileBytes = 1u << 30;  // 1 GiB

// Why a set was refused, or could not be read or written.
enum class FileSetError {
    None,
    ReadFailed,      // the source failed
    WriteFailed,     // the sink failed
    NotASet,         // no signature
    UnknownVersion,  // a version this reader does not know
    Truncated,       // the stream ends inside the header, a length, or before the end
    FileTooLarge,    // a length past kMaxFileSetFileBytes
    PastTheEnd,      // a length past what is left of the stream
    EmptyFile,       // a length of 0
    NotAPage,        // a file of no per-page format
    MixedFormats,    // a file of another format than the first
    TooManyFiles,    // more than kMaxFileSetFiles
    NoFiles,         // the end right after the header
    WrongCount,      // the count is not the number of frames
    TrailingBytes,   // bytes after the count
};

// The reason in words, for the job's status and the event log.
const wchar_t* FileSetErrorText(FileSetError error);

// Where a set's stream is read: any part of it, by its offset.
class FileSetSource {
public:
    virtual ~FileSetSource() = default;
    // Reads exactly cb bytes at offset; false when that fails.
    virtual bool ReadAt(std::uint64_t offset, unsigned char* pBytes, std::size_t cb) = 0;
};

// Where a set's stream is written, in order.
class FileSetSink {
public:
    virtual ~FileSetSink() = default;
    // False when the bytes could not all be written.
    virtual bool Write(const unsigned char* pBytes, std::size_t cb) = 0;
};

// One file of a set: where its bytes are in the stream.
struct FileSetFile {
    std::uint64_t offset;
    std::uint32_t size;
};

struct FileSetContents {
    FileFormat format = FileFormat::Unknown;
    std::vector<FileSetFile> files;
};

// Checks the whole stream, cbStream bytes, frame by frame, and lists its
// files; contents is complete only when the answer is FileSetError::None.
FileSetError ReadFileSet(FileSetSource& source, std::uint64_t cbStream, FileSetContents& contents);

// Writes a set to the sink: Begin, Add for each file, End. A file the reader
// would refuse is refused here, before any of its bytes is written.
class FileSetWriter {
public:
    explicit FileSetWriter(FileSetSink& sink) : sink_(sink) {}

    FileSetError Begin();
    FileSetError Add(const unsigned char* pFile, std::size_t cbFile);
    FileSetError End();

private:
    FileSetError Put(std::uint32_t value);

    FileSetSink& sink_;
    FileFormat format_ = FileFormat::Unknown;
    std::uint32_t count_ = 0;
};
