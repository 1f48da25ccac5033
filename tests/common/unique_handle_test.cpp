#include <gtest/gtest.h>

#include <vector>

#include "common/scope_exit.h"
#include "common/scoped_override.h"
#include "common/unique_handle.h"

namespace {

std::vector<int> g_closed;
void CloseFake(int h) {
    g_closed.push_back(h);
}
int MinusOne() {
    return -1;
}

using FakeHandle = UniqueHandle<int, &CloseFake, &MinusOne>;

class UniqueHandleTest : public ::testing::Test {
protected:
    void SetUp() override { g_closed.clear(); }
};

TEST_F(UniqueHandleTest, ClosesOnceAtScopeEndAndNeverTheInvalidValue) {
    {
        FakeHandle a(7);
        FakeHandle b;  // holds -1
        EXPECT_TRUE(a);
        EXPECT_FALSE(b);
    }
    EXPECT_EQ(g_closed, std::vector<int>{7});
}

TEST_F(UniqueHandleTest, MoveTransfersOwnershipWithoutClosing) {
    FakeHandle a(3);
    FakeHandle b(std::move(a));
    EXPECT_TRUE(g_closed.empty());
    EXPECT_FALSE(a);
    EXPECT_EQ(b.get(), 3);
    FakeHandle c(9);
    c = std::move(b);  // c's old value closes, the moved one does not
    EXPECT_EQ(g_closed, std::vector<int>{9});
    EXPECT_EQ(c.get(), 3);
}

TEST_F(UniqueHandleTest, PutReleasesTheOldValueBeforeAnOutParameterFillsIt) {
    FakeHandle a(4);
    int* slot = a.put();
    EXPECT_EQ(g_closed, std::vector<int>{4});
    EXPECT_EQ(*slot, -1);
    *slot = 5;
    EXPECT_EQ(a.release(), 5);
    EXPECT_FALSE(a);
    EXPECT_EQ(g_closed, std::vector<int>{4});
}

TEST(ScopeExit, RunsUnlessDismissed) {
    int runs = 0;
    {
        ScopeExit guard([&] { ++runs; });
    }
    {
        ScopeExit guard([&] { ++runs; });
        guard.dismiss();
    }
    EXPECT_EQ(runs, 1);
}

int RealAnswer() {
    return 1;
}
int FixedAnswer() {
    return 2;
}

TEST(ScopedOverride, RestoresThePreviousFunction) {
    int (*query)() = &RealAnswer;
    {
        ScopedOverride<int (*)()> fixed(query, &FixedAnswer);
        EXPECT_EQ(query(), 2);
    }
    EXPECT_EQ(query(), 1);
}

}  // namespace
