#pragma once

// A world of several processes inside one test process: each rank runs a script on a thread of
// its own, but only one rank runs at a time, handing over at every call that has to wait and at
// every test that finds its request incomplete (so polling ranks take turns). The
// schedule is therefore deterministic, and a wait that no rank can ever satisfy is found: when
// every live rank is waiting and none can go on, the world reports a deadlock (every waiting call
// then throws) instead of hanging. Sends are buffered, as small messages are under MPI.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "smc/communicator.h"

namespace smctest {

class FakeWorld
{
public:
    using Script = std::function<void(smc::Communicator& world)>;

    explicit FakeWorld(int size);
    ~FakeWorld();

    // Runs one script per rank (script r on rank r) until all have returned. False after a
    // deadlock; failures() says which ranks were stuck or threw.
    bool run(const std::vector<Script>& scripts);
    const std::vector<std::string>& failures() const { return errors; }

    // Messages sent and never received, and receives posted and never completed or cancelled.
    size_t undeliveredMessages() const;
    size_t pendingReceives() const;

    // Lets the other ranks run (a rank's scripted work between two calls).
    void yield(int rank);
    // The communicator of a rank (for set-up outside the scripts).
    smc::Communicator& endpoint(int rank);

private:
    class Endpoint;
    struct Message
    {
        int source;
        int tag;
        std::vector<char> data;
    };
    struct Receive
    {
        int rank;
        char* buffer;
        size_t capacity;
        int source;
        int tag;
        size_t request;
    };
    struct Collective
    {
        std::string kind;
        int joined = 0;
        int left = 0;
        std::vector<std::vector<int64_t>> contributions;
        std::vector<int64_t> result;
    };

    // Called with the lock held by the rank that holds the baton.
    void deliver(int destination, Message message);
    bool matches(const Receive& r, const Message& m) const;
    void progress();
    // Waits (handing the baton on) until the condition holds; throws on a deadlock.
    void waitFor(std::unique_lock<std::mutex>& lock, int rank, const std::function<bool()>& condition);
    void passBaton(int rank);

    int size;
    mutable std::mutex mutex;
    std::condition_variable changed;
    int holder = 0;
    std::vector<bool> finished;
    int stalls = 0;
    bool deadlock = false;
    std::vector<std::list<Message>> mailboxes;
    std::list<Receive> posted;
    std::vector<bool> complete;  // per request
    std::list<Collective> collectives;
    std::vector<size_t> collectiveIndex;  // per rank: collectives joined so far
    std::vector<std::string> errors;
    std::vector<std::unique_ptr<Endpoint>> endpoints;
};

}  // namespace smctest
