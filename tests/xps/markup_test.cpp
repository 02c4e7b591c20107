// The markup layer: what the reader refuses, the encodings it reads, what
// the writer escapes, and numbers that no locale changes.
#include <clocale>
#include <string>

#include <gtest/gtest.h>

#include "xps/workbudget.h"
#include "xps/xmlnumber.h"
#include "xps/xmlreader.h"
#include "xps/xmlwriter.h"

namespace {

// Every node of the markup, or the first failure.
HRESULT ReadAll(const std::string& bytes, std::wstring* text = nullptr, std::size_t depth = 256) {
    xml::XmlReader reader;
    reader.SetMaxDepth(depth);
    HRESULT hr = reader.Open(bytes);
    xml::Node node;
    while (SUCCEEDED(hr) && SUCCEEDED(hr = reader.Next(node)) && node != xml::Node::End) {
        if (text != nullptr && node == xml::Node::Text)
            *text += reader.Text();
        if (text != nullptr && node == xml::Node::StartElement)
            for (const xml::Attribute& attribute : reader.Attributes())
                *text += L"[" + attribute.local + L"=" + attribute.value + L"]";
    }
    return hr;
}

TEST(XmlReader, RefusesWhatIsNotWellFormedAndEveryDocumentType) {
    struct {
        const char* markup;
        HRESULT expected;
    } cases[] = {
        {"<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>", xml::kDocumentTypeRefused},
        {"<a>&e;</a>", xml::kMalformed},
        {"<a><b></a>", xml::kMalformed},
        {"<a>", xml::kMalformed},
        {"<a x='1' x='2'/>", xml::kMalformed},
        {"<a xmlns:p='u' xmlns:q='u' p:x='1' q:x='2'/>", xml::kMalformed},
        {"<p:a/>", xml::kMalformed},
        {"<a/><b/>", xml::kMalformed},
        {"<a/>text", xml::kMalformed},
        {"<a x='<'/>", xml::kMalformed},
        {"<a>&#0;</a>", xml::kMalformed},
        {"<a>]]></a>", xml::kMalformed},
        {"<a><!-- a -- b --></a>", xml::kMalformed},
        {"<a>\x01</a>", xml::kUnsupportedEncoding},
        {"<a>\xC0\xAF</a>", xml::kUnsupportedEncoding},
        {"<?xml version='1.0' encoding='ISO-8859-1'?><a/>", xml::kUnsupportedEncoding},
        {"", xml::kMalformed},
        {"<a><a><a><a/></a></a></a>", xml::kTooDeep},
        {"<?xml version='1.0'?><!-- c --><?pi x?><a><![CDATA[<]]>&lt;&#x10000;</a>", S_OK},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, ReadAll(c.markup, nullptr, 3)) << c.markup;
}

// Attribute names are checked for twins, and namespace prefixes resolved,
// however many an element has; under a job each costs its share.
TEST(XmlReader, AnElementOfManyAttributesHasEachNameOnce) {
    auto element = [](const char* prefix, const std::string& last) {
        std::string markup = "<a xmlns:p='urn:u' xmlns:q='urn:u'";
        for (int i = 0; i < 100000; ++i) {
            markup += std::string(" ") + prefix + "x" + std::to_string(i) + "='1'";
        }
        return markup + last + "/>";
    };
    const struct {
        std::string markup;
        HRESULT expected;
    } cases[] = {
        {element("", ""), S_OK},
        {element("", " x0='2'"), xml::kMalformed},
        {element("p:", " x0='2'"), S_OK},
        {element("p:", " q:x99999='2'"), xml::kMalformed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, ReadAll(c.markup)) << c.markup.substr(c.markup.size() - 40);
    }
    xps::WorkBudget budget(1000, 0);
    xps::WorkBudget::Scope scope(budget);
    EXPECT_EQ(xps::kWorkExhausted, ReadAll(cases[0].markup));
}

// UTF-16 pages past 64 KiB with characters on every boundary: what Wine's
// XmlLite misreads.
TEST(XmlReader, ReadsUtf16AndUtf8Alike) {
    std::wstring text;
    for (int i = 0; i < 40000; ++i)
        text += static_cast<wchar_t>(i % 3 == 0 ? 0x00E9 : i % 3 == 1 ? 0x4E2D : L'a');
    std::wstring markup = L"<a x=\"" + text + L"\">" + text + L"</a>";
    std::string utf8 = "\xEF\xBB\xBF" + xml::ToUtf8(markup), little = "\xFF\xFE", big = "\xFE\xFF";
    for (wchar_t c : markup) {
        little += static_cast<char>(c & 0xFF);
        little += static_cast<char>(c >> 8);
        big += static_cast<char>(c >> 8);
        big += static_cast<char>(c & 0xFF);
    }
    std::wstring expected = L"[x=" + text + L"]" + text;
    for (const std::string& bytes : {utf8, little, big}) {
        std::wstring read;
        ASSERT_EQ(S_OK, ReadAll(bytes, &read));
        EXPECT_TRUE(read == expected);
    }
}

// What the writer writes, the reader reads back unchanged: markup
// characters, white space in attributes, xml:lang, characters past the BMP.
TEST(XmlWriter, WhatItWritesReadsBackUnchanged) {
    const std::wstring values[] = {L"R&D", L"<a href=\"x\">'y'</a>",   L"tab\there\nline\r\nend",
                                   L"]]>", L"\U0001F600 \u00e9\u4e2d", L""};
    for (const std::wstring& value : values) {
        std::string out;
        xml::XmlWriter writer(out);
        writer.WriteDeclaration();
        writer.StartElement(L"", L"Glyphs", L"http://schemas.microsoft.com/xps/2005/06");
        writer.Attribute(L"xml", L"lang", xml::kXmlNamespace, L"de-DE");
        writer.Attribute(L"UnicodeString", value);
        writer.Text(value);
        writer.EndDocument();
        xml::XmlReader reader;
        xml::Node node;
        ASSERT_EQ(S_OK, reader.Open(out));
        ASSERT_EQ(S_OK, reader.Next(node));
        ASSERT_EQ(2u, reader.Attributes().size()) << out;
        EXPECT_EQ(xml::kXmlNamespace, reader.Attributes()[0].uri);
        EXPECT_EQ(L"de-DE", reader.Attributes()[0].value);
        EXPECT_TRUE(value == reader.Attributes()[1].value) << out;
        std::wstring text;
        while (reader.Next(node) == S_OK && node == xml::Node::Text)
            text += reader.Text();
        EXPECT_TRUE(value == text) << out;
    }
}

// A namespace the writer was not told to declare is declared where it is
// first used, and a prefix taken on the element gives way.
TEST(XmlWriter, DeclaresTheNamespacesItsNamesUse) {
    std::string out;
    xml::XmlWriter writer(out);
    writer.StartElement(L"", L"Canvas", L"urn:a");
    writer.Attribute(L"x", L"Key", L"urn:k", L"1");
    writer.Attribute(L"x", L"Other", L"urn:other", L"2");
    writer.StartElement(L"", L"Path", L"urn:a");
    writer.EndDocument();
    xml::XmlReader reader;
    xml::Node node;
    ASSERT_EQ(S_OK, reader.Open(out));
    ASSERT_EQ(S_OK, reader.Next(node));
    ASSERT_EQ(2u, reader.Attributes().size()) << out;
    EXPECT_EQ(L"urn:k", reader.Attributes()[0].uri);
    EXPECT_EQ(L"urn:other", reader.Attributes()[1].uri);
    ASSERT_EQ(S_OK, reader.Next(node));
    EXPECT_EQ(L"urn:a", reader.NamespaceUri());
    EXPECT_EQ(std::string::npos, out.find("<Path xmlns")) << out;
}

TEST(XmlNumber, AppendsTheDecimalsAsked) {
    const struct {
        double value;
        int decimals;
        const char* text;
    } cases[] = {{-0.1234567, 6, "-0.123457"}, {2.5, 0, "3"}, {1.0e-9, 8, "0"}, {12.25, 12, "12.25"}};
    for (const auto& c : cases) {
        std::string text;
        xml::AppendFixed(c.value, text, c.decimals);
        EXPECT_EQ(c.text, text) << c.value << " to " << c.decimals;
    }
}

// Under a decimal-comma locale, as any code in the process may set one.
TEST(XmlNumber, IgnoresTheProcessLocale) {
    ASSERT_NE(nullptr, std::setlocale(LC_ALL, "German_Germany.1252"));
    ASSERT_EQ(',', *std::localeconv()->decimal_point);
    struct {
        const wchar_t* text;
        double value;
        const wchar_t* formatted;
    } cases[] = {
        {L"12.5", 12.5, L"12.5"},
        {L" -0.0625 ", -0.0625, L"-0.0625"},
        {L"+.75", 0.75, L"0.75"},
        {L"1.2E-3", 0.0012, L"0.0012"},
        {L"1025.4545454545453", 1025.4545454545453, L"1025.4545"},
        {L"3", 3, L"3"},
        {L"-0.00001", -0.00001, L"0"},
        {L"2e20", 2e20, L"2E20"},
    };
    for (const auto& c : cases) {
        double value = -1;
        EXPECT_TRUE(xml::ParseNumber(c.text, value)) << c.text;
        EXPECT_DOUBLE_EQ(c.value, value) << c.text;
        EXPECT_EQ(c.formatted, xml::FormatNumber(c.value)) << c.text;
    }
    for (const wchar_t* bad : {L"", L"12,5", L"1e", L"--1", L"1.2.3", L"0x10", L"1e999", L"nan"}) {
        double value;
        EXPECT_FALSE(xml::ParseNumber(bad, value)) << bad;
    }
    std::setlocale(LC_ALL, "C");
}

}  // namespace
