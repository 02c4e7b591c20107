// The XPS package on either side of the filters: the reader hands its parts,
// in document order, to the first filter's consumer; the writer takes what the
// last filter hands on and writes the new package.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "driver/filterhost/hostparts.h"
#include "driver/filterhost/ziparchive.h"

// The whole content of a file.
HRESULT ReadFileBytes(const std::wstring& path, std::string& bytes);

class PackageReader {
public:
    // Opens the package; ticketPath, when not empty, is the job's ticket in
    // place of the package's own.
    HRESULT Open(const std::wstring& path, const std::wstring& ticketPath);
    // Sends the package part, the sequence, each document and its pages, then
    // closes the consumer.
    HRESULT Send(IXpsDocumentConsumer* consumer);

private:
    HRESULT LoadPart(const std::wstring& uri, std::string& bytes);
    std::vector<std::pair<std::wstring, std::wstring>> Relationships(const std::wstring& partUri);
    Microsoft::WRL::ComPtr<Part> TicketOf(const std::wstring& partUri);
    Microsoft::WRL::ComPtr<Part> MakePart(PartKind kind, const std::wstring& uri);
    std::wstring ContentTypeOf(const std::wstring& uri) const;

    ZipReader zip_;
    Microsoft::WRL::ComPtr<Part> jobTicket_;
    std::map<std::wstring, std::wstring> defaults_;   // extension -> content type
    std::map<std::wstring, std::wstring> overrides_;  // part name -> content type
    std::map<std::wstring, Microsoft::WRL::ComPtr<Part>> resources_;
    // The filters read parts on their own threads.
    struct ZipLock {
        ZipLock() { ::InitializeCriticalSection(&section); }
        ~ZipLock() { ::DeleteCriticalSection(&section); }
        CRITICAL_SECTION section;
    } zipLock_;
};

class PackageWriter {
public:
    HRESULT Create(const std::wstring& path);
    // Takes parts until the provider's end, then writes the package's
    // structure; a failure leaves no package behind.
    HRESULT Receive(IXpsDocumentProvider* provider);
    void Discard();

private:
    HRESULT WritePart(const std::wstring& uri, const std::string& bytes, const std::wstring& contentType);
    HRESULT WriteHostPart(Part* part);
    HRESULT WriteRelationships(const std::wstring& sourceUri,
                               const std::vector<std::pair<std::wstring, std::wstring>>& targets);
    HRESULT WritePage(IFixedPage* page);
    HRESULT Finish();

    struct Document {
        std::wstring uri;
        Microsoft::WRL::ComPtr<Part> ticket;
        std::vector<std::wstring> pages;
    };
    std::wstring path_;
    ZipWriter zip_;
    std::wstring sequenceUri_ = L"/FixedDocumentSequence.fdseq";
    Microsoft::WRL::ComPtr<Part> sequenceTicket_;
    std::vector<Document> documents_;
    std::map<std::wstring, std::wstring> contentTypes_;
    std::set<std::wstring> written_;
};
