#include "support/pool.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <new>
#include <sstream>

namespace {

using base::DataAllocator;

constexpr std::size_t poolUnits = DataAllocator::poolBytes / DataAllocator::unitBytes;

// Words that make a request of the given number of 8-byte units.
uint32_t wordsFor(std::size_t units)
{
    return static_cast<uint32_t>(2 * units);
}

TEST(DataAllocator, BumpPointerMovesBackForTheLastBlock)
{
    DataAllocator allocator;
    EXPECT_EQ(allocator.allocate(0), nullptr);
    allocator.deallocate(nullptr, 0);

    const std::size_t full = allocator.getAvailable();
    struct Case
    {
        const char* name;
        uint32_t allocated;
        uint32_t freed;
        uint32_t next;
    };
    // Odd and even word counts round up to the same 8-byte units.
    const Case cases[] = {{"3 freed as 3", 3, 3, 4}, {"3 freed as 4", 3, 4, 4}, {"1 freed as 2", 1, 2, 1}};
    for (const auto& c : cases) {
        uint32_t* first = allocator.allocate(c.allocated);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first) % 8, 0u) << c.name;
        allocator.deallocate(first, c.freed);
        EXPECT_EQ(allocator.getAvailable(), full) << c.name;
        uint32_t* again = allocator.allocate(c.next);
        EXPECT_EQ(again, first) << c.name;
        allocator.deallocate(again, c.next);
    }
}

TEST(DataAllocator, FreedBlocksAreReusedOnlyForTheirExactSize)
{
    DataAllocator allocator;
    uint32_t* a = allocator.allocate(4);
    uint32_t* b = allocator.allocate(4);
    EXPECT_EQ(b, a + 4);
    const std::size_t afterB = allocator.getAvailable();

    allocator.deallocate(a, 4);  // not the last block: goes to the list for 2 units
    EXPECT_FALSE(allocator.isAllocated(a, 4));
    EXPECT_TRUE(allocator.isAllocated(b, 4));
    allocator.deallocate(b, 4);  // the last block: only the bump pointer moves back
    EXPECT_EQ(allocator.getAvailable(), afterB + 16);

    uint32_t* c = allocator.allocate(6);  // 3 units: not served from the 2-unit list
    EXPECT_EQ(c, b);
    uint32_t* d = allocator.allocate(3);  // 2 units: pops A
    EXPECT_EQ(d, a);
    EXPECT_TRUE(allocator.isAllocated(d, 3));
    uint32_t* e = allocator.allocate(4);  // list empty again: bump
    EXPECT_EQ(e, c + 6);
}

TEST(DataAllocator, FreeListTableGrowsForLargeBlocks)
{
    DataAllocator allocator;
    EXPECT_EQ(allocator.getTableSize(), 145u);
    uint32_t* big = allocator.allocate(wordsFor(300));
    uint32_t* guard = allocator.allocate(2);
    allocator.deallocate(big, wordsFor(300));
    EXPECT_EQ(allocator.getTableSize(), 308u);
    EXPECT_EQ(allocator.allocate(wordsFor(300) - 1), big);  // 599 words are also 300 units
    allocator.deallocate(guard, 2);
}

TEST(DataAllocator, RestOfAFullPoolGoesToItsFreeList)
{
    DataAllocator allocator;
    uint32_t* bulk = allocator.allocate(wordsFor(poolUnits - 5));
    ASSERT_EQ(allocator.getAvailable(), 5 * DataAllocator::unitBytes);
    EXPECT_EQ(allocator.getPoolCount(), 1u);

    uint32_t* six = allocator.allocate(wordsFor(6));
    EXPECT_EQ(allocator.getPoolCount(), 2u);
    six[11] = 1;
    uint32_t* rest = allocator.allocate(wordsFor(5));
    EXPECT_EQ(rest, bulk + wordsFor(poolUnits - 5));
    rest[9] = 1;  // the whole rest of the old pool is usable
    EXPECT_TRUE(allocator.isAllocated(rest, wordsFor(5)));
}

