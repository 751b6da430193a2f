// The path of a depth-first search: entries of one hash are met newest first, however many
// there are (the table that finds them doubles on the way), and taking the top entry off hands
// the hash to the entry below it.

#include <gtest/gtest.h>

#include <vector>

#include "runtime/edge.h"
#include "statespace/search_path.h"

namespace {

// The depths of the entries with the hash, in the order the path gives them.
std::vector<size_t> depthsWithHash(SearchPath& path, uint32_t hash)
{
    std::vector<size_t> depths;
    for (SearchPath::Entry* entry = path.newestWithHash(hash); entry != nullptr; entry = entry->olderWithHash) {
        EXPECT_EQ(entry->hash, hash);
        depths.push_back(entry->depth);
    }
    return depths;
}

TEST(SearchPath, EntriesOfAHashComeNewestFirstAsThePathGrowsAndShrinks)
{
    // Three hashes that share the table's top bits (so one bucket) and many others around them,
    // enough for the table to double several times. The path holds no states.
    const uint32_t shared[] = {0x12340001u, 0x12340002u, 0x12340003u};
    SearchPath path;
    std::vector<std::vector<size_t>> expected(3);
    const size_t count = 40000;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t hash = i % 4 == 3 ? static_cast<uint32_t>(i * 2654435761u) : shared[i % 4];
        path.push(hash, nullptr, emptyEdgeTuple(), {});
        EXPECT_EQ(path.top()->depth, i + 1);
        if (i % 4 != 3) {
            expected[i % 4].insert(expected[i % 4].begin(), i + 1);
        }
    }
    EXPECT_EQ(path.size(), count);
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(depthsWithHash(path, shared[k]), expected[k]) << k;
    }

    // Down to the first thousand entries: each hash keeps its older entries, newest first.
    while (path.size() > 1000) {
        const size_t depth = path.top()->depth;
        EXPECT_EQ(path.popTop(), nullptr);
        if (depth % 4 != 0) {
            std::vector<size_t>& left = expected[(depth - 1) % 4];
            ASSERT_EQ(left.front(), depth);
            left.erase(left.begin());
        }
    }
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(depthsWithHash(path, shared[k]), expected[k]) << k;
    }
    path.clear();
    EXPECT_TRUE(path.empty());
    EXPECT_EQ(path.newestWithHash(shared[0]), nullptr);
}

}  // namespace
