#pragma once

// The message passing between the processes of a distributed statistical check, behind one thin
// interface: the MPI world when a launcher started the program, a world of one process otherwise
// (which never calls MPI), and in-process worlds in the tests. The operations mirror the MPI calls
// the coordination needs, on the world communicator.

#include <cstdint>

namespace smc {

enum class DataType { Int, Byte, Long, Double };

// Receives from any process.
constexpr int anySource = -1;

// A pending nonblocking operation. Inactive once complete (a completed or inactive request tests
// as complete).
struct Request
{
    uintptr_t handle = 0;
    bool active = false;
};

class Communicator
{
public:
    virtual ~Communicator() = default;

    virtual int rank() const = 0;
    virtual int size() const = 0;

    virtual void isend(const void* buffer, int count, DataType type, int destination, int tag, Request& request) = 0;
    virtual void irecv(void* buffer, int count, DataType type, int source, int tag, Request& request) = 0;
    virtual void send(const void* buffer, int count, DataType type, int destination, int tag) = 0;
    virtual void recv(void* buffer, int count, DataType type, int source, int tag) = 0;
    // True when the request is complete (it is then inactive).
    virtual bool test(Request& request) = 0;
    virtual void wait(Request& request) = 0;
    virtual void waitAll(Request* requests, int n) = 0;
    // Cancels a pending request and completes it, so that nothing of it is left behind. A receive
    // that had already matched a message completes with it.
    virtual void cancel(Request& request) = 0;

    // Sums of n 64-bit integers over all processes, on the root.
    virtual void reduceSum(const int64_t* values, int64_t* totals, int n, int root) = 0;
    // One 64-bit integer of every process, in rank order, on the root.
    virtual void gather(int64_t value, int64_t* values, int root) = 0;
    // The largest of the values of all processes, on every process.
    virtual int agreeMax(int value) = 0;
};

// The world of a process that no launcher started: rank 0 of 1. A receive can never complete (no
// one sends); waiting for it, or sending to another process, is an internal error.
class SingleProcessCommunicator : public Communicator
{
public:
    int rank() const override { return 0; }
    int size() const override { return 1; }
    void isend(const void* buffer, int count, DataType type, int destination, int tag, Request& request) override;
    void irecv(void* buffer, int count, DataType type, int source, int tag, Request& request) override;
    void send(const void* buffer, int count, DataType type, int destination, int tag) override;
    void recv(void* buffer, int count, DataType type, int source, int tag) override;
    bool test(Request& request) override;
    void wait(Request& request) override;
    void waitAll(Request* requests, int n) override;
    void cancel(Request& request) override;
    void reduceSum(const int64_t* values, int64_t* totals, int n, int root) override;
    void gather(int64_t value, int64_t* values, int root) override;
    int agreeMax(int value) override { return value; }
};

// The communicator the checkers use: a world of one process unless another one was installed.
Communicator& worldCommunicator();
// Installs the world (not owned); null restores the world of one process.
void setWorldCommunicator(Communicator* communicator);

// The MPI world communicator; only to be used after MPI was initialised.
Communicator& mpiWorldCommunicator();

}  // namespace smc
