// The markup reader on any bytes, every node read, with a depth bound the
// input chooses.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/check.h"
#include "xps/workbudget.h"
#include "xps/xmlreader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    // A job's budget, as the converter charges it.
    xps::WorkBudget budget(xps::WorkBudget::ForInput(size), 0);
    xps::WorkBudget::Scope charged(budget);
    xml::XmlReader reader;
    std::size_t maxDepth = 1 + data[0] % 64;
    reader.SetMaxDepth(maxDepth);
    if (FAILED(reader.Open(data + 1, size - 1))) {
        return 0;
    }
    xml::Node node;
    HRESULT hr;
    while (SUCCEEDED(hr = reader.Next(node)) && node != xml::Node::End) {
        FUZZ_CHECK(reader.Depth() <= maxDepth);
        if (node == xml::Node::StartElement) {
            FUZZ_CHECK(!reader.LocalName().empty());
            for (const xml::Attribute& attribute : reader.Attributes()) {
                FUZZ_CHECK(!attribute.local.empty());
                FUZZ_CHECK(attribute.prefix.empty() || !attribute.uri.empty());
                if (attribute.prefix.empty()) {
                    FUZZ_CHECK(reader.Find(attribute.local) != nullptr);
                }
            }
            std::wstring uri;
            FUZZ_CHECK(reader.LookupNamespace(reader.Prefix(), uri) || reader.Prefix().empty());
        }
    }
    if (SUCCEEDED(hr)) {
        // The end comes only after the root element closed.
        FUZZ_CHECK(reader.Depth() == 0);
    } else {
        // A failure sticks.
        FUZZ_CHECK(FAILED(reader.Next(node)));
    }
    return 0;
}
