#include "smc/coordinator.h"

#include <cstdlib>

namespace {

constexpr int stopTag = 0;
constexpr int batchTag = 1;
constexpr int reportTag = 2;

int nextSlot(int slot)
{
    return (slot + 1) % SMCCoordinator::ringSize;
}

}  // namespace

SMCCoordinator::SMCCoordinator(smc::Communicator& world)
    : world(world), rank(world.rank()), processes(world.size())
{
    if (rank == 0) {
        const size_t workers = static_cast<size_t>(processes - 1);
        batchesReceived.assign(workers, 0);
        receiveRequests.assign(workers, smc::Request{});
        batchValues.assign(static_cast<size_t>(ringSize * processes), 0);
        received.assign(static_cast<size_t>(ringSize * processes), 0);
        ringFull.assign(static_cast<size_t>(processes), 0);
    } else {
        sendRequests.assign(ringSize, smc::Request{});
        batchValues.assign(ringSize, 0);
    }
}

SMCCoordinator::~SMCCoordinator() = default;

void SMCCoordinator::setTest(double success, double failure, double accept, double reject)
{
    successIncrement = success;
    failureIncrement = failure;
    acceptLimit = accept;
    rejectLimit = reject;
}

void SMCCoordinator::postBatchReceive(int worker, int slot)
{
    world.irecv(&value(worker, slot), 1, smc::DataType::Int, worker, batchTag,
                receiveRequests[static_cast<size_t>(worker - 1)]);
}

void SMCCoordinator::postBatchReceives()
{
    if (rank != 0) {
        return;
    }
    for (int w = 1; w < processes; ++w) {
        postBatchReceive(w, cursor);
    }
}

void SMCCoordinator::postStopReceive()
{
    world.irecv(nullptr, 0, smc::DataType::Int, rank == 0 ? smc::anySource : 0, stopTag, stopRequest);
}

bool SMCCoordinator::stopReceived()
{
    return world.test(stopRequest);
}

void SMCCoordinator::sendBatch()
{
    if (sendRingFull) {
        world.wait(sendRequests[static_cast<size_t>(sendHead)]);
        sendRingFull = false;
        sendHead = nextSlot(sendHead);
    }
    batchValues[static_cast<size_t>(sendTail)] = batchSuccesses;
    world.isend(&batchValues[static_cast<size_t>(sendTail)], 1, smc::DataType::Int, 0, batchTag,
                sendRequests[static_cast<size_t>(sendTail)]);
    sendTail = nextSlot(sendTail);
    sendRingFull = sendTail == sendHead;
    ++batchesSent;
}

bool SMCCoordinator::shouldPoll()
{
    if (++pollCounter > 28) {
        return true;
    }
    if (processes <= 1) {
        return false;
    }
    const int w = std::rand() % (processes - 1) + 1;
    if (isReceived(w, cursor) != 0) {
        return false;
    }
    // A receive completed here is found complete again by the poll that follows.
    return world.test(receiveRequests[static_cast<size_t>(w - 1)]);
}

int SMCCoordinator::poll(double* sum)
{
    bool fresh = ownBatchPending;
    for (int w = 1; w < processes; ++w) {
        if (ringFull[static_cast<size_t>(w)] != 0) {
            continue;
        }
        for (int i = 0; i < ringSize; ++i) {
            const int k = (cursor + i) % ringSize;
            if (isReceived(w, k) != 0) {
                continue;
            }
            if (!world.test(receiveRequests[static_cast<size_t>(w - 1)])) {
                break;
            }
            isReceived(w, k) = 1;
            ++batchesReceived[static_cast<size_t>(w - 1)];
            fresh = true;
            const int following = nextSlot(k);
            if (following == cursor) {
                ringFull[static_cast<size_t>(w)] = 1;  // no receive is posted until a column is folded
                break;
            }
            postBatchReceive(w, following);
        }
    }
    ownBatchPending = false;
    return fresh ? foldColumns(sum) : -1;
}

