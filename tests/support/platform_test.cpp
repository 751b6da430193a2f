#include "support/platform.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string>& paths()
{
    static std::vector<std::string> written;
    return written;
}

// Removes the fixture files a test wrote.
struct FixtureCleanup
{
    ~FixtureCleanup()
    {
        for (const auto& path : paths()) {
            std::remove(path.c_str());
        }
        paths().clear();
    }
};

// Writes a fixture text to a file of the test's temporary folder and returns its path.
std::string writeFixture(const std::string& name, const std::string& text)
{
    // The process id keeps concurrent test runs (other build trees, other worktrees) apart.
    const std::string path = ::testing::TempDir() + "mirvek_platform_" + std::to_string(getpid()) + "_" + name;
    std::ofstream(path) << text;
    paths().push_back(path);
    return path;
}

const char* const meminfoHead = "MemTotal:       24682300 kB\n"
                                "MemFree:        24105464 kB\n";
const char* const meminfoTail = "Buffers:            3052 kB\n"
                                "Cached:           358592 kB\n"
                                "SwapCached:            0 kB\n"
                                "Active:           183612 kB\n"
                                "SwapTotal:       2097148 kB\n"
                                "SwapFree:        2097000 kB\n"
                                "Dirty:                 8 kB\n";

TEST(ReadMemoryInfo, ReadsTheSixKeysAndDerivesTheSums)
{
    FixtureCleanup cleanup;
    struct Case
    {
        const char* name;
        std::string text;
        MemoryInfo expected;
    };
    const MemoryInfo typical{24682300, 24105464 + 3052, 358592, 2097148, 2097000, 24682300 + 2097148,
                             24105464 + 3052 + 2097000};
    const Case cases[] = {
        {"without MemAvailable", std::string(meminfoHead) + meminfoTail, typical},
        {"with MemAvailable", std::string(meminfoHead) + "MemAvailable:   24290272 kB\n" + meminfoTail, typical},
        {"units and case",
         "MemTotal: 2 MB\nMemFree: 2048 b\nBuffers: 1 Gb\nCached: 7\nSwapTotal: 0 kB\nSwapFree:\t3 mB\r\n",
         {2048, 2 + 1048576, 7, 0, 3072, 2048, 2 + 1048576 + 3072}},
        {"negative counts as zero", "MemTotal: -5 kB\nMemFree: 1\nBuffers: 1\nCached: 1\nSwapTotal: 1\nSwapFree: 1\n",
         {0, 2, 1, 1, 1, 1, 3}},
        {"keys in another order",
         "SwapFree: 1\nCached: 2\nSwapTotal: 3\nBuffers: 4\nMemFree: 5\nMemTotal: 6\n", {6, 9, 2, 3, 1, 9, 10}},
        {"no SwapFree", std::string(meminfoHead) + "Buffers: 1 kB\nCached: 2 kB\nSwapTotal: 3 kB\n", {}},
        {"similar keys only", "MemTotalX: 1\nSwapCached: 2\nMemFree: 3\nBuffers: 4\nCached: 5\nSwapTotal: 6\n"
                              "SwapFree: 7\n", {}},
        {"empty file", "", {}},
    };
    int n = 0;
    for (const auto& c : cases) {
        MemoryInfo info{1, 1, 1, 1, 1, 1, 1};
        readMemoryInfo(info, writeFixture("meminfo" + std::to_string(n++), c.text).c_str());
        EXPECT_EQ(info.total, c.expected.total) << c.name;
        EXPECT_EQ(info.freeAndBuffers, c.expected.freeAndBuffers) << c.name;
        EXPECT_EQ(info.cached, c.expected.cached) << c.name;
        EXPECT_EQ(info.swapTotal, c.expected.swapTotal) << c.name;
        EXPECT_EQ(info.swapFree, c.expected.swapFree) << c.name;
        EXPECT_EQ(info.totalWithSwap, c.expected.totalWithSwap) << c.name;
        EXPECT_EQ(info.freeWithSwap, c.expected.freeWithSwap) << c.name;
    }

    MemoryInfo missing{1, 1, 1, 1, 1, 1, 1};
    readMemoryInfo(missing, "/nonexistent/meminfo");
    EXPECT_EQ(missing.total + missing.freeWithSwap + missing.totalWithSwap, 0u);
}

// A status line whose fields 14..17 are 100 200 30 40, 23 is 8 MiB, 24 is 10 pages and 36, 37
// are 3 and 4 pages; the program name is given by the caller.
std::string statLine(const std::string& name, const std::string& childUser = "30")
{
    std::string line = "4242 " + name + " R 1 2 3 4 5 6 7 8 9 10 100 200 " + childUser +
                       " 40 20 0 1 0 57684 8388608 10 18446744073709551615";
    for (int field = 26; field <= 35; ++field) {
        line += " 0";
    }
    return line + " 3 4 17 2 0\n";
}

TEST(ReadProcessStats, ConvertsTicksPagesAndBytes)
{
    FixtureCleanup cleanup;
    initSystemUnits();
    const uint64_t tick = getMillisecondsPerTick();
    const uint64_t page = getPageSize();
    ASSERT_GT(tick, 0u);
    ASSERT_GT(page, 0u);

    struct Case
    {
        const char* name;
        std::string text;
        uint64_t user;
    };
    const Case cases[] = {
        {"plain name", statLine("(mirvek)"), 130},
        {"name with blanks and brackets", statLine("(my (odd) prog)"), 130},
        {"negative child time not added", statLine("(mirvek)", "-3"), 100},
    };
    int n = 0;
    for (const auto& c : cases) {
        ProcessStats stats;
        const auto before = static_cast<uint64_t>(std::time(nullptr)) * 1000;
        readProcessStats(stats, writeFixture("stat" + std::to_string(n++), c.text).c_str());
        EXPECT_EQ(stats.userMs, c.user * tick) << c.name;
        EXPECT_EQ(stats.systemMs, 240 * tick) << c.name;
        EXPECT_EQ(stats.virtualKB, 8192u) << c.name;
        EXPECT_EQ(stats.residentKB, 10 * page / 1024) << c.name;
        EXPECT_EQ(stats.swappedKB, 7 * page / 1024) << c.name;
        EXPECT_GE(stats.wallMs + 1000, before) << c.name;
    }

    // An unreadable file changes only the wall clock.
    ProcessStats kept{1, 2, 3, 4, 5, 0};
    readProcessStats(kept, "/nonexistent/stat");
    EXPECT_EQ(kept.virtualKB + kept.residentKB + kept.swappedKB + kept.userMs + kept.systemMs, 15u);
    EXPECT_GT(kept.wallMs, 0u);

    // The real file of this process gives plausible figures.
    ProcessStats self;
    readProcessStats(self);
    EXPECT_GT(self.virtualKB, 0u);
    EXPECT_GT(self.residentKB, 0u);
    MemoryInfo machine;
    readMemoryInfo(machine);
    EXPECT_GT(machine.total, 0u);
}

}  // namespace
