#include <cstring>
#include <vector>

#include <mpi.h>

#include "smc/communicator.h"

namespace smc {

namespace {

static_assert(sizeof(MPI_Request) <= sizeof(uintptr_t), "an MPI request fits a request handle");

MPI_Datatype mpiType(DataType type)
{
    switch (type) {
    case DataType::Int:
        return MPI_INT;
    case DataType::Byte:
        return MPI_BYTE;
    case DataType::Long:
        return MPI_LONG;
    case DataType::Double:
        return MPI_DOUBLE;
    }
    return MPI_BYTE;
}

MPI_Request toMpi(const Request& request)
{
    if (!request.active) {
        return MPI_REQUEST_NULL;
    }
    MPI_Request r;
    std::memcpy(&r, &request.handle, sizeof r);
    return r;
}

void fromMpi(MPI_Request r, Request& request)
{
    request.active = r != MPI_REQUEST_NULL;
    request.handle = 0;
    if (request.active) {
        std::memcpy(&request.handle, &r, sizeof r);
    }
}

static_assert(sizeof(long) == sizeof(int64_t), "MPI_LONG carries 64-bit integers");

class MpiCommunicator : public Communicator
{
public:
    int rank() const override
    {
        int r = 0;
        MPI_Comm_rank(MPI_COMM_WORLD, &r);
        return r;
    }

    int size() const override
    {
        int s = 1;
        MPI_Comm_size(MPI_COMM_WORLD, &s);
        return s;
    }

    void isend(const void* buffer, int count, DataType type, int destination, int tag, Request& request) override
    {
        MPI_Request r;
        MPI_Isend(buffer, count, mpiType(type), destination, tag, MPI_COMM_WORLD, &r);
        fromMpi(r, request);
    }

    void irecv(void* buffer, int count, DataType type, int source, int tag, Request& request) override
    {
        MPI_Request r;
        MPI_Irecv(buffer, count, mpiType(type), source == anySource ? MPI_ANY_SOURCE : source, tag, MPI_COMM_WORLD,
                  &r);
        fromMpi(r, request);
    }

    void send(const void* buffer, int count, DataType type, int destination, int tag) override
    {
        MPI_Send(buffer, count, mpiType(type), destination, tag, MPI_COMM_WORLD);
    }

    void recv(void* buffer, int count, DataType type, int source, int tag) override
    {
        MPI_Recv(buffer, count, mpiType(type), source == anySource ? MPI_ANY_SOURCE : source, tag, MPI_COMM_WORLD,
                 MPI_STATUS_IGNORE);
    }

    bool test(Request& request) override
    {
        MPI_Request r = toMpi(request);
        int flag = 0;
        MPI_Test(&r, &flag, MPI_STATUS_IGNORE);
        fromMpi(r, request);
        return flag != 0;
    }

    void wait(Request& request) override
    {
        MPI_Request r = toMpi(request);
        MPI_Wait(&r, MPI_STATUS_IGNORE);
        fromMpi(r, request);
    }

    void waitAll(Request* requests, int n) override
    {
        std::vector<MPI_Request> all(static_cast<size_t>(n));
        for (int k = 0; k < n; ++k) {
            all[static_cast<size_t>(k)] = toMpi(requests[k]);
        }
        MPI_Waitall(n, all.data(), MPI_STATUSES_IGNORE);
        for (int k = 0; k < n; ++k) {
            fromMpi(all[static_cast<size_t>(k)], requests[k]);
        }
    }

    void cancel(Request& request) override
    {
        MPI_Request r = toMpi(request);
        if (r != MPI_REQUEST_NULL) {
            MPI_Cancel(&r);
            MPI_Wait(&r, MPI_STATUS_IGNORE);
        }
        fromMpi(r, request);
    }

    void reduceSum(const int64_t* values, int64_t* totals, int n, int root) override
    {
        MPI_Reduce(values, totals, n, MPI_LONG, MPI_SUM, root, MPI_COMM_WORLD);
    }

    void gather(int64_t value, int64_t* values, int root) override
    {
        long mine = static_cast<long>(value);
        MPI_Gather(&mine, 1, MPI_LONG, values, 1, MPI_LONG, root, MPI_COMM_WORLD);
    }

    int agreeMax(int value) override
    {
        int result = value;
        MPI_Allreduce(&value, &result, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
        return result;
    }
};

}  // namespace

Communicator& mpiWorldCommunicator()
{
    static MpiCommunicator world;
    return world;
}

}  // namespace smc
