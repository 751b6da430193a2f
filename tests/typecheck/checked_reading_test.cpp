#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "language/system.h"
#include "typecheck/checked_reading.h"

namespace tc_test {
namespace {

using namespace ZOLT;

struct Finding
{
    int32_t line;
    std::string message;
    bool operator==(const Finding&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Finding& f) { return os << f.line << ": " << f.message; }

std::vector<Finding> findings(const std::vector<diagnostic_t>& list)
{
    std::vector<Finding> out;
    for (const diagnostic_t& d : list) {
        out.push_back({d.start.line, d.message});
    }
    return out;
}

std::string modelPath(const std::string& name) { return std::string(MIRVEK_TEST_MODELS) + "/" + name; }

// Reads and checks a textual fixture; returns what the door returned.
bool readFixture(const std::string& name, TimedAutomataSystem& system)
{
    FILE* file = std::fopen(modelPath(name).c_str(), "r");
    EXPECT_NE(file, nullptr) << name;
    if (file == nullptr) {
        return false;
    }
    bool ok = readCheckedTextModelFile(file, &system, true);
    std::fclose(file);
    return ok;
}

TEST(CheckedReading, TextDoors)
{
    {
        TimedAutomataSystem system;
        EXPECT_TRUE(readFixture("tc_clean.xta", system));
        EXPECT_EQ(findings(system.getErrors()), std::vector<Finding>{});
        EXPECT_EQ(findings(system.getWarnings()),
                  (std::vector<Finding>{{9, "$Expression_does_not_have_any_effect"}}));
    }
    {
        TimedAutomataSystem system;
        EXPECT_FALSE(readFixture("tc_syntax.xta", system));
        ASSERT_FALSE(system.getErrors().empty());
        for (const diagnostic_t& d : system.getErrors()) {
            EXPECT_NE(d.message, "$Invalid_initialiser");
            EXPECT_GE(d.start.line, 3);
        }
    }
    {
        TimedAutomataSystem system;
        EXPECT_FALSE(readCheckedTextModelBuffer("int i = 2.5;\nprocess P() { state A; init A; }\nsystem P;\n", &system, true));
        EXPECT_EQ(findings(system.getErrors()), (std::vector<Finding>{{1, "$Invalid_initialiser"}}));
    }
}

} // namespace
} // namespace tc_test
