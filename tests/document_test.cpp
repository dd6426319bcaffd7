// Whether a sheet's cells are already in the order the views read them.
#include <gtest/gtest.h>

#include "tests/support/testing.h"

TEST(RowMajor, HoldsOnlyForPlacedCellsInOrderEachOnce)
{
    struct { std::vector<std::pair<ULONG, ULONG>> cells; bool rowMajor; } cases[] = {
        {{{1, 1}, {1, 2}, {2, 1}, {9, 16384}}, true},
        {{{1, 2}, {1, 1}}, false},             // back in a row
        {{{2, 1}, {1, 5}}, false},             // back a row
        {{{1, 1}, {1, 1}}, false},             // one position twice
        {{{0, 1}}, false},                     // no place on a sheet
    };
    for (const auto &c : cases) {
        tabulon::CellStore cells;
        for (const auto &[row, col] : c.cells)
            cells.Add(row, col);
        EXPECT_EQ(c.rowMajor, tabulon::RowMajor(cells)) << c.cells.size();
    }
}
