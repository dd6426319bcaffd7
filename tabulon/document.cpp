// A sheet's cells as the views read them: row-major, one per position, the later of two
// placements at one position winning.
#include "tabulon/host.h"

#include <algorithm>

namespace tabulon {

static bool Before(const PlacedCell &a, const PlacedCell &b)
{
    return a.row != b.row ? a.row < b.row : a.col < b.col;
}

// Cells at row 0 or column 0 have no place on a sheet and are left out; a cell without a
// text reads as an empty one.
std::vector<PlacedCell> Placed(const Sheet &sheet)
{
    std::vector<PlacedCell> placed;
    bool ordered = true;
    placed.reserve(sheet.cells.size());
    for (const Cell &cell : sheet.cells) {
        if (cell.c_Row == 0 || cell.c_Col == 0)
            continue;
        PlacedCell p{cell.c_Row, cell.c_Col, cell.c_Text != nullptr ? cell.c_Text : ""};
        if (ordered && !placed.empty() && !Before(placed.back(), p))
            ordered = false;
        placed.push_back(p);
    }
    // The module writes cells in file order, which is nearly always row-major already.
    if (ordered)
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
