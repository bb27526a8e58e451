// RefObj, RefPtr and Lst: ownership rules of the item cache objects.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "cache/Lst.h"
#include "cache/RefObj.h"
#include "cache/RefPtr.h"
#include "common/CString.h"
#include "tests/support/MallocSpy.h"
#include "tests/support/TestThread.h"

namespace {

struct Counted : RefObj {
    explicit Counted(std::atomic<int>& destroyed) : destroyed_(destroyed) {}
    ~Counted() override { ++destroyed_; }
    std::atomic<int>& destroyed_;
};

TEST(RefPtr, SelfAssignmentOfTheOnlyReferenceKeepsTheObject) {
    std::atomic<int> destroyed{0};
    RefPtr<Counted> p(new Counted(destroyed));
    EXPECT_EQ(p->RefCount(), 1);
    p = p.Get();
    const auto& same = p;
    p = same;
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(p->RefCount(), 1);
}

TEST(RefPtr, AssignmentDropsTheOldObjectAndCopiesShareOne) {
    std::atomic<int> destroyed{0};
    RefPtr<Counted> a(new Counted(destroyed));
    RefPtr<Counted> b = a;
    EXPECT_EQ(a->RefCount(), 2);
    b = new Counted(destroyed);
    EXPECT_EQ(a->RefCount(), 1);
    a = b;
    EXPECT_EQ(destroyed, 1);
    a = nullptr;
    b = nullptr;
    EXPECT_EQ(destroyed, 2);
}

TEST(RefPtr, VectorOfThreeDropsThreeReferences) {
    std::atomic<int> destroyed{0};
    RefPtr<Counted> keep(new Counted(destroyed));
    {
        std::vector<RefPtr<Counted>> list(3, keep);
        EXPECT_EQ(keep->RefCount(), 4);
    }
    EXPECT_EQ(keep->RefCount(), 1);
}

TEST(RefPtr, LastReferenceOnAnyThreadDestroysExactlyOnce) {
    for (int round = 0; round < 50; ++round) {
        std::atomic<int> destroyed{0};
        std::vector<TestThread> threads;
        {
            RefPtr<Counted> shared(new Counted(destroyed));
            for (int t = 0; t < 4; ++t) {
                threads.emplace_back([copy = shared]() mutable {
                    for (int i = 0; i < 1000; ++i) {
                        RefPtr<Counted> local = copy;
                    }
                });
            }
        }
        for (auto& t : threads) t.join();
        ASSERT_EQ(destroyed, 1);
    }
}

TEST(Lst, EmptyListHasNoNodes) {
    Lst<CString> list;
    EXPECT_EQ(list.Head(), nullptr);
    EXPECT_EQ(list.Tail(), nullptr);
    EXPECT_EQ(list.Count(), 0);
}

TEST(Lst, AddTailLinksBothWaysAndFreesEveryNode) {
    MallocSpy spy;
    ASSERT_TRUE(spy.Registered());
    {
        Lst<CString> list;
        list.AddTail(L"one");
        list.AddTail(L"two");
        list.AddTail(std::wstring(1000, L'x'));
        EXPECT_EQ(list.Count(), 3);
        EXPECT_EQ(list.Head()->value, L"one");
        EXPECT_EQ(list.Head()->next->value, L"two");
        EXPECT_EQ(list.Tail()->prev->value, L"two");
        EXPECT_EQ(list.Head()->prev, nullptr);
        EXPECT_EQ(list.Tail()->next, nullptr);
        EXPECT_EQ(spy.LiveBlocks(), 3);
    }
    EXPECT_EQ(spy.LiveBlocks(), 0);
}

TEST(Lst, FailedAllocationRaisesOutOfMemoryAndLeavesTheListIntact) {
    MallocSpy spy;
    ASSERT_TRUE(spy.Registered());
    {
        Lst<CString> list;
        list.AddTail(L"kept");
        spy.FailAllocation(1);
        try {
            list.AddTail(L"lost");
            FAIL() << "no error raised";
        } catch (const HResultError& e) {
            EXPECT_EQ(e.Code(), E_OUTOFMEMORY);
        }
        spy.FailAllocation(0);
        EXPECT_EQ(list.Count(), 1);
        EXPECT_EQ(list.Tail()->value, L"kept");
        list.AddTail(L"after");
        EXPECT_EQ(list.Count(), 2);
    }
    EXPECT_EQ(spy.LiveBlocks(), 0);
}

}  // namespace
