#include "runtime/value_array.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "runtime/double_array.h"

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
}  // namespace

template <class T>
ValueBlock<T>::ValueBlock(int32_t count, int32_t extraCount)
    : count(count), extraCount(extraCount), values(allocateZeroed<T>(count + extraCount))
{}

template <class T>
ValueBlock<T>::ValueBlock(const ValueBlock& other)
    : count(other.count), extraCount(other.extraCount), values(allocateZeroed<T>(other.size()))
{
    std::memcpy(values, other.values, static_cast<size_t>(size()) * sizeof(T));
}

template <class T>
ValueBlock<T>::~ValueBlock()
{
    std::free(values);
}

template <class T>
bool ValueBlock<T>::grow(int32_t n)
{
    if (n <= 0) {
        return n == 0;
    }
    void* block = std::realloc(values, static_cast<size_t>(size() + n) * sizeof(T));
    if (block == nullptr) {
        return false;
    }
    values = static_cast<T*>(block);
    std::memset(values + size(), 0, static_cast<size_t>(n) * sizeof(T));
    extraCount += n;
    return true;
}

template <class T>
void ValueBlock<T>::assign(const ValueBlock& other)
{
    if (extraCount < other.extraCount && !grow(other.extraCount - extraCount)) {
        throw std::bad_alloc();
    }
    std::memcpy(values, other.values, static_cast<size_t>(count + other.extraCount) * sizeof(T));
}

template class ValueBlock<int32_t>;
template class ValueBlock<double>;

bool ValueArray::operator==(const ValueArray& other) const
{
    return std::memcmp(values, other.values, static_cast<size_t>(size()) * sizeof(int32_t)) == 0;
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
