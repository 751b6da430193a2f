#include "support/pool.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <new>
#include <ostream>
#include <string>

namespace base {

namespace {

// Each pool starts with the link to the previous pool, followed by its blocks.
constexpr std::size_t linkBytes = 8;

char*& previousPool(char* pool)
{
    return *reinterpret_cast<char**>(pool);
}

}  // namespace

uint32_t* allocateWords(uint32_t words, void*)
{
    return new uint32_t[words];
}

void freeWords(uint32_t* block, uint32_t, void*)
{
    delete[] block;
}

DataAllocator::DataAllocator()
    : freeLists(new FreeBlock*[initialTableSize]()), tableSize(initialTableSize), pools(nullptr), bump(nullptr),
      end(nullptr)
{
    try {
        newPool();
    } catch (...) {
        delete[] freeLists;
        throw;
    }
}

DataAllocator::~DataAllocator()
{
    while (pools != nullptr) {
        char* previous = previousPool(pools);
        ::operator delete(pools);
        pools = previous;
    }
    while (largeBlocks != nullptr) {
        LargeBlock* next = largeBlocks->next;
        ::operator delete(largeBlocks);
        largeBlocks = next;
    }
    delete[] freeLists;
}

void DataAllocator::newPool()
{
    char* pool = static_cast<char*>(::operator new(linkBytes + poolBytes));
    previousPool(pool) = pools;
    pools = pool;
    bump = pool + linkBytes;
    end = bump + poolBytes;
}

void DataAllocator::growTable(std::size_t units)
{
    const std::size_t size = units + 8;
    FreeBlock** table = new FreeBlock*[size]();
    std::copy(freeLists, freeLists + tableSize, table);
    delete[] freeLists;
    freeLists = table;
    tableSize = size;
}

void DataAllocator::pushFree(char* block, std::size_t units)
{
    if (units >= tableSize) {
        growTable(units);
    }
    auto* node = reinterpret_cast<FreeBlock*>(block);
    node->next = freeLists[units];
    freeLists[units] = node;
}

uint32_t* DataAllocator::allocate(uint32_t n)
{
    if (n == 0) {
        return nullptr;
    }
    const std::size_t units = unitsFor(n);
    if (units < tableSize && freeLists[units] != nullptr) {
        FreeBlock* block = freeLists[units];
        freeLists[units] = block->next;
        return reinterpret_cast<uint32_t*>(block);
    }
    const std::size_t bytes = units * unitBytes;
    if (bytes > poolBytes) {
        return allocateLarge(units);
    }
    if (bytes > static_cast<std::size_t>(end - bump)) {
        // The current pool is used up: its rest becomes a free block, and a new pool serves.
        const std::size_t rest = static_cast<std::size_t>(end - bump) / unitBytes;
        if (rest > 0) {
            pushFree(bump, rest);
            bump = end;
        }
        newPool();
    }
    char* block = bump;
    bump += bytes;
    return reinterpret_cast<uint32_t*>(block);
}

void DataAllocator::deallocate(uint32_t* block, uint32_t n)
{
    if (n == 0 || block == nullptr) {
        return;
    }
    const std::size_t units = unitsFor(n);
    const std::size_t bytes = units * unitBytes;
    if (bytes > poolBytes) {
        deallocateLarge(block);
        return;
    }
    char* start = reinterpret_cast<char*>(block);
    // The last block handed out from the current pool: take it back at the bump pointer.
    if (start + bytes == bump && std::less_equal<>()(pools + linkBytes, start)) {
        bump = start;
        return;
    }
    pushFree(start, units);
}

uint32_t* DataAllocator::allocateLarge(std::size_t units)
{
    auto* large = static_cast<LargeBlock*>(::operator new(sizeof(LargeBlock) + units * unitBytes));
    large->previous = nullptr;
    large->next = largeBlocks;
    large->units = units;
    if (largeBlocks != nullptr) {
        largeBlocks->previous = large;
    }
    largeBlocks = large;
    return reinterpret_cast<uint32_t*>(large + 1);
}

void DataAllocator::deallocateLarge(uint32_t* block)
{
    LargeBlock* large = reinterpret_cast<LargeBlock*>(block) - 1;
    if (large->previous != nullptr) {
        large->previous->next = large->next;
    } else {
        largeBlocks = large->next;
    }
    if (large->next != nullptr) {
        large->next->previous = large->previous;
    }
    ::operator delete(large);
}

uint32_t* DataAllocator::allocateCallback(uint32_t n, void* allocator)
{
    return static_cast<DataAllocator*>(allocator)->allocate(n);
}

void DataAllocator::releaseCallback(uint32_t* block, uint32_t n, void* allocator)
{
    static_cast<DataAllocator*>(allocator)->deallocate(block, n);
}

void DataAllocator::reset()
{
    char* older = previousPool(pools);
    while (older != nullptr) {
        char* previous = previousPool(older);
        ::operator delete(older);
        older = previous;
    }
    previousPool(pools) = nullptr;
    bump = pools + linkBytes;
    while (largeBlocks != nullptr) {
        LargeBlock* next = largeBlocks->next;
        ::operator delete(largeBlocks);
        largeBlocks = next;
    }
    std::fill(freeLists, freeLists + tableSize, nullptr);
}

bool DataAllocator::isAllocated(const uint32_t* block, uint32_t n) const
{
    const std::size_t units = unitsFor(n);
    const char* start = reinterpret_cast<const char*>(block);
    bool inside = false;
    if (units * unitBytes > poolBytes) {
        for (const LargeBlock* large = largeBlocks; large != nullptr && !inside; large = large->next) {
            inside = reinterpret_cast<const uint32_t*>(large + 1) == block;
        }
        return inside;
    }
    for (const char* pool = pools; pool != nullptr && !inside; pool = *reinterpret_cast<char* const*>(pool)) {
        const char* first = pool + linkBytes;
        const char* limit = pool == pools ? bump : first + poolBytes;
        inside = std::less_equal<>()(first, start) && std::less<>()(start, limit);
    }
    if (!inside) {
        return false;
    }
    if (units < tableSize) {
        for (const FreeBlock* free = freeLists[units]; free != nullptr; free = free->next) {
            if (reinterpret_cast<const char*>(free) == start) {
                return false;
            }
        }
    }
    return true;
}

std::size_t DataAllocator::getTotalMemory() const
{
    std::size_t total = getPoolCount() * (linkBytes + poolBytes);
    for (const LargeBlock* large = largeBlocks; large != nullptr; large = large->next) {
        total += sizeof(LargeBlock) + large->units * unitBytes;
    }
    return total;
}

std::size_t DataAllocator::getDeallocatedAvailable() const
{
    std::size_t bytes = 0;
    for (std::size_t units = 0; units < tableSize; ++units) {
        for (const FreeBlock* free = freeLists[units]; free != nullptr; free = free->next) {
            bytes += units * unitBytes;
        }
    }
    return bytes;
}

std::size_t DataAllocator::getMemoryInUse() const
{
    // Every pool but the current one was filled to its end (its rest went to a free list).
    std::size_t carved = (getPoolCount() - 1) * poolBytes + static_cast<std::size_t>(bump - (pools + linkBytes));
    for (const LargeBlock* large = largeBlocks; large != nullptr; large = large->next) {
        carved += large->units * unitBytes;
    }
    return carved - getDeallocatedAvailable();
}

namespace {

// A number of bytes, "B" after it, and from 1024 bytes on the size in the largest fitting unit.
std::string bytesText(std::size_t bytes)
{
    std::string text = std::to_string(bytes) + "B";
    if (bytes > 1024) {
        static const char* const units[] = {"KB", "MB", "GB", "TB"};
        double value = static_cast<double>(bytes) / 1024;
        std::size_t unit = 0;
        while (value >= 1024 && unit + 1 < std::size(units)) {
            value /= 1024;
            ++unit;
        }
        char scaled[64];
        std::snprintf(scaled, sizeof scaled, "\t= %.2f%s", value, units[unit]);
        text += scaled;
    }
    return text;
}

}  // namespace

void DataAllocator::printStatistics(std::ostream& out) const
{
    out << "DataAllocator stats: " << getPoolCount() << " pools allocated\n"
        << "Total memory             : " << bytesText(getTotalMemory()) << "\n"
        << "Memory allocated         : " << bytesText(getMemoryInUse()) << "\n"
        << "Available in current pool: " << bytesText(getAvailable()) << "\n"
        << "Deallocated available    : " << bytesText(getDeallocatedAvailable()) << "\n"
        << "Details of deallocated memory:";
    for (std::size_t units = 0; units < tableSize; ++units) {
        std::size_t count = 0;
        for (const FreeBlock* free = freeLists[units]; free != nullptr; free = free->next) {
            ++count;
        }
        if (count > 0) {
            out << " [" << units * unitBytes << "]=" << count;
        }
    }
    out << "\n";
}

std::size_t DataAllocator::getPoolCount() const
{
    std::size_t count = 0;
    for (const char* pool = pools; pool != nullptr; pool = *reinterpret_cast<char* const*>(pool)) {
        ++count;
    }
    return count;
}

}  // namespace base
