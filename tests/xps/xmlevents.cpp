// xmlevents FILE...: what the markup reader reads of each file, one line per
// event, for comparing with another XML parser: "(uri local", "A uri local
// value" (attributes sorted), "- text" (text between tags joined), ")", or
// one line "ERROR" where the reader fails. Text is escaped: \n, \t, \\.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "xps/xmlreader.h"
#include "xps/xmlwriter.h"

namespace {

std::string Escaped(const std::wstring& text) {
    std::string out;
    for (char c : xml::ToUtf8(text))
        out += c == '\n'   ? std::string("\\n")
               : c == '\t' ? std::string("\\t")
               : c == '\r' ? std::string("\\r")
               : c == '\\' ? std::string("\\\\")
                           : std::string(1, c);
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::printf("FILE %s\n", xml::ToUtf8(argv[i]).c_str());
        xml::XmlReader reader;
        HRESULT hr = reader.Open(bytes);
        std::wstring text;
        auto flush = [&] {
            if (!text.empty())
                std::printf("- %s\n", Escaped(text).c_str());
            text.clear();
        };
        xml::Node node;
        while (SUCCEEDED(hr) && SUCCEEDED(hr = reader.Next(node)) && node != xml::Node::End) {
            if (node == xml::Node::Text) {
                text += reader.Text();
                continue;
            }
            flush();
            if (node == xml::Node::EndElement) {
                std::printf(")\n");
                continue;
            }
            std::printf("(%s %s\n", Escaped(reader.NamespaceUri()).c_str(),
                        Escaped(reader.LocalName()).c_str());
            std::vector<xml::Attribute> attributes = reader.Attributes();
            std::sort(attributes.begin(), attributes.end(),
                      [](const xml::Attribute& a, const xml::Attribute& b) {
                          return a.uri != b.uri ? a.uri < b.uri : a.local < b.local;
                      });
            for (const xml::Attribute& attribute : attributes)
                std::printf("A %s %s %s\n", Escaped(attribute.uri).c_str(), Escaped(attribute.local).c_str(),
                            Escaped(attribute.value).c_str());
        }
        if (FAILED(hr))
            std::printf("ERROR\n");
    }
    return 0;
}
