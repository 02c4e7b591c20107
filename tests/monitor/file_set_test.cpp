// What a file's first bytes show (PDF and XPS: see print_job_test.cpp), and
// file sets: the streams the reader refuses, and a set the writer makes read
// back as its files.
#include <cstring>

#include "platform/fileset.h"
#include "tests/monitor/monitor_test_support.h"

namespace {

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + "page";
const std::string kJpeg = "\xFF\xD8\xFF\xE0page";

std::string Number(std::uint32_t value) {
    return {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
            static_cast<char>(value >> 24)};
}
std::string Header(std::uint32_t version = kFileSetVersion) {
    return std::string(reinterpret_cast<const char*>(kFileSetSignature), 8) + Number(version);
}
std::string Frame(const std::string& file) { return Number(static_cast<std::uint32_t>(file.size())) + file; }
std::string End(std::uint32_t count) { return Number(0xFFFFFFFF) + Number(count); }

// The stream in memory; a read past its end fails the test.
class StringSource : public FileSetSource {
public:
    explicit StringSource(const std::string& bytes) : bytes_(bytes) {}
    bool ReadAt(std::uint64_t offset, unsigned char* pBytes, std::size_t cb) override {
        if (offset > bytes_.size() || cb > bytes_.size() - offset) {
            ADD_FAILURE() << "read of " << cb << " bytes at " << offset << " past " << bytes_.size();
            return false;
        }
        std::memcpy(pBytes, bytes_.data() + offset, cb);
        return true;
    }

private:
    const std::string& bytes_;
};

FileSetError Read(const std::string& stream, FileSetContents& contents) {
    StringSource source(stream);
    return ReadFileSet(source, stream.size(), contents);
}

FileFormat FormatOfText(const std::string& head) {
    return FormatOf(reinterpret_cast<const unsigned char*>(head.data()), head.size());
}

TEST(FileFormats, TheFirstBytesTellTheFormat) {
    std::string emf(44, '\0');
    emf[0] = 1;
    emf.replace(40, 4, " EMF");
    const struct {
        std::string head;
        FileFormat format;
    } kCases[] = {
        {kPng, FileFormat::Png},
        {kJpeg, FileFormat::Jpeg},
        {std::string("II*\0", 4), FileFormat::Tiff},
        {std::string("MM\0*", 4), FileFormat::Tiff},
        {emf, FileFormat::Emf},
        {"\x02" + emf.substr(1), FileFormat::Unknown},
        {"<?xml version=\"1.0\"?>\n<!-- <html> -->\n<!DOCTYPE svg [<!ENTITY e \">\">]>\n<svg width=\"1\"/>",
         FileFormat::Svg},
        {"\xEF\xBB\xBF<svg>", FileFormat::Svg},
        {"<svgx>", FileFormat::Unknown},
        {"<?xml version=\"1.0\"?><html>", FileFormat::Unknown},
        {"<?xml?>" + std::string(kFormatSniffBytes, ' ') + "<svg>", FileFormat::Unknown},
        {Header(), FileFormat::FileSet},
        {"", FileFormat::Unknown},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(FormatOfText(c.head), c.format) << c.head;
    }
}

TEST(FileSets, MalformedStreamsAreRefused) {
    std::string tooMany = Header();
    for (std::uint32_t i = 0; i <= kMaxFileSetFiles; ++i) {
        tooMany += Frame(kPng);
    }
    const struct {
        const char* name;
        std::string stream;
        FileSetError error;
    } kCases[] = {
        {"not a set", "%PDF-1.7", FileSetError::NotASet},
        {"truncated header", Header().substr(0, 10), FileSetError::Truncated},
        {"another version", Header(2) + Frame(kPng) + End(1), FileSetError::UnknownVersion},
        {"truncated length", Header() + Frame(kPng) + "\x05", FileSetError::Truncated},
        {"no end", Header() + Frame(kPng), FileSetError::Truncated},
        {"truncated count", Header() + Frame(kPng) + End(1).substr(0, 6), FileSetError::Truncated},
        {"length past the cap", Header() + Number(kMaxFileSetFileBytes + 1) + kPng,
         FileSetError::FileTooLarge},
        {"length past the stream", Header() + Number(100) + kPng + End(1), FileSetError::PastTheEnd},
        {"no files", Header() + End(0), FileSetError::NoFiles},
        {"an empty file", Header() + Frame("") + Frame(kPng) + End(2), FileSetError::EmptyFile},
        {"a file of no page format", Header() + Frame("%PDF-1.7") + End(1), FileSetError::NotAPage},
        {"mixed formats", Header() + Frame(kPng) + Frame(kJpeg) + End(2), FileSetError::MixedFormats},
        {"a wrong count", Header() + Frame(kPng) + End(2), FileSetError::WrongCount},
        {"trailing bytes", Header() + Frame(kPng) + End(1) + "x", FileSetError::TrailingBytes},
        {"too many files", tooMany, FileSetError::TooManyFiles},
    };
    for (const auto& c : kCases) {
        FileSetContents contents;
        EXPECT_EQ(Read(c.stream, contents), c.error) << c.name;
    }
}

TEST(FileSets, ASetTheWriterMakesReadsBackAsItsFiles) {
    const std::string kSecond = kJpeg + std::string(3000, 'x');
    std::string stream = FileSetOf({kJpeg, kSecond});
    FileSetContents contents;
    ASSERT_EQ(Read(stream, contents), FileSetError::None);
    EXPECT_EQ(contents.format, FileFormat::Jpeg);
    ASSERT_EQ(contents.files.size(), 2u);
    EXPECT_EQ(stream.substr(contents.files[0].offset, contents.files[0].size), kJpeg);
    EXPECT_EQ(stream.substr(contents.files[1].offset, contents.files[1].size), kSecond);

    // What the reader would refuse, the writer refuses before writing it.
    struct NullSink : FileSetSink {
        bool Write(const unsigned char*, std::size_t) override { return true; }
    } sink;
    FileSetWriter writer(sink);
    auto add = [&](const std::string& file) {
        return writer.Add(reinterpret_cast<const unsigned char*>(file.data()), file.size());
    };
    EXPECT_EQ(writer.Begin(), FileSetError::None);
    EXPECT_EQ(writer.End(), FileSetError::NoFiles);
    EXPECT_EQ(add(""), FileSetError::EmptyFile);
    EXPECT_EQ(add("%PDF-1.7"), FileSetError::NotAPage);
    EXPECT_EQ(add(kPng), FileSetError::None);
    EXPECT_EQ(add(kJpeg), FileSetError::MixedFormats);
}

}  // namespace
