// Helpers shared by the unit tests.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <windows.h>

// The whole file as bytes; empty when it does not exist.
inline std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Creates or replaces a file with the given bytes.
inline void WriteBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream(path.c_str(), std::ios::binary) << bytes;
}

inline bool FileExists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The messages of a log's records, each without "[time stamp] " and CR LF.
inline std::vector<std::string> LogMessages(const std::wstring& path) {
    std::vector<std::string> messages;
    std::string bytes = ReadBytes(path);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n[", start);
        end = end == std::string::npos ? bytes.size() : end + 2;
        std::string record = bytes.substr(start, end - start);
        const size_t prefix = std::string("[Sun Dec 06 16:33:14 2026] ").size();
        if (record.size() >= prefix + 2 && record.compare(record.size() - 2, 2, "\r\n") == 0) {
            messages.push_back(record.substr(prefix, record.size() - prefix - 2));
        } else {
            messages.push_back("<malformed record: " + record + ">");
        }
        start = end;
    }
    return messages;
}
