#pragma once

#include <cstdint>

// Memory figures of the machine, all in kB.
struct MemoryInfo
{
    uint64_t total = 0;            // MemTotal
    uint64_t freeAndBuffers = 0;   // MemFree + Buffers
    uint64_t cached = 0;           // Cached
    uint64_t swapTotal = 0;        // SwapTotal
    uint64_t swapFree = 0;         // SwapFree
    uint64_t totalWithSwap = 0;    // total + swapTotal
    uint64_t freeWithSwap = 0;     // freeAndBuffers + swapFree
};

// Time and memory figures of this process.
struct ProcessStats
{
    uint64_t virtualKB = 0;   // virtual size
    uint64_t residentKB = 0;  // resident size
    uint64_t swappedKB = 0;   // swapped size, own and children's
    uint64_t userMs = 0;      // user time, own plus waited-for children's
    uint64_t systemMs = 0;    // system time, own plus children's
    uint64_t wallMs = 0;      // wall-clock time since the epoch
};

// Reads the clock-tick rate and the page size that readProcessStats converts with.
void initSystemUnits();
// Milliseconds per clock tick and page size in bytes as last read (0 before initSystemUnits).
uint64_t getMillisecondsPerTick();
uint64_t getPageSize();

// Fills the figures from the kernel's memory table. All seven are 0 when the file cannot be read
// or lacks one of MemTotal, MemFree, Buffers, Cached, SwapTotal and SwapFree.
void readMemoryInfo(MemoryInfo& info, const char* path = "/proc/meminfo");

// Fills the figures from the process's status line and the wall clock. When the file cannot be
// opened only the wall-clock time changes.
void readProcessStats(ProcessStats& stats, const char* path = "/proc/self/stat");
