// The judgement whether an MPI launcher started the program, and the world of one
// process that a plain start makes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "driver/mpi_world.h"
#include "support/globals.h"

namespace {

const std::vector<std::string> launcherVariables = {"OMPI_COMM_WORLD_SIZE", "OMPI_COMM_WORLD_RANK", "PMIX_RANK",
                                                    "PMI_RANK", "PMI_SIZE"};

void clearLauncherVariables()
{
    for (const std::string& name : launcherVariables) {
        unsetenv(name.c_str());
    }
}

TEST(MpiWorld, EachLauncherVariableShowsALaunch)
{
    clearLauncherVariables();
    EXPECT_FALSE(startedByMpiLauncher());
    for (const std::string& name : launcherVariables) {
        setenv(name.c_str(), "0", 1);
        EXPECT_TRUE(startedByMpiLauncher()) << name;
        unsetenv(name.c_str());
    }
    // Other variables of the MPI libraries (settings a user may keep) do not.
    setenv("OMPI_MCA_btl", "self", 1);
    EXPECT_FALSE(startedByMpiLauncher());
    unsetenv("OMPI_MCA_btl");
}

TEST(MpiWorld, APlainStartIsAWorldOfOneWithoutMpi)
{
    clearLauncherVariables();
    processRank = 5;
    processCount = 7;
    int argc = 1;
    char name[] = "mirvek";
    char* args[] = {name, nullptr};
    char** argv = args;
    startProcessWorld(&argc, &argv);
    EXPECT_EQ(processRank, 0);
    EXPECT_EQ(processCount, 1);
    EXPECT_FALSE(mpiStarted());
    // Nothing to wait for: the barrier returns at once instead of calling MPI uninitialised.
    worldBarrier();
    EXPECT_EQ(argc, 1);
}

} // namespace
