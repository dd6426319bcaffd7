// A sheet's cells as the views read them: row-major, one per position, the later of two
// placements at one position winning.
#include "tabulon/host.h"

#include <algorithm>

namespace tabulon {

static bool Before(const PlacedCell &a, const PlacedCell &b)
{
    return a.row != b.row ? a.row < b.row : a.col < b.col;
}

bool RowMajor(const CellStore &cells)
{
    ULONG row = 0, col = 0;
    for (size_t i = 0; i < cells.size(); i++) {
        const StoredCell &c = cells[i];
        if (c.row == 0 || c.col == 0)
            return false;
        if (c.row < row || (c.row == row && c.col <= col))
            return false;
        row = c.row;
        col = c.col;
    }
    return true;
}

// Cells at row 0 or column 0 have no place on a sheet and are left out; a cell without a
// text reads as an empty one.
std::vector<PlacedCell> Placed(const Sheet &sheet)
{
    std::vector<PlacedCell> placed;
    placed.reserve(sheet.cells.size());
    for (size_t i = 0; i < sheet.cells.size(); i++) {
        const StoredCell &cell = sheet.cells[i];
        const char *text = sheet.TextOf(i);
        if (cell.row != 0 && cell.col != 0)
            placed.push_back({cell.row, cell.col, text != nullptr ? text : ""});
    }
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
