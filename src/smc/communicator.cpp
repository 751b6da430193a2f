#include "smc/communicator.h"

#include "support/exceptions.h"

namespace smc {

void SingleProcessCommunicator::isend(const void*, int, DataType, int, int, Request&)
{
    throw Bug("A process alone has no one to send to");
}

void SingleProcessCommunicator::irecv(void*, int, DataType, int, int, Request& request)
{
    request.active = true;
}

void SingleProcessCommunicator::send(const void*, int, DataType, int, int)
{
    throw Bug("A process alone has no one to send to");
}

void SingleProcessCommunicator::recv(void*, int, DataType, int, int)
{
    throw Bug("A process alone would wait for ever for a message");
}

bool SingleProcessCommunicator::test(Request& request)
{
    return !request.active;
}

void SingleProcessCommunicator::wait(Request& request)
{
    if (request.active) {
        throw Bug("A process alone would wait for ever for a message");
    }
}

void SingleProcessCommunicator::waitAll(Request* requests, int n)
{
    for (int k = 0; k < n; ++k) {
        wait(requests[k]);
    }
}

void SingleProcessCommunicator::cancel(Request& request)
{
    request.active = false;
}

void SingleProcessCommunicator::reduceSum(const int64_t* values, int64_t* totals, int n, int)
{
    for (int k = 0; k < n; ++k) {
        totals[k] = values[k];
    }
}

void SingleProcessCommunicator::gather(int64_t value, int64_t* values, int)
{
    values[0] = value;
}

namespace {

Communicator*& installed()
{
    static Communicator* world = nullptr;
    return world;
}

}  // namespace

Communicator& worldCommunicator()
{
    static SingleProcessCommunicator alone;
    Communicator* world = installed();
    return world != nullptr ? *world : alone;
}

void setWorldCommunicator(Communicator* communicator)
{
    installed() = communicator;
}

}  // namespace smc
