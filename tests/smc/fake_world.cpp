#include "fake_world.h"

#include <cstring>
#include <stdexcept>
#include <thread>

namespace smctest {

namespace {

struct Deadlock : std::runtime_error
{
    Deadlock() : std::runtime_error("deadlock: every live rank waits for something that never comes") {}
};

size_t bytesOf(smc::DataType type)
{
    switch (type) {
    case smc::DataType::Int:
        return 4;
    case smc::DataType::Byte:
        return 1;
    case smc::DataType::Long:
    case smc::DataType::Double:
        return 8;
    }
    return 1;
}

}  // namespace

class FakeWorld::Endpoint : public smc::Communicator
{
public:
    Endpoint(FakeWorld& world, int rank) : world(world), me(rank) {}

    int rank() const override { return me; }
    int size() const override { return world.size; }

    void isend(const void* buffer, int count, smc::DataType type, int destination, int tag,
               smc::Request& request) override
    {
        std::unique_lock<std::mutex> lock(world.mutex);
        const size_t n = static_cast<size_t>(count) * bytesOf(type);
        Message m{me, tag, std::vector<char>(n)};
        if (n > 0) {
            std::memcpy(m.data.data(), buffer, n);
        }
        world.deliver(destination, std::move(m));
        request.handle = newRequest(true);
        request.active = true;
        world.progress();
    }

    void irecv(void* buffer, int count, smc::DataType type, int source, int tag, smc::Request& request) override
    {
        std::unique_lock<std::mutex> lock(world.mutex);
        const size_t h = newRequest(false);
        request.handle = h;
        request.active = true;
        Receive r{me, static_cast<char*>(buffer), static_cast<size_t>(count) * bytesOf(type), source, tag, h};
        std::list<Message>& box = world.mailboxes[static_cast<size_t>(me)];
        for (auto it = box.begin(); it != box.end(); ++it) {
            if (world.matches(r, *it)) {
                copy(r, *it);
                world.complete[h] = true;
                box.erase(it);
                world.progress();
                return;
            }
        }
        world.posted.push_back(r);
    }

    void send(const void* buffer, int count, smc::DataType type, int destination, int tag) override
    {
        smc::Request r;
        isend(buffer, count, type, destination, tag, r);
        wait(r);
    }

    void recv(void* buffer, int count, smc::DataType type, int source, int tag) override
    {
        smc::Request r;
        irecv(buffer, count, type, source, tag, r);
        wait(r);
    }

    bool test(smc::Request& request) override
    {
        std::unique_lock<std::mutex> lock(world.mutex);
        if (!request.active) {
            return true;
        }
        if (!world.complete[request.handle]) {
            // Nothing yet: the others run meanwhile, as they would in parallel.
            if (!world.deadlock) {
                world.passBaton(me);
                world.changed.wait(lock, [&] { return world.holder == me || world.deadlock; });
            }
            return world.complete[request.handle] && (request.active = false, true);
        }
        request.active = false;
        return true;
    }

    void wait(smc::Request& request) override
    {
        std::unique_lock<std::mutex> lock(world.mutex);
        if (!request.active) {
            return;
        }
        const size_t h = request.handle;
        world.waitFor(lock, me, [&] { return world.complete[h] == true; });
        request.active = false;
    }

    void waitAll(smc::Request* requests, int n) override
    {
        for (int k = 0; k < n; ++k) {
            wait(requests[k]);
        }
    }

    void cancel(smc::Request& request) override
    {
        std::unique_lock<std::mutex> lock(world.mutex);
        if (!request.active) {
            return;
        }
        world.posted.remove_if([&](const Receive& r) { return r.request == request.handle; });
        request.active = false;
    }

    void reduceSum(const int64_t* values, int64_t* totals, int n, int root) override
    {
        std::vector<int64_t> result = collective("reduce", std::vector<int64_t>(values, values + n), [&](Collective& c) {
            std::vector<int64_t> sum(static_cast<size_t>(n), 0);
            for (const auto& part : c.contributions) {
                for (int k = 0; k < n; ++k) {
                    sum[static_cast<size_t>(k)] += part[static_cast<size_t>(k)];
                }
            }
            return sum;
        });
        if (me == root) {
            std::copy(result.begin(), result.end(), totals);
        }
    }

    void gather(int64_t value, int64_t* values, int root) override
    {
        std::vector<int64_t> result = collective("gather", {value}, [&](Collective& c) {
            std::vector<int64_t> all;
            for (const auto& part : c.contributions) {
                all.push_back(part[0]);
            }
            return all;
        });
        if (me == root) {
            std::copy(result.begin(), result.end(), values);
        }
    }

    int agreeMax(int value) override
    {
        std::vector<int64_t> result = collective("agree", {value}, [&](Collective& c) {
            int64_t largest = c.contributions[0][0];
            for (const auto& part : c.contributions) {
                largest = std::max(largest, part[0]);
            }
            return std::vector<int64_t>{largest};
        });
        return static_cast<int>(result[0]);
    }

private:
    size_t newRequest(bool done)
    {
        world.complete.push_back(done);
        return world.complete.size() - 1;
    }

