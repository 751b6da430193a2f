#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>

#include "support/object.h"

namespace base {

// Memory callbacks taken by the writers of encoded zones: the allocation callback returns room
// for a number of 32-bit words, the release callback gives such a block back. The context is
// the allocator the caller passed along.
using WordAllocator = uint32_t* (*)(uint32_t words, void* context);
using WordReleaser = void (*)(uint32_t* block, uint32_t words, void* context);

// Plain heap words with the standard array allocation, for callers without a pool. Fails with
// std::bad_alloc when the memory cannot be had. The context is not used.
uint32_t* allocateWords(uint32_t words, void* context);
void freeWords(uint32_t* block, uint32_t words, void* context);

// Hands out small blocks of 32-bit words for stored states. Blocks are carved from 32 MB pools
// with a bump pointer, recycled through free lists of exact sizes (in 8-byte units), and the
// most recently handed-out block, when freed, simply moves the bump pointer back. Free blocks
// are never merged or split. Blocks carry no header; the caller gives back the word count it
// asked for. A request larger than one pool is served by a block of its own.
class DataAllocator : public Object
{
public:
    static constexpr std::size_t poolBytes = 0x2000000;
    static constexpr std::size_t unitBytes = 8;
    static constexpr std::size_t initialTableSize = 145;

    DataAllocator();
    ~DataAllocator() override;
    DataAllocator(const DataAllocator&) = delete;
    DataAllocator& operator=(const DataAllocator&) = delete;

    // Room for n words, 8-byte aligned; null for n = 0.
    uint32_t* allocate(uint32_t n);

    // Gives back a block obtained for n words (the same n). Nothing for n = 0.
    void deallocate(uint32_t* block, uint32_t n);

    // The two operations as callbacks; the context is the allocator.
    static uint32_t* allocateCallback(uint32_t n, void* allocator);
    static void releaseCallback(uint32_t* block, uint32_t n, void* allocator);

    // Forgets every block: keeps only the current pool, frees the older pools and the blocks
    // served on their own, puts the bump pointer back to the start and empties every free list.
    void reset();

    // Whether the block of n words lies inside some pool (or is a block served on its own) and
    // is not on the free list of its size.
    bool isAllocated(const uint32_t* block, uint32_t n) const;

    // Figures for tests and reports.
    std::size_t getTableSize() const { return tableSize; }
    std::size_t getPoolCount() const;
    // Free bytes left at the bump pointer of the current pool.
    std::size_t getAvailable() const { return static_cast<std::size_t>(end - bump); }
    // Bytes held from the system: every pool and every block served on its own.
    std::size_t getTotalMemory() const;
    // Bytes on the free lists, ready for requests of their exact sizes.
    std::size_t getDeallocatedAvailable() const;
    // Bytes handed out and not given back.
    std::size_t getMemoryInUse() const;

    // A report of the figures above, for looking into the memory of a store:
    //   DataAllocator stats: 2 pools allocated
    //   Total memory             : 67108880B	= 64.00MB
    //   Memory allocated         : ...
    //   Available in current pool: ...
    //   Deallocated available    : ...
    //   Details of deallocated memory: [16]=3 [24]=1
    // Sizes are bytes, with the size in KB, MB or GB after "	= " above 1024 bytes; each
    // detail is a block size in bytes and the number of free blocks of that size.
    void printStatistics(std::ostream& out) const;

private:
    struct FreeBlock
    {
        FreeBlock* next;
    };
    // Blocks larger than a pool: each has this header in front of its words.
    struct LargeBlock
    {
        LargeBlock* previous;
        LargeBlock* next;
        std::size_t units;
    };

    static std::size_t unitsFor(uint32_t n) { return (static_cast<std::size_t>(n) + 1) / 2; }

    void pushFree(char* block, std::size_t units);
    void growTable(std::size_t units);
    void newPool();
    uint32_t* allocateLarge(std::size_t units);
    void deallocateLarge(uint32_t* block);

    FreeBlock** freeLists;
    std::size_t tableSize;
    char* pools;  // the current pool; the first word of each pool points to the previous one
    char* bump;
    char* end;
    LargeBlock* largeBlocks = nullptr;
};

}  // namespace base
