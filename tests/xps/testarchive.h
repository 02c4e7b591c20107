// ZIP archives built in memory item by item, laid out as package writers
// lay them down: for the tests of the package reader and of what reads
// packages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ziptest {

// An item as a writer lays it down; the directory may claim another size.
struct Item {
    std::string name, data;
    bool deflate = true;
    bool descriptor = false;  // sizes after the data, zero in the local header
    bool zip64 = false;       // sizes and offset in the ZIP64 extra field
    std::uint64_t claimedSize = ~0ull;
    std::optional<std::uint64_t> claimedCompressedSize = std::nullopt;  // ZIP64 only
};

// The items, then their directory; zip64End adds the ZIP64 end records.
std::string Archive(const std::vector<Item>& items, bool zip64End = false);

}  // namespace ziptest