TEST(DataAllocator, RequestLargerThanAPoolIsServedOnItsOwn)
{
    DataAllocator allocator;
    uint32_t* small = allocator.allocate(2);
    const std::size_t available = allocator.getAvailable();

    const uint32_t huge = static_cast<uint32_t>(DataAllocator::poolBytes / 4 + 2);
    uint32_t* block = allocator.allocate(huge);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 8, 0u);
    block[0] = 1;
    block[huge - 1] = 2;  // the sanitizer build catches any overrun
    EXPECT_EQ(allocator.getAvailable(), available);
    EXPECT_EQ(allocator.getPoolCount(), 1u);
    EXPECT_TRUE(allocator.isAllocated(block, huge));

    uint32_t* second = allocator.allocate(huge + 1);
    second[huge] = 3;
    allocator.deallocate(block, huge);
    EXPECT_FALSE(allocator.isAllocated(block, huge));
    EXPECT_EQ(allocator.getAvailable(), available);
    EXPECT_EQ(allocator.allocate(2), small + 2);
    // "second" is freed with the allocator.
}

TEST(DataAllocator, ExactlyOnePoolIsServedFromAPool)
{
    DataAllocator allocator;
    uint32_t* first = allocator.allocate(2);
    uint32_t* whole = allocator.allocate(static_cast<uint32_t>(DataAllocator::poolBytes / 4));
    EXPECT_EQ(allocator.getPoolCount(), 2u);
    EXPECT_EQ(allocator.getAvailable(), 0u);
    whole[DataAllocator::poolBytes / 4 - 1] = 7;
    EXPECT_TRUE(allocator.isAllocated(first, 2));
}

TEST(DataAllocator, CallbacksAndResetAndCounting)
{
    base::RefPtr<DataAllocator> allocator(new DataAllocator());
    void* context = allocator.get();
    base::WordAllocator allocate = &DataAllocator::allocateCallback;
    base::WordReleaser release = &DataAllocator::releaseCallback;
    uint32_t* a = allocate(5, context);
    uint32_t* b = allocate(5, context);
    release(a, 5, context);
    EXPECT_FALSE(allocator->isAllocated(a, 5));

    allocator->allocate(wordsFor(poolUnits));  // forces a second pool
    EXPECT_EQ(allocator->getPoolCount(), 2u);
    allocator->reset();
    EXPECT_EQ(allocator->getPoolCount(), 1u);
    EXPECT_EQ(allocator->getAvailable(), DataAllocator::poolBytes);
    EXPECT_FALSE(allocator->isAllocated(b, 5));
    (void)b;

    uint32_t* words = base::allocateWords(3, nullptr);
    words[2] = 1;
    base::freeWords(words, 3, nullptr);
}

}  // namespace


namespace {

using base::DataAllocator;

// The report of a store's memory: pools, bytes held, handed out, left at the bump pointer and
// on the free lists, and the free blocks by size.
TEST(DataAllocator, StatisticsReportTheMemoryHeldAndFree)
{
    DataAllocator allocator;
    uint32_t* a = allocator.allocate(4);     // 16 bytes
    uint32_t* b = allocator.allocate(4);
    uint32_t* c = allocator.allocate(6);     // 24 bytes
    allocator.allocate(2);                   // 8 bytes, the last one handed out
    allocator.deallocate(a, 4);
    allocator.deallocate(b, 4);
    allocator.deallocate(c, 6);
    EXPECT_EQ(allocator.getDeallocatedAvailable(), 56u);
    EXPECT_EQ(allocator.getMemoryInUse(), 8u);
    EXPECT_EQ(allocator.getTotalMemory(), 8 + DataAllocator::poolBytes);

    std::ostringstream out;
    allocator.printStatistics(out);
    EXPECT_EQ(out.str(), "DataAllocator stats: 1 pools allocated\n"
                         "Total memory             : 33554440B\t= 32.00MB\n"
                         "Memory allocated         : 8B\n"
                         "Available in current pool: 33554368B\t= 32.00MB\n"
                         "Deallocated available    : 56B\n"
                         "Details of deallocated memory: [16]=2 [24]=1\n");

    // A second pool and a block served on its own count in the memory held and in use.
    allocator.allocate(uint32_t(DataAllocator::poolBytes / 4 - 4));
    uint32_t* large = allocator.allocate(uint32_t(DataAllocator::poolBytes / 4 + 2));
    EXPECT_EQ(allocator.getPoolCount(), 2u);
    EXPECT_EQ(allocator.getMemoryInUse(), 8 + (DataAllocator::poolBytes - 16) + DataAllocator::poolBytes + 8);
    allocator.deallocate(large, uint32_t(DataAllocator::poolBytes / 4 + 2));
    EXPECT_EQ(allocator.getTotalMemory(), 2 * (8 + DataAllocator::poolBytes));
}

}  // namespace
