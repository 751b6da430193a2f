// Variables: where each kind keeps its value, range tests, bit packing and layout lines.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include "runtime/location.h"
#include "support/exceptions.h"
#include "runtime/system.h"
#include "runtime/variable.h"
#include "testkit/fake_state.h"

using testkit::FakeState;

namespace {
struct Fixture
{
    base::RefPtr<System> system{new System()};
    FakeState state{4, 2, 2, 3, 2};
};
}  // namespace

TEST(Variables, StateVariableStoresOnlyInsideItsRange)
{
    Fixture f;
    StateVariable* v = f.system->addStateVariable("v", 0, 10, 0, false);
    EXPECT_TRUE(v->setValue(&f.state, 10));
    EXPECT_FALSE(v->setValue(&f.state, 11));
    EXPECT_EQ(v->getValue(&f.state), 10);
    EXPECT_FALSE(v->add(&f.state, 1));
    EXPECT_EQ(v->getValue(&f.state), 10);
    EXPECT_FALSE(v->setValue(&f.state, -1));
    EXPECT_TRUE(v->add(&f.state, -10));
    EXPECT_EQ(v->evaluate(&f.state), 0);
}

TEST(Variables, AddWrapsAroundAtThirtyTwoBits)
{
    Fixture f;
    StateMetaVariable* depth = f.system->addStateMetaVariable("d", 0, std::numeric_limits<int32_t>::max(), 0);
    f.state.meta[0] = std::numeric_limits<int32_t>::max();
    EXPECT_FALSE(depth->add(&f.state, 1));
    EXPECT_EQ(f.state.meta[0], std::numeric_limits<int32_t>::max());

    SystemMetaVariable* wide = f.system->addSystemMetaVariable("w", std::numeric_limits<int32_t>::min(),
                                                               std::numeric_limits<int32_t>::max(), 0, false);
    ASSERT_TRUE(wide->setValue(&f.state, std::numeric_limits<int32_t>::max()));
    EXPECT_TRUE(wide->add(&f.state, 1));
    EXPECT_EQ(wide->getValue(&f.state), std::numeric_limits<int32_t>::min());
}

TEST(Variables, DoubleStoredIntoAnIntegerIsTruncatedAndRangeChecked)
{
    Fixture f;
    StateVariable* v = f.system->addStateVariable("v", 0, 10, 0, false);
    EXPECT_TRUE(v->setDoubleValue(&f.state, 7.9));
    EXPECT_EQ(v->getValue(&f.state), 7);
    // Refused stores are reported, not passed off as success.
    EXPECT_FALSE(v->setDoubleValue(&f.state, 12.5));
    EXPECT_FALSE(v->setDoubleValue(&f.state, 1e300));
    EXPECT_FALSE(v->setDoubleValue(&f.state, -1e300));
    EXPECT_FALSE(v->setDoubleValue(&f.state, std::nan("")));
    EXPECT_EQ(v->getValue(&f.state), 7);

    int32_t out = 99;
    EXPECT_TRUE(truncateToInt32(-2147483648.9, out));
    EXPECT_EQ(out, std::numeric_limits<int32_t>::min());
    EXPECT_FALSE(truncateToInt32(2147483648.0, out));
    EXPECT_EQ(doubleToInt32(std::nan("")), std::numeric_limits<int32_t>::min());
}

TEST(Variables, ClocksAreTheirNumbersAndRefuseNegativeResets)
{
    Fixture f;
    f.system->addClock("t(0)", false, 0.0);
    ClockVariable* x = f.system->addClock("x", false, 0.0);
    EXPECT_EQ(x->getValue(&f.state), 1);
    EXPECT_TRUE(x->isConstant());
    f.state.clockValues[1] = 4.0;
    EXPECT_FALSE(x->setValue(&f.state, -1));
    EXPECT_EQ(f.state.clockValues[1], 4.0);
    EXPECT_TRUE(x->setValue(&f.state, 0));
    EXPECT_EQ(f.state.clockValues[1], 0.0);
    EXPECT_TRUE(x->setDoubleValue(&f.state, 2.25));
    EXPECT_EQ(x->getDoubleValue(&f.state), 2.25);
}

TEST(Variables, FloatingPointValuesTruncateTowardZero)
{
    Fixture f;
    FPVariable* d = f.system->addFPVariable("d", false, 0.5);
    EXPECT_TRUE(d->setDoubleValue(&f.state, 2.7));
    EXPECT_EQ(d->getValue(&f.state), 2);
    EXPECT_EQ(d->getDoubleValue(&f.state), 2.7);
    EXPECT_TRUE(d->setDoubleValue(&f.state, -2.7));
    EXPECT_EQ(d->getValue(&f.state), -2);
    EXPECT_TRUE(d->setValue(&f.state, 3));
    EXPECT_EQ(f.state.doubles[0], 3.0);
    // A value that does not fit an integer reads as the smallest integer, without undefined behaviour.
    EXPECT_TRUE(d->setDoubleValue(&f.state, 1e20));
    EXPECT_EQ(d->getValue(&f.state), std::numeric_limits<int32_t>::min());

    SystemMetaFPVariable* s = f.system->addSystemMetaFPVariable("s", false, -2.7);
    EXPECT_EQ(s->getValue(nullptr), -2);
    EXPECT_EQ(s->getDoubleValue(nullptr), -2.7);
}

