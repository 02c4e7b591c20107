// ReadAhead: every page in order, nothing read past a failure, and no more
// than the pages it may hold ahead when the writer stops.
#include "engine/readahead.h"

#include <atomic>

#include <gtest/gtest.h>

namespace {

// Reads page index as a page index wide; fails at failAt. Counts its reads.
struct Reader {
    std::size_t failAt;
    std::atomic<std::size_t> reads{0};
    HRESULT operator()(std::size_t index, engine::Page& page) {
        ++reads;
        page.width = static_cast<double>(index);
        return index == failAt ? E_FAIL : S_OK;
    }
};

TEST(ReadAhead, GivesThePagesInOrderUpToTheFirstFailure) {
    const struct { std::size_t count, failAt; } cases[] = {{1, 99}, {7, 99}, {7, 0}, {7, 3}, {7, 6}};
    for (const auto& c : cases) {
        Reader reader{c.failAt};
        std::size_t taken = 0;
        {
            engine::ReadAhead pages(c.count,
                                    [&](std::size_t i, engine::Page& p, bool) { return reader(i, p); });
            engine::Page page;
            HRESULT hr = S_OK;
            for (; taken < c.count && SUCCEEDED(hr); ++taken) {
                hr = pages.Next(page);
                EXPECT_EQ(static_cast<double>(taken), page.width) << c.count << " " << c.failAt;
                EXPECT_EQ(taken == c.failAt ? E_FAIL : S_OK, hr) << taken;
            }
            EXPECT_EQ(E_UNEXPECTED, pages.Next(page)) << "past the last page or a failure";
        }
        std::size_t expected = c.failAt < c.count ? c.failAt + 1 : c.count;
        EXPECT_EQ(expected, taken);
        EXPECT_EQ(expected, reader.reads.load()) << "read past a failure";
    }
}

// The reader works for the writer only while pages wait for it: the first
// pages, which the writer waits for, are read with nothing else.
TEST(ReadAhead, SparesTimeOnlyWithPagesWaiting) {
    std::atomic<std::size_t> reads{0};
    std::atomic<bool> spared[engine::ReadAhead::kDepth] = {};
    {
        engine::ReadAhead pages(50, [&](std::size_t i, engine::Page&, bool spare) {
            spared[i] = spare;
            ++reads;
            return S_OK;
        });
        for (int waited = 0; reads.load() < engine::ReadAhead::kDepth && waited < 10000; ++waited) {
            ::Sleep(1);
        }
    }
    ASSERT_EQ(engine::ReadAhead::kDepth, reads.load()) << "the reader stops when its pages are not taken";
    for (std::size_t i = 0; i < engine::ReadAhead::kDepth; ++i) {
        EXPECT_EQ(i >= engine::ReadAhead::kSpare, spared[i].load()) << i;
    }
}

TEST(ReadAhead, StoppedWriterLeavesAtMostItsDepthRead) {
    Reader reader{99};
    {
        engine::ReadAhead pages(50, [&](std::size_t i, engine::Page& p, bool) { return reader(i, p); });
        engine::Page page;
        ASSERT_EQ(S_OK, pages.Next(page));
    }
    EXPECT_LE(reader.reads.load(), engine::ReadAhead::kDepth + 1);
}

}  // namespace
