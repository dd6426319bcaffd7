// A sheet's cells as the views read them: row-major, one per position, the later of two
// placements at one position winning.
#include "tabulon/host.h"

#include <algorithm>

namespace tabulon {

static bool Before(const PlacedCell &a, const PlacedCell &b)
{
    return a.row != b.row ? a.row < b.row : a.col < b.col;
}

bool RowMajor(const std::deque<Cell> &cells)
{
    ULONG row = 0, col = 0;
    for (const Cell &c : cells) {
        if (c.c_Row == 0 || c.c_Col == 0)
            return false;
        if (c.c_Row < row || (c.c_Row == row && c.c_Col <= col))
            return false;
        row = c.c_Row;
        col = c.c_Col;
    }
    return true;
}

// Cells at row 0 or column 0 have no place on a sheet and are left out; a cell without a
// text reads as an empty one.
std::vector<PlacedCell> Placed(const Sheet &sheet)
{
    std::vector<PlacedCell> placed;
    placed.reserve(sheet.cells.size());
    for (const Cell &cell : sheet.cells)
        if (cell.c_Row != 0 && cell.c_Col != 0)
            placed.push_back({cell.c_Row, cell.c_Col, cell.c_Text != nullptr ? cell.c_Text : ""});
    // The module writes cells in file order, which is nearly always row-major already.
    if (RowMajor(sheet.cells))
        return placed;

    std::stable_sort(placed.begin(), placed.end(), Before);
    size_t out = 0;
    for (size_t i = 0; i < placed.size(); i++) {
        if (i + 1 < placed.size() && !Before(placed[i], placed[i + 1]))
            continue;    // a later placement at the same position follows
        placed[out++] = placed[i];
    }
    placed.resize(out);
    return placed;
}

}  // namespace tabulon