TEST(Variables, BitVariablesTouchOnlyTheirOwnBit)
{
    Fixture f;
    std::vector<StateBitVariable*> bits = f.system->addBitArray("b", 0, std::vector<bool>(3, false));
    f.state.integers[0] = static_cast<int32_t>(0xfffffff0u);
    EXPECT_TRUE(bits[1]->setValue(&f.state, 5));
    EXPECT_EQ(bits[1]->getValue(&f.state), 1);
    EXPECT_EQ(static_cast<uint32_t>(f.state.integers[0]), 0xfffffff2u);
    EXPECT_TRUE(bits[1]->setValue(&f.state, 0));
    EXPECT_EQ(static_cast<uint32_t>(f.state.integers[0]), 0xfffffff0u);

    std::vector<StateMetaBitVariable*> meta = f.system->addStateMetaBitArray("m", 0, std::vector<bool>(2, false));
    EXPECT_TRUE(meta[1]->setValue(&f.state, -3));
    EXPECT_EQ(f.state.meta[0], 2);
    EXPECT_EQ(meta[0]->getValue(&f.state), 0);
}

TEST(Variables, KindsWithoutStorageRefuseStores)
{
    Fixture f;
    ConstantVariable* c = f.system->addConstant(4, false);
    EXPECT_EQ(c->getValue(nullptr), 4);
    EXPECT_EQ(c->evaluate(nullptr), 4);
    EXPECT_TRUE(c->isConstant());
    EXPECT_THROW(c->setValue(&f.state, 1), Bug);
    EXPECT_THROW(c->setDoubleValue(&f.state, 1.0), Bug);
    // A constant of a dynamic template is assigned when its process is spawned.
    ConstantVariable* dynamic = f.system->addConstant(0, true);
    EXPECT_FALSE(dynamic->isConstant());
    dynamic->assign(&f.state, 9);
    EXPECT_EQ(dynamic->getValue(nullptr), 9);

    ConstantFPVariable* d = f.system->addConstantFP(false, 1.5);
    EXPECT_EQ(d->getDoubleValue(nullptr), 1.5);
    EXPECT_EQ(d->getValue(nullptr), 0);
    EXPECT_THROW(d->setDoubleValue(&f.state, 1.0), Bug);
}

TEST(Variables, LocationVariableFollowsTheProcessSlot)
{
    Fixture f;
    Location* l = f.system->getLocationTable().add(1, 0, "L", false, false, false);
    LocationVariable* at = f.system->addLocationVariable(1, l, false);
    EXPECT_EQ(at->getValue(&f.state), 0);
    f.state.locations[1] = l;
    EXPECT_EQ(at->getValue(&f.state), 1);
    EXPECT_THROW(at->setValue(&f.state, 1), Bug);
}

TEST(Variables, SystemMetaVariableKeepsItsValueAcrossStates)
{
    Fixture f;
    SystemMetaVariable* v = f.system->addSystemMetaVariable("r", 0, 1, 1, false);
    EXPECT_EQ(v->getValue(nullptr), 1);
    FakeState other;
    EXPECT_TRUE(v->setValue(&f.state, 0));
    EXPECT_EQ(v->getValue(&other), 0);
    EXPECT_FALSE(v->setValue(&other, 2));
}

TEST(Variables, LayoutLines)
{
    base::RefPtr<System> system(new System());
    system->addClock("t(0)", false, 0.0);
    system->addConstant(7, false);
    system->addConstantFP(false, 2.5);
    system->addClock("x", false, 0.0);
    system->addStateVariable("n", -3, 9, 2, false);
    system->addStateMetaVariable("m", 0, 5, 1);
    system->addFPVariable("d", false, 0.25);
    system->addBitArray("b", 0, {false, true});
    system->addStateMetaBitArray("mb", 0, {true});
    Location* urgent = system->getLocationTable().add(0, 0, "U", false, true, false);
    Location* committed = system->getLocationTable().add(0, 1, "C", true, false, false);
    Location* plain = system->getLocationTable().add(0, 2, "L", false, false, false);
    system->addLocationVariable(0, urgent, false);
    system->addLocationVariable(0, committed, false);
    system->addLocationVariable(0, plain, false);
    system->addSystemMetaVariable("s", -1, 1, 0, false);
    system->addSystemMetaFPVariable("sf", false, 0.5);

    std::ostringstream os;
    system->printLayout(os);
    EXPECT_EQ(os.str(),
              "0:clock:0:t(0)\n"
              "1:const:7\n"
              "const:2.5\n"
              "3:clock:1:x\n"
              "4:var:-3:9:2:0:n\n"
              "5:meta:0:5:1:0:m\n"
              "6:fpvar:0.25:0:d\n"
              "7:var:0:1:0:1:b[0]\n"
              "8:var:0:1:1:1:b[1]\n"
              "9:meta:0:1:1:1:mb[0]\n"
              "10:location:urgent:U\n"
              "11:location:committed:C\n"
              "12:location::L\n"
              "13:sys_meta:-1:1:s\n"
              "14:sys_meta_fpvar:0.5:sf\n");
}
