// PointerIndex: pointers by number, grown as the numbers grow.
#include <gtest/gtest.h>

#include "tests/support/standin.h"
#include "xml/xml.h"

TEST(PointerIndex, GrowsToTheSlotAndKeepsWhatItHeld)
{
    testing_support::UseStandIn();
    PointerIndex index = {};
    int a, b, c;
    EXPECT_EQ(nullptr, IndexGet(&index, 0));
    ASSERT_TRUE(IndexSet(&index, 63, &b));
    ASSERT_TRUE(IndexSet(&index, 64, &c));      // one past the first block
    ASSERT_TRUE(IndexSet(&index, 5000, &a));
    EXPECT_EQ(nullptr, IndexGet(&index, 65));   // never set
    EXPECT_EQ(nullptr, IndexGet(&index, 0xFFFFFFFFu));

    // No room for the slot: refused, and what the index held stays.
    EXPECT_FALSE(IndexSet(&index, 0xFFFFFFFFu, &a));
    platform::faults.failAt = 1;
    EXPECT_FALSE(IndexSet(&index, 100000, &a));
    platform::faults.failAt = 0;
    for (auto [slot, held] : {std::pair{63u, &b}, {64u, &c}, {5000u, &a}})
        EXPECT_EQ(held, IndexGet(&index, slot)) << slot;

    IndexFree(&index);
    EXPECT_EQ(nullptr, IndexGet(&index, 0));
    IndexFree(&index);
    EXPECT_TRUE(testing_support::NothingLeft());
}
