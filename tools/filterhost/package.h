// The XPS package on either side of the filters: the reader hands its parts,
// in document order, to the first filter's consumer; the writer takes what the
// last filter hands on and writes the new package in the namespace the
// input had (XPS or OpenXPS).
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/filterhost/hostparts.h"
#include "tools/filterhost/zipwriter.h"
#include "xps/xpspackage.h"

// The whole content of a file.
HRESULT ReadFileBytes(const std::wstring& path, std::string& bytes);

class PackageReader {
public:
    // Opens the package and reads its structure; ticketPath, when not empty,
    // is the job's ticket in place of the package's own.
    HRESULT Open(const std::wstring& path, const std::wstring& ticketPath);
    xps::Flavour Flavour() const { return structure_.flavour; }
    // Sends the package part, the sequence, each document and its pages, then
    // closes the consumer.
    HRESULT Send(IXpsDocumentConsumer* consumer);

private:
    Microsoft::WRL::ComPtr<Part> TicketOf(const std::wstring& partUri);
    Microsoft::WRL::ComPtr<Part> MakePart(PartKind kind, const std::wstring& uri);
    HRESULT MakePage(const std::wstring& uri, Microsoft::WRL::ComPtr<Part>& page);

    xps::XpsPackage package_;
    xps::FixedStructure structure_;
    Microsoft::WRL::ComPtr<Part> jobTicket_;
    std::map<std::wstring, Microsoft::WRL::ComPtr<Part>> resources_;  // by part key
};

class PackageWriter {
public:
    HRESULT Create(const std::wstring& path, xps::Flavour flavour);
    // Takes parts until the provider's end, then writes the package's
    // structure; a failure leaves no package behind.
    HRESULT Receive(IXpsDocumentProvider* provider);
    void Discard();

private:
    using Targets = std::vector<std::pair<xps::Relation, std::wstring>>;
    HRESULT WritePart(const std::wstring& uri, const std::string& bytes, const std::wstring& contentType);
    HRESULT WriteHostPart(Part* part);
    HRESULT WriteRelationships(const std::wstring& sourceUri, const Targets& targets);
    HRESULT WritePage(IFixedPage* page);
    HRESULT Finish();

    struct Document {
        std::wstring uri;
        Microsoft::WRL::ComPtr<Part> ticket;
        std::vector<std::wstring> pages;
    };
    std::wstring path_;
    xps::Flavour flavour_ = xps::Flavour::Xps;
    ZipWriter zip_;
    std::wstring sequenceUri_ = L"/FixedDocumentSequence.fdseq";
    Microsoft::WRL::ComPtr<Part> sequenceTicket_;
    std::vector<Document> documents_;
    std::map<std::wstring, std::wstring> contentTypes_;
    std::set<std::wstring> written_;  // part keys
};
