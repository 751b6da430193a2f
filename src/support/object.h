#pragma once

#include <cstdint>
#include <utility>

namespace base {

// Base of every long-lived shared object. The object carries its own reference count; counted
// handles (RefPtr) raise it when they take the object and lower it when they let go, and the
// release that brings it to zero calls destroy(). Counts are plain integers: each process has
// one thread.
class Object
{
public:
    Object() = default;
    // A copy is a new object: it starts unreferenced whatever the count of its source.
    Object(const Object&) {}
    Object& operator=(const Object&) { return *this; }
    virtual ~Object() = default;

    // Ends the object once its last reference is gone. Deletes it by default; a subclass may
    // return itself to a pool instead.
    virtual void destroy() { delete this; }

    int32_t getRefCount() const { return refCount; }

    // Takes one reference. (Named apart from the release operations of subclasses, which
    // mean something else.)
    void incRef() { ++refCount; }

    // Gives one reference back; the last one destroys the object.
    void decRef()
    {
        if (--refCount == 0) {
            destroy();
        }
    }

private:
    int32_t refCount = 0;
};

// A counted handle, one pointer wide, on an Object or a subclass; null is allowed.
template <class T>
class RefPtr
{
public:
    RefPtr() noexcept = default;
    RefPtr(std::nullptr_t) noexcept {}
    RefPtr(T* target) : ptr(target)
    {
        if (ptr != nullptr) {
            ptr->incRef();
        }
    }
    RefPtr(const RefPtr& other) : RefPtr(other.ptr) {}
    RefPtr(RefPtr&& other) noexcept : ptr(std::exchange(other.ptr, nullptr)) {}
    template <class U>
    RefPtr(const RefPtr<U>& other) : RefPtr(other.get())
    {}
    template <class U>
    RefPtr(RefPtr<U>&& other) noexcept : ptr(other.detach())
    {}

    ~RefPtr() { release(); }

    // Takes the new target before letting go of the old one, so that assigning a handle to
    // itself (or to another handle on the same object) never destroys the object.
    RefPtr& operator=(const RefPtr& other)
    {
        assign(other.ptr);
        return *this;
    }
    RefPtr& operator=(RefPtr&& other) noexcept
    {
        if (this != &other) {
            release();
            ptr = std::exchange(other.ptr, nullptr);
        }
        return *this;
    }
    RefPtr& operator=(T* target)
    {
        assign(target);
        return *this;
    }
    template <class U>
    RefPtr& operator=(const RefPtr<U>& other)
    {
        assign(other.get());
        return *this;
    }

    // Lets go of the target (destroying it when this was its last handle); the handle is null
    // afterwards. Does nothing on a null handle.
    void release()
    {
        if (ptr != nullptr) {
            T* old = std::exchange(ptr, nullptr);
            old->decRef();
        }
    }

    // Gives up the reference without lowering the count; the caller now owns it.
    T* detach() noexcept { return std::exchange(ptr, nullptr); }

    T* get() const noexcept { return ptr; }
    T* operator->() const noexcept { return ptr; }
    T& operator*() const noexcept { return *ptr; }
    explicit operator bool() const noexcept { return ptr != nullptr; }

    friend bool operator==(const RefPtr& a, const RefPtr& b) noexcept { return a.ptr == b.ptr; }
    friend bool operator==(const RefPtr& a, std::nullptr_t) noexcept { return a.ptr == nullptr; }

private:
    void assign(T* target)
    {
        if (target != nullptr) {
            target->incRef();
        }
        release();
        ptr = target;
    }

    T* ptr = nullptr;
};

}  // namespace base
