#pragma once

// Runs a piece of a test on a thread with a small stack, so that a walk that recurses once per
// element of a long list overflows it (and the test fails loudly) at list lengths the tests can
// afford, with or without the sanitizers' larger frames.

#include <malloc.h>
#include <pthread.h>

#include <cstddef>
#include <exception>
#include <functional>

namespace testkit {

inline constexpr size_t smallStackBytes = 256 * 1024;

// Calls `work` on a new thread whose stack holds `bytes`, waits for it and rethrows what it threw.
inline void onSmallStack(const std::function<void()>& work, size_t bytes = smallStackBytes)
{
    struct Call
    {
        const std::function<void()>* work;
        std::exception_ptr failure;
    } call{&work, nullptr};
    // The thread allocates from the main arena: a fresh arena of its own would grow page by
    // page, a system call each time, and make the tests slow for nothing.
    mallopt(M_ARENA_MAX, 1);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, bytes);
    pthread_t thread;
    const int started = pthread_create(
        &thread, &attributes,
        [](void* argument) -> void* {
            auto* c = static_cast<Call*>(argument);
            try {
                (*c->work)();
            } catch (...) {
                c->failure = std::current_exception();
            }
            return nullptr;
        },
        &call);
    pthread_attr_destroy(&attributes);
    if (started != 0) {
        work();
        return;
    }
    pthread_join(thread, nullptr);
    if (call.failure) {
        std::rethrow_exception(call.failure);
    }
}

} // namespace testkit
