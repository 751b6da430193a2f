#include "runtime/value_array.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "runtime/double_array.h"

// Both arrays keep their values in one malloc block so that growing is one realloc, which
// often extends the block in place.
namespace {
template <class T>
T* allocateZeroed(int32_t n)
{
    void* block = std::calloc(n > 0 ? static_cast<size_t>(n) : 1, sizeof(T));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return static_cast<T*>(block);
}

// Enlarges the block from `size` to `size + n` entries, the new ones zero; false (block kept)
// when the memory cannot be had.
template <class T>
bool growBlock(T*& values, int32_t size, int32_t n)
{
    void* block = std::realloc(values, static_cast<size_t>(size + n) * sizeof(T));
    if (block == nullptr) {
        return false;
    }
    values = static_cast<T*>(block);
    std::memset(values + size, 0, static_cast<size_t>(n) * sizeof(T));
    return true;
}
}  // namespace

ValueArray::ValueArray(int32_t count, int32_t extra)
    : count(count), extraCount(extra), values(allocateZeroed<int32_t>(count + extra))
{}

ValueArray::ValueArray(const ValueArray& other)
    : count(other.count), extraCount(other.extraCount), values(allocateZeroed<int32_t>(other.size()))
{
    std::memcpy(values, other.values, static_cast<size_t>(size()) * sizeof(int32_t));
}

ValueArray::~ValueArray()
{
    std::free(values);
}

bool ValueArray::grow(int32_t n)
{
    if (n <= 0) {
        return n == 0;
    }
    if (!growBlock(values, size(), n)) {
        return false;
    }
    extraCount += n;
    return true;
}

void ValueArray::assign(const ValueArray& other)
{
    if (extraCount < other.extraCount && !grow(other.extraCount - extraCount)) {
        throw std::bad_alloc();
    }
    std::memcpy(values, other.values, static_cast<size_t>(count + other.extraCount) * sizeof(int32_t));
}

bool ValueArray::operator==(const ValueArray& other) const
{
    return std::memcmp(values, other.values, static_cast<size_t>(size()) * sizeof(int32_t)) == 0;
}

DoubleArray::DoubleArray(int32_t count, int32_t extraCount)
    : count(count), extraCount(extraCount), values(allocateZeroed<double>(count + extraCount))
{}

DoubleArray::DoubleArray(const DoubleArray& other)
    : count(other.count), extraCount(other.extraCount), values(allocateZeroed<double>(other.size()))
{
    std::memcpy(values, other.values, static_cast<size_t>(size()) * sizeof(double));
}

DoubleArray::~DoubleArray()
{
    std::free(values);
}

bool DoubleArray::grow(int32_t n)
{
    if (n <= 0) {
        return n == 0;
    }
    if (!growBlock(values, size(), n)) {
        return false;
    }
    extraCount += n;
    return true;
}

void DoubleArray::assign(const DoubleArray& other)
{
    if (extraCount < other.extraCount && !grow(other.extraCount - extraCount)) {
        throw std::bad_alloc();
    }
    std::memcpy(values, other.values, static_cast<size_t>(count + other.extraCount) * sizeof(double));
}

bool DoubleArray::operator==(const DoubleArray& other) const
{
    for (int32_t k = 0; k < size(); ++k) {
        if (!(values[k] == other.values[k])) {
            return false;
        }
    }
    return true;
}
