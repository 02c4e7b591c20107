// The package reader on any bytes: the ZIP container, content types,
// relationships and the fixed structure, and every part read whole.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/check.h"
#include "xps/workbudget.h"
#include "xps/xpspackage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A job's budget, as the converter charges it.
    xps::WorkBudget budget(xps::WorkBudget::ForInput(size), 0);
    xps::WorkBudget::Scope charged(budget);
    xps::XpsPackage package;
    if (FAILED(package.Open(std::make_unique<xps::BorrowedSource>(data, size)))) {
        return 0;
    }
    xps::FixedStructure structure;
    if (SUCCEEDED(package.ReadStructure(structure))) {
        FUZZ_CHECK(package.Has(structure.sequence));
        std::size_t pages = 0;
        for (const xps::FixedDocumentInfo& document : structure.documents) {
            FUZZ_CHECK(package.Has(document.name));
            for (const std::wstring& page : document.pages) {
                FUZZ_CHECK(package.Has(page));
            }
            for (const auto& target : document.linkTargets) {
                FUZZ_CHECK(target.second < document.pages.size());
            }
            pages += document.pages.size();
        }
        FUZZ_CHECK(pages <= xps::XpsPackage::kMaxPages);
    }
    xps::ZipArchive zip;
    if (FAILED(zip.Open(std::make_unique<xps::BorrowedSource>(data, size)))) {
        return 0;
    }
    std::vector<xps::Relationship> relationships;
    package.Relationships(L"/", relationships);
    for (const std::wstring& name : zip.PartNames()) {
        FUZZ_CHECK(zip.Has(name) && package.Has(name));
        std::string content;
        if (SUCCEEDED(zip.Read(name, content))) {
            FUZZ_CHECK(content.size() <= xps::ZipCaps().partSize);
        }
        package.ContentType(name);
        package.Relationships(name, relationships);
        for (const xps::Relationship& relationship : relationships) {
            FUZZ_CHECK(relationship.relation == xps::RelationOf(relationship.type));
        }
    }
    return 0;
}
