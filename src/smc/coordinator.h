#pragma once

// The exchange between the processes of one distributed probability check.
//
// In a hypothesis test every process simulates; the workers (ranks above 0) send the number of
// successes of each batch of 32 runs to rank 0, which folds complete columns of batches (one batch
// of every process) into the sequential probability ratio test, and may decide early when even
// the worst case of the batches still missing cannot change the outcome. Rank 0 then ends the
// check for everybody with the end handshake, which also receives every batch still on its way,
// so that no message of one query is left for the next. In an estimate every process makes its
// share of the runs and the counts and values are combined on rank 0.
//
// Workers keep up to 16 batch sends in flight; rank 0 keeps a ring of 16 batches per process
// and never blocks while testing unless its own ring is full.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "smc/communicator.h"

class SMCCoordinator
{
public:
    static constexpr int ringSize = 16;
    static constexpr int batchSize = 32;

    explicit SMCCoordinator(smc::Communicator& world);
    SMCCoordinator(const SMCCoordinator&) = delete;
    SMCCoordinator& operator=(const SMCCoordinator&) = delete;
    ~SMCCoordinator();

    // The increments per success and per failure and the accept and reject limits of the test.
    void setTest(double successIncrement, double failureIncrement, double acceptLimit, double rejectLimit);
    // Rank 0: one batch receive per worker.
    void postBatchReceives();
    // The receive of the stop message (a worker) or of abort messages (rank 0).
    void postStopReceive();
    // The stop receive has completed: a worker was stopped, or rank 0 heard of an abort.
    bool stopReceived();

    // Worker: sends the current batch's success count.
    void sendBatch();
    // Rank 0: whether to look for worker batches before the next run.
    bool shouldPoll();
    // Rank 0: takes the batches that arrived and folds what it can. 0 accepts, 1 rejects,
    // -1 is undecided. `sum` is the committed sum of the test.
    int poll(double* sum);
    // Rank 0: stores its own batch (when its ring is full, first waits for the oldest column).
    int addOwnBatch(double* sum);
    int foldColumns(double* sum);

    // Worker: tells rank 0 that this process's check aborted (once).
    void sendAbort();
    // Rank 0: stops the workers now instead of in the end handshake (an estimate that cannot
    // complete), so that they leave their runs early.
    void stopWorkers();
    // The end handshake; afterwards no message of the check is pending.
    void finish();

    bool isCoordinator() const { return rank == 0; }
    bool hasSentAbort() const { return abortSent; }

    // Runs and successes of the current batch (kept by the checker).
    int32_t batchRuns = 0;
    int32_t batchSuccesses = 0;

private:
    // The end report of a worker: its batch count and whether it sent an abort.
    struct EndReport
    {
        int32_t batchesSent;
        uint8_t abortSent;
        uint8_t padding[3];
    };
    static_assert(sizeof(EndReport) == 8, "the end report is 8 bytes");

    int32_t& value(int row, int slot) { return batchValues[static_cast<size_t>(row * ringSize + slot)]; }
    uint8_t& isReceived(int row, int slot) { return received[static_cast<size_t>(row * ringSize + slot)]; }
    void postBatchReceive(int worker, int slot);
    void finishWorker();
    void finishCoordinator();

    smc::Communicator& world;
    int rank;
    int processes;

    smc::Request stopRequest;
    // Worker.
    std::vector<smc::Request> sendRequests;
    int32_t batchesSent = 0;
    int sendHead = 0;
    int sendTail = 0;
    bool sendRingFull = false;
    bool abortSent = false;
    // Rank 0.
    std::vector<smc::Request> receiveRequests;
    std::vector<int32_t> batchesReceived;
    std::vector<int32_t> batchValues;
    std::vector<uint8_t> received;
    std::vector<uint8_t> ringFull;
    int cursor = 0;
    int ownTail = 0;
    int32_t pollCounter = 0;
    bool ownBatchPending = false;
    bool workersStopped = false;

    double successIncrement = 0;
    double failureIncrement = 0;
    double acceptLimit = 0;
    double rejectLimit = 0;
};
