// The port monitor's reader of file sets on any stream. A set it accepts
// must be exactly what the writer makes of the files it lists: written
// again, the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/check.h"
#include "platform/fileset.h"

namespace {

class Source : public FileSetSource {
public:
    Source(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool ReadAt(std::uint64_t offset, unsigned char* pBytes, std::size_t cb) override {
        FUZZ_CHECK(offset <= size_ && cb <= size_ - offset);
        std::memcpy(pBytes, data_ + offset, cb);
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

class Sink : public FileSetSink {
public:
    bool Write(const unsigned char* pBytes, std::size_t cb) override {
        bytes.append(reinterpret_cast<const char*>(pBytes), cb);
        return true;
    }
    std::string bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Source source(data, size);
    FileSetContents contents;
    if (ReadFileSet(source, size, contents) != FileSetError::None) {
        return 0;
    }
    FUZZ_CHECK(!contents.files.empty() && contents.files.size() <= kMaxFileSetFiles);
    FUZZ_CHECK(IsPageFormat(contents.format));
    Sink sink;
    FileSetWriter writer(sink);
    FUZZ_CHECK(writer.Begin() == FileSetError::None);
    for (const FileSetFile& file : contents.files) {
        FUZZ_CHECK(file.size > 0 && file.size <= kMaxFileSetFileBytes);
        FUZZ_CHECK(file.offset <= size && file.size <= size - file.offset);
        FUZZ_CHECK(FormatOf(data + file.offset, file.size) == contents.format);
        FUZZ_CHECK(writer.Add(data + file.offset, file.size) == FileSetError::None);
    }
    FUZZ_CHECK(writer.End() == FileSetError::None);
    FUZZ_CHECK(sink.bytes.size() == size && std::memcmp(sink.bytes.data(), data, size) == 0);
    return 0;
}