    void copy(const Receive& r, const Message& m)
    {
        if (m.data.size() > r.capacity) {
            throw std::runtime_error("message larger than the receive buffer");
        }
        if (!m.data.empty()) {
            std::memcpy(r.buffer, m.data.data(), m.data.size());
        }
    }

    std::vector<int64_t> collective(const std::string& kind, std::vector<int64_t> contribution,
                                    const std::function<std::vector<int64_t>(Collective&)>& combine)
    {
        std::unique_lock<std::mutex> lock(world.mutex);
        const size_t index = world.collectiveIndex[static_cast<size_t>(me)]++;
        while (world.collectives.size() <= index) {
            world.collectives.emplace_back();
            world.collectives.back().contributions.resize(static_cast<size_t>(world.size));
        }
        Collective& c = *std::next(world.collectives.begin(), static_cast<long>(index));
        if (c.kind.empty()) {
            c.kind = kind;
        } else if (c.kind != kind) {
            throw std::runtime_error("rank " + std::to_string(me) + " calls " + kind + " where others call " + c.kind);
        }
        c.contributions[static_cast<size_t>(me)] = std::move(contribution);
        if (++c.joined == world.size) {
            c.result = combine(c);
            world.progress();
        }
        world.waitFor(lock, me, [&] { return c.joined == world.size; });
        return c.result;
    }

    FakeWorld& world;
    int me;
};

FakeWorld::FakeWorld(int n)
    : size(n), finished(static_cast<size_t>(n), false), mailboxes(static_cast<size_t>(n)),
      collectiveIndex(static_cast<size_t>(n), 0)
{
    for (int r = 0; r < n; ++r) {
        endpoints.push_back(std::make_unique<Endpoint>(*this, r));
    }
}

FakeWorld::~FakeWorld() = default;

bool FakeWorld::matches(const Receive& r, const Message& m) const
{
    return (r.source == smc::anySource || r.source == m.source) && r.tag == m.tag;
}

void FakeWorld::deliver(int destination, Message message)
{
    for (auto it = posted.begin(); it != posted.end(); ++it) {
        if (it->rank == destination && matches(*it, message)) {
            if (message.data.size() > it->capacity) {
                throw std::runtime_error("message larger than the receive buffer");
            }
            if (!message.data.empty()) {
                std::memcpy(it->buffer, message.data.data(), message.data.size());
            }
            complete[it->request] = true;
            posted.erase(it);
            return;
        }
    }
    mailboxes[static_cast<size_t>(destination)].push_back(std::move(message));
}

void FakeWorld::progress()
{
    stalls = 0;
}

void FakeWorld::passBaton(int rank)
{
    holder = -1;
    for (int k = 1; k <= size; ++k) {
        const int next = (rank + k) % size;
        if (!finished[static_cast<size_t>(next)]) {
            holder = next;
            break;
        }
    }
    changed.notify_all();
}

void FakeWorld::waitFor(std::unique_lock<std::mutex>& lock, int rank, const std::function<bool()>& condition)
{
    while (!condition()) {
        if (deadlock) {
            throw Deadlock();
        }
        int live = 0;
        for (bool f : finished) {
            live += f ? 0 : 1;
        }
        if (++stalls > 2 * live) {
            deadlock = true;
            changed.notify_all();
            throw Deadlock();
        }
        passBaton(rank);
        changed.wait(lock, [&] { return holder == rank || deadlock; });
    }
}

void FakeWorld::yield(int rank)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (deadlock) {
        return;
    }
    passBaton(rank);
    changed.wait(lock, [&] { return holder == rank || deadlock; });
}

smc::Communicator& FakeWorld::endpoint(int rank)
{
    return *endpoints[static_cast<size_t>(rank)];
}

bool FakeWorld::run(const std::vector<Script>& scripts)
{
    holder = 0;
    std::vector<std::thread> threads;
    for (int r = 0; r < size; ++r) {
        threads.emplace_back([this, r, &scripts] {
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return holder == r || deadlock; });
            }
            std::string error;
            try {
                scripts[static_cast<size_t>(r)](*endpoints[static_cast<size_t>(r)]);
            } catch (const std::exception& e) {
                error = "rank " + std::to_string(r) + ": " + e.what();
            }
            std::unique_lock<std::mutex> lock(mutex);
            if (!error.empty()) {
                errors.push_back(error);
            }
            finished[static_cast<size_t>(r)] = true;
            progress();
            passBaton(r);
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    return !deadlock && errors.empty();
}

size_t FakeWorld::undeliveredMessages() const
{
    std::lock_guard<std::mutex> lock(mutex);
    size_t n = 0;
    for (const auto& box : mailboxes) {
        n += box.size();
    }
    return n;
}

size_t FakeWorld::pendingReceives() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return posted.size();
}

}  // namespace smctest