int SMCCoordinator::foldColumns(double* sum)
{
    const double a = successIncrement;
    const double b = failureIncrement;
    const double all = static_cast<double>(batchSize) * processes;
    double high = *sum;  // missing batches counted as failures
    double low = *sum;   // missing batches counted as successes
    int local = cursor;
    bool lastComplete = false;
    for (int i = 0; i < 8; ++i) {
        const int j = (cursor + i) % ringSize;
        int present = 0;
        double s = 0;
        for (int r = 0; r < processes; ++r) {
            if (isReceived(r, j) != 0) {
                ++present;
                s += value(r, j);
            }
        }
        if (present == 0) {
            break;
        }
        const double missing = static_cast<double>(batchSize) * (processes - present);
        high += s * a + (all - s) * b;
        low += (s + missing) * a + (all - s - missing) * b;
        lastComplete = present == processes;
        if (lastComplete) {
            for (int r = 0; r < processes; ++r) {
                isReceived(r, j) = 0;
                if (ringFull[static_cast<size_t>(r)] != 0) {
                    ringFull[static_cast<size_t>(r)] = 0;
                    if (r > 0) {
                        postBatchReceive(r, j);
                    }
                }
            }
            ++local;
            *sum = high;
        }
        if (acceptLimit >= high) {
            return 0;
        }
        if (low >= rejectLimit) {
            return 1;
        }
    }
    cursor = local % ringSize;
    if (lastComplete) {
        pollCounter = batchRuns;
    }
    return -1;
}

int SMCCoordinator::addOwnBatch(double* sum)
{
    if (ringFull[0] != 0) {
        // Sixteen batches ahead of the oldest open column: wait for the workers' batches of it.
        for (int w = 1; w < processes; ++w) {
            if (isReceived(w, cursor) != 0) {
                continue;
            }
            world.wait(receiveRequests[static_cast<size_t>(w - 1)]);
            isReceived(w, cursor) = 1;
            ++batchesReceived[static_cast<size_t>(w - 1)];
            postBatchReceive(w, nextSlot(cursor));
        }
        const int r = foldColumns(sum);
        if (r >= 0) {
            return r;
        }
    }
    value(0, ownTail) = batchSuccesses;
    isReceived(0, ownTail) = 1;
    ownTail = nextSlot(ownTail);
    ringFull[0] = ownTail == cursor;
    ownBatchPending = true;
    return -1;
}

void SMCCoordinator::sendAbort()
{
    if (rank == 0 || abortSent) {
        return;
    }
    world.send(nullptr, 0, smc::DataType::Int, 0, stopTag);
    abortSent = true;
}

void SMCCoordinator::stopWorkers()
{
    if (rank != 0 || workersStopped) {
        return;
    }
    std::vector<smc::Request> stops(static_cast<size_t>(processes - 1));
    for (int w = 1; w < processes; ++w) {
        world.isend(nullptr, 0, smc::DataType::Int, w, stopTag, stops[static_cast<size_t>(w - 1)]);
    }
    world.waitAll(stops.data(), static_cast<int>(stops.size()));
    workersStopped = true;
}

void SMCCoordinator::finish()
{
    if (rank == 0) {
        finishCoordinator();
    } else {
        finishWorker();
    }
}

void SMCCoordinator::finishWorker()
{
    world.wait(stopRequest);
    EndReport report{batchesSent, static_cast<uint8_t>(abortSent ? 1 : 0), {0, 0, 0}};
    world.send(&report, sizeof report, smc::DataType::Byte, 0, reportTag);
    if (sendRingFull) {
        world.waitAll(sendRequests.data(), ringSize);
    } else {
        for (int k = sendHead; k != sendTail; k = nextSlot(k)) {
            world.wait(sendRequests[static_cast<size_t>(k)]);
        }
    }
}

void SMCCoordinator::finishCoordinator()
{
    stopWorkers();
    const size_t workers = static_cast<size_t>(processes - 1);
    std::vector<EndReport> reports(workers);
    std::vector<smc::Request> reportRequests(workers);
    for (int w = 1; w < processes; ++w) {
        world.irecv(&reports[static_cast<size_t>(w - 1)], sizeof(EndReport), smc::DataType::Byte, w, reportTag,
                    reportRequests[static_cast<size_t>(w - 1)]);
    }
    world.waitAll(reportRequests.data(), static_cast<int>(workers));
    for (int w = 1; w < processes; ++w) {
        const EndReport& report = reports[static_cast<size_t>(w - 1)];
        smc::Request& pending = receiveRequests[static_cast<size_t>(w - 1)];
        int32_t got = batchesReceived[static_cast<size_t>(w - 1)];
        if (got < report.batchesSent) {
            // Batches sent after the decision: received here and thrown away.
            if (pending.active) {
                world.wait(pending);
                ++got;
            }
            int32_t discarded = 0;
            while (got < report.batchesSent) {
                world.recv(&discarded, 1, smc::DataType::Int, w, batchTag);
                ++got;
            }
        } else if (pending.active) {
            world.cancel(pending);
        }
        if (report.abortSent != 0) {
            // Takes the worker's abort message, unless the stop receive already did.
            world.wait(stopRequest);
            postStopReceive();
        }
    }
    if (!world.test(stopRequest)) {
        world.cancel(stopRequest);
    }
}
