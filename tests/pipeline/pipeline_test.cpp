#include "pipeline/pipeline.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pipeline/keys.h"

namespace {

using Log = std::vector<std::string>;

// A stage that writes every call it receives into a shared log, under its own name.
class Recorder : public pipeline::AbstractFilter<int, int>
{
public:
    Recorder(std::string name, Log* log, int* destroyed = nullptr)
        : name(std::move(name)), log(log), destroyed(destroyed)
    {}
    ~Recorder() override
    {
        if (destroyed != nullptr) {
            ++*destroyed;
        }
    }

    void begin() override { log->push_back(name + ".begin"); }
    void end() override { log->push_back(name + ".end"); }
    void setProperty(const char* key, void*) override { log->push_back(name + ".set " + key); }
    bool put(int* item) override
    {
        log->push_back(name + ".put " + std::to_string(*item));
        return next != nullptr ? next->put(item) : accept;
    }

    bool accept = true;

private:
    std::string name;
    Log* log;
    int* destroyed;
};

// A compound stage that chains its members in the order they were made.
class Chain : public pipeline::CompoundFilter<int, int>
{
public:
    Recorder* add(Recorder* member) { return addMember(member); }
    void addNothing() { addMember<Recorder>(nullptr); }
    bool put(int*) override { return true; }
};

TEST(CompoundFilter, BroadcastsReachMembersLastAddedFirst)
{
    Log log;
    Chain chain;
    chain.add(new Recorder("M1", &log));
    chain.addNothing();  // an absent member is skipped
    chain.add(new Recorder("M2", &log));
    chain.add(new Recorder("M3", &log));

    chain.setProperty(PROPERTY_SYSTEM, nullptr);
    chain.begin();
    chain.end();
    // A key no stage knows is still broadcast to every member.
    const std::string unknownKey = "verifier:NOTHING";
    chain.setProperty(unknownKey.c_str(), nullptr);

    EXPECT_EQ(log, (Log{"M3.set verifier:SYSTEM", "M2.set verifier:SYSTEM", "M1.set verifier:SYSTEM",
                        "M3.begin", "M2.begin", "M1.begin", "M3.end", "M2.end", "M1.end",
                        "M3.set verifier:NOTHING", "M2.set verifier:NOTHING",
                        "M1.set verifier:NOTHING"}));
}

TEST(CompoundFilter, DeletesEachMemberOnceAlsoWhenMembersAreConnected)
{
    Log log;
    int destroyed = 0;
    {
        auto* chain = new Chain;
        Recorder* a = chain->add(new Recorder("A", &log, &destroyed));
        Recorder* b = chain->add(new Recorder("B", &log, &destroyed));
        Recorder* c = chain->add(new Recorder("C", &log, &destroyed));
        a->connect(b);
        b->connect(c);
        c->connect([](int*) { return true; });  // c owns an adapter
        int item = 7;
        EXPECT_TRUE(a->put(&item));
        delete chain;
    }
    EXPECT_EQ(destroyed, 3);
    EXPECT_EQ(log, (Log{"A.put 7", "B.put 7", "C.put 7"}));
}

TEST(AbstractFilter, LastConnectWinsAndNullLeavesNoDownstream)
{
    Log log;
    Recorder head("H", &log), first("S1", &log), second("S2", &log);
    head.connect(&first);
    head.connect(&second);
    int item = 1;
    head.put(&item);
    EXPECT_EQ(log, (Log{"H.put 1", "S2.put 1"}));

    head.connect(static_cast<pipeline::Sink<int>*>(nullptr));
    head.accept = false;
    EXPECT_FALSE(head.put(&item));
}

TEST(Generator, ConnectingAFunctionAgainDeletesTheFirstAdapter)
{
    Log log;
    Recorder stage("S", &log);
    auto firstToken = std::make_shared<int>(0);
    auto secondToken = std::make_shared<int>(0);
    int firstCalls = 0, secondCalls = 0;

    stage.connect([token = firstToken, &firstCalls](int*) {
        ++firstCalls;
        return true;
    });
    EXPECT_EQ(firstToken.use_count(), 2);  // held by the adapter
    stage.connect([token = secondToken, &secondCalls](int* item) {
        ++secondCalls;
        return *item > 0;
    });
    EXPECT_EQ(firstToken.use_count(), 1);  // the first adapter is gone
    EXPECT_EQ(secondToken.use_count(), 2);

    int positive = 3, negative = -3;
    EXPECT_TRUE(stage.put(&positive));
    EXPECT_FALSE(stage.put(&negative));
    EXPECT_EQ(firstCalls, 0);
    EXPECT_EQ(secondCalls, 2);
}

TEST(While, GivesEachItemToTheSinksInOrderUntilOneRefuses)
{
    Log log;
    pipeline::While<int> fanOut;
    int item = 5;
    EXPECT_TRUE(fanOut.put(&item)) << "no sink: every item is accepted";

    Recorder s1("S1", &log), s2("S2", &log), s3("S3", &log);
    fanOut.connect(&s1);
    fanOut.connect(&s2);
    fanOut.connect(&s3);
    EXPECT_TRUE(fanOut.put(&item));
    EXPECT_EQ(log, (Log{"S1.put 5", "S2.put 5", "S3.put 5"}));

    log.clear();
    s2.accept = false;
    EXPECT_FALSE(fanOut.put(&item));
    EXPECT_EQ(log, (Log{"S1.put 5", "S2.put 5"})) << "S3 must not be called";

    // Configuration calls stay with the fan-out.
    log.clear();
    fanOut.setProperty(PROPERTY_SYSTEM, nullptr);
    fanOut.begin();
    fanOut.end();
    EXPECT_TRUE(log.empty());
}

class ScriptedObserver : public pipeline::ObservableFilter<int>::Observer
{
public:
    bool before() override
    {
        ++befores;
        return allow;
    }
    bool after(bool result) override
    {
        seen.push_back(result);
        return answer;
    }

    bool allow = true;
    bool answer = true;
    int befores = 0;
    std::vector<bool> seen;
};

TEST(ObservableFilter, ObserverGuardsAndClosesEachItem)
{
    Log log;
    ScriptedObserver observer;
    pipeline::ObservableFilter<int> filter(&observer);
    Recorder downstream("D", &log);
    filter.connect(&downstream);
    int item = 4;

    // before refuses: nothing is passed on and after is not asked.
    observer.allow = false;
    EXPECT_FALSE(filter.put(&item));
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(observer.seen.empty());

    // after sees the downstream result and decides the result of put.
    observer.allow = true;
    downstream.accept = false;
    observer.answer = true;
    EXPECT_TRUE(filter.put(&item));
    downstream.accept = true;
    observer.answer = false;
    EXPECT_FALSE(filter.put(&item));
    EXPECT_EQ(observer.seen, (std::vector<bool>{false, true}));
    EXPECT_EQ(log, (Log{"D.put 4", "D.put 4"}));

    // Without an observer the filter only forwards.
    pipeline::ObservableFilter<int> plain;
    plain.connect(&downstream);
    downstream.accept = false;
    EXPECT_FALSE(plain.put(&item));
}

}  // namespace
