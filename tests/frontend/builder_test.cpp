#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "frontend/builder.h"

namespace {

// A builder that provides only the operations every builder must implement.
class BareBuilder : public ZOLT::AbstractBuilder
{
public:
    std::vector<std::string> errors, warnings;

    void addPosition(uint32_t, int32_t, int32_t, const std::string&) override {}
    void handleError(const std::string& message) override { errors.push_back(message); }
    void handleWarning(const std::string& message) override { warnings.push_back(message); }
    void exprProbaEstimate(int, int, bool) override {}
    void exprMitlEventually(int32_t, int32_t) override {}
    void exprMitlAlways(int32_t, int32_t) override {}
    void exprSimulation(int32_t, int, uint32_t, bool, int32_t) override {}
};

TEST(AbstractBuilder, UnsupportedOperationsNameThemselves)
{
    struct Case
    {
        const char* message;
        std::function<void(ZOLT::AbstractBuilder&)> call;
    };
    const Case cases[] = {
        {"typeDuplicate is not supported", [](auto& b) { b.typeDuplicate(); }},
        {"breakStatement is not supported", [](auto& b) { b.breakStatement(); }},
        {"procBegin is not supported", [](auto& b) { b.procBegin(ZOLT::statementBlock); }},
        {"procEnd is not supported", [](auto& b) { b.procEnd(); }},
        {"procMessage is not supported", [](auto& b) { b.procMessage(0); }},
        {"exprMitlUntil is not supported", [](auto& b) { b.exprMitlUntil(0, 5); }},
        {"parse is not supported", [](auto& b) { b.parse("A[] true"); }},
        {"exprProbaQuantitative is not supported", [](auto& b) { b.exprProbaQuantitative(); }},
        {"exprSimulate is not supported", [](auto& b) { b.exprSimulate(); }},
        // The families of updates and priorities, synchronisation and IO,
        // dynamic templates, and property carry the bare operation name.
        {"property", [](auto& b) { b.property(); }},
        {"beforeUpdate", [](auto& b) { b.beforeUpdate(); }},
        {"procPriority", [](auto& b) { b.procPriority("P"); }},
        {"exprSync", [](auto& b) { b.exprSync(1); }},
        {"declIO", [](auto& b) { b.declIO("P", 0, 1); }},
        {"exprSpawn", [](auto& b) { b.exprSpawn(2); }},
        {"exprForeachDynamicEnd", [](auto& b) { b.exprForeachDynamicEnd("p"); }},
        {"exprDynamicProcessExpr", [](auto& b) { b.exprDynamicProcessExpr(); }},
    };
    BareBuilder builder;
    for (const Case& c : cases) {
        try {
            c.call(builder);
            ADD_FAILURE() << c.message << ": nothing thrown";
        } catch (const ZOLT::NotSupportedException& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(AbstractBuilder, DefaultsThatDoNotThrow)
{
    BareBuilder builder;
    EXPECT_TRUE(builder.position.isAbsent());
    builder.setPosition(3, 7);
    EXPECT_EQ(builder.position, ZOLT::span_t(3, 7));
    EXPECT_FALSE(builder.isTypeName("int"));
    builder.done();
    EXPECT_TRUE(builder.errors.empty());
}

TEST(AbstractBuilder, FormattedReportsAreCutAt255Characters)
{
    BareBuilder builder;
    const std::string longName(300, 'x');
    builder.errorf("%s $has_no_member_named %s", "r", "f");
    builder.errorf("$Unknown_identifier: %s", longName.c_str());
    builder.warnf("%s $shadows_a_variable", longName.c_str());
    ASSERT_EQ(builder.errors.size(), 2u);
    EXPECT_EQ(builder.errors[0], "r $has_no_member_named f");
    EXPECT_EQ(builder.errors[1], ("$Unknown_identifier: " + longName).substr(0, 255));
    ASSERT_EQ(builder.warnings.size(), 1u);
    EXPECT_EQ(builder.warnings[0], longName.substr(0, 255));
}

} // namespace
