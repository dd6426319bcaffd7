// A sheet's cells as the views read them: placement, order and the later of two winning.
#include <gtest/gtest.h>

#include "tests/support/testing.h"

using Placed = testing_support::HostPage;

TEST_F(Placed, LaterPlacementWinsAndOrderIsRowMajor)
{
    Put(2, 1, "late row");
    Put(1, 2, "first");
    Put(1, 1, nullptr);
    Put(1, 2, "second");
    Put(0, 5, "nowhere");
    auto placed = tabulon::Placed(doc.sheets.back());
    ASSERT_EQ(3u, placed.size());
    EXPECT_EQ(1u, placed[0].col);
    EXPECT_STREQ("", placed[0].text);
    EXPECT_STREQ("second", placed[1].text);
    EXPECT_STREQ("late row", placed[2].text);
}

TEST_F(Placed, KeepsCellsInRowMajorOrderAsTheyAre)
{
    Put(1, 1, "a");
    Put(1, 3, "b");
    Put(4, 2, nullptr);
    auto placed = tabulon::Placed(doc.sheets.back());
    ASSERT_EQ(3u, placed.size());
    EXPECT_STREQ("b", placed[1].text);
    EXPECT_EQ(4u, placed[2].row);
    EXPECT_STREQ("", placed[2].text);
}

TEST(RowMajor, HoldsOnlyForPlacedCellsInOrderEachOnce)
{
    struct { std::vector<std::pair<ULONG, ULONG>> cells; bool rowMajor; } cases[] = {
        {{}, true},
        {{{1, 1}, {1, 2}, {2, 1}, {9, 16384}}, true},
        {{{1, 2}, {1, 1}}, false},             // back in a row
        {{{2, 1}, {1, 5}}, false},             // back a row
        {{{1, 1}, {1, 1}}, false},             // one position twice
        {{{0, 1}}, false},                     // no place on a sheet
        {{{1, 0}}, false},
    };
    for (const auto &c : cases) {
        tabulon::CellStore cells;
        for (const auto &[row, col] : c.cells)
            *cells.Add() = tabulon::StoredCell{row, col, nullptr};
        EXPECT_EQ(c.rowMajor, tabulon::RowMajor(cells)) << c.cells.size();
    }
}
