#pragma once

// Internal to the language core: the pointer that expression_t, type_t, binding_t
// and scope_t hold to their shared node. Not meant for use outside src/language.

#include <utility>

namespace ZOLT {

// A pointer to a node that carries its own reference count in an integer member
// `count`; a node starts with a count of 1, for the handle that makes it. Copying
// shares the node, the last pointer to let go of it deletes it. It is as wide as a
// plain pointer and converts to one, so the handles read their nodes through it as
// they would through a plain pointer.
//
// Counting and deleting need the node's definition, which only the handle's
// implementation file has. So they are defined out of line, the handle's header
// declares `extern template class counted_ref<Node>;` after the handle, and its
// implementation file instantiates `template class counted_ref<Node>;` after the
// node's definition. The handle's copy, move and destroy members are then the
// defaulted ones, in its header.
template <typename Node>
class counted_ref
{
public:
    counted_ref() = default;
    // Takes over the one reference that a new node starts with.
    explicit counted_ref(Node* adopted) noexcept : pointer(adopted) {}
    // A further pointer to a node that others hold already.
    static counted_ref share(Node* node) noexcept
    {
        retain(node);
        return counted_ref(node);
    }

    counted_ref(const counted_ref& other) noexcept : pointer(other.pointer) { retain(pointer); }
    counted_ref(counted_ref&& other) noexcept : pointer(std::exchange(other.pointer, nullptr)) {}

    counted_ref& operator=(const counted_ref& other) noexcept
    {
        // Count the new node before letting go of the old one: assigning a pointer to
        // itself must not delete its node.
        Node* old = pointer;
        pointer = other.pointer;
        retain(pointer);
        release(old);
        return *this;
    }

    counted_ref& operator=(counted_ref&& other) noexcept
    {
        if (this != &other) {
            Node* old = pointer;
            pointer = std::exchange(other.pointer, nullptr);
            release(old);
        }
        return *this;
    }

    ~counted_ref() { release(pointer); }

    Node* get() const noexcept { return pointer; }
    Node* operator->() const noexcept { return pointer; }
    operator Node*() const noexcept { return pointer; }

private:
    // Out of line, as they need the node's definition (see above).
    static void retain(Node* node) noexcept;
    static void release(Node* node) noexcept;

    Node* pointer = nullptr;
};

template <typename Node>
void counted_ref<Node>::retain(Node* node) noexcept
{
    if (node != nullptr) {
        ++node->count;
    }
}

template <typename Node>
void counted_ref<Node>::release(Node* node) noexcept
{
    if (node != nullptr && --node->count == 0) {
        delete node;
    }
}

} // namespace ZOLT
