#include "support/object.h"

#include <gtest/gtest.h>

namespace {

// Records its destruction instead of deleting itself, so the tests can watch the count after
// the last release.
class Probe : public base::Object
{
public:
    explicit Probe(int* destroyed) : destroyed(destroyed) {}
    void destroy() override { ++*destroyed; }

private:
    int* destroyed;
};

// Deletes itself through the default destroy and reports it from its destructor.
class Deleted : public base::Object
{
public:
    explicit Deleted(bool* gone) : gone(gone) {}
    ~Deleted() override { *gone = true; }

private:
    bool* gone;
};

TEST(RefPtr, CopyRaisesCountAndLastReleaseDestroys)
{
    int destroyed = 0;
    Probe probe(&destroyed);
    EXPECT_EQ(probe.getRefCount(), 0);
    {
        base::RefPtr<Probe> a(&probe);
        EXPECT_EQ(probe.getRefCount(), 1);
        base::RefPtr<Probe> b = a;
        EXPECT_EQ(probe.getRefCount(), 2);

        b.release();
        EXPECT_FALSE(b);
        EXPECT_EQ(probe.getRefCount(), 1);
        EXPECT_EQ(destroyed, 0);

        b.release();  // releasing a null handle does nothing
        EXPECT_FALSE(b);
        EXPECT_EQ(probe.getRefCount(), 1);
    }
    EXPECT_EQ(probe.getRefCount(), 0);
    EXPECT_EQ(destroyed, 1);
}

TEST(RefPtr, AssignmentTakesNewTargetBeforeReleasingOld)
{
    int destroyedA = 0;
    int destroyedB = 0;
    Probe a(&destroyedA);
    Probe b(&destroyedB);
    base::RefPtr<Probe> handle(&a);
    base::RefPtr<Probe> other(&b);

    handle = handle;  // self-assignment keeps the target and its count
    EXPECT_EQ(a.getRefCount(), 1);
    EXPECT_EQ(destroyedA, 0);

    base::RefPtr<Probe> alias(&a);
    handle = alias;  // same object through another handle
    EXPECT_EQ(a.getRefCount(), 2);
    EXPECT_EQ(destroyedA, 0);

    handle = other;
    EXPECT_EQ(a.getRefCount(), 1);
    EXPECT_EQ(b.getRefCount(), 2);
    alias = nullptr;
    EXPECT_EQ(destroyedA, 1);

    base::RefPtr<Probe> moved = std::move(other);  // a move hands the reference over
    EXPECT_FALSE(other);
    EXPECT_EQ(b.getRefCount(), 2);
    moved.release();
    handle.release();
    EXPECT_EQ(destroyedB, 1);
}

TEST(RefPtr, DefaultDestroyDeletesAndHandlesConvertToBase)
{
    bool gone = false;
    base::RefPtr<base::Object> base;
    {
        base::RefPtr<Deleted> derived(new Deleted(&gone));
        base = derived;
        EXPECT_EQ(base->getRefCount(), 2);
    }
    EXPECT_FALSE(gone);
    base.release();
    EXPECT_TRUE(gone);
}

TEST(Object, CopyStartsUnreferenced)
{
    int destroyed = 0;
    Probe probe(&destroyed);
    base::RefPtr<Probe> handle(&probe);
    Probe copy(probe);
    EXPECT_EQ(copy.getRefCount(), 0);
    EXPECT_EQ(probe.getRefCount(), 1);
}

}  // namespace
