// A page's cells as the host keeps them: place and text in chunks of huge pages, the look
// beside for the few cells whose look the module changed, and the one record it lends.
#include "tabulon/host.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace tabulon {

void *TakeChunk(size_t size)
{
    return platform::TakeHugePages(size);
}

void GiveChunk(void *chunk, size_t size)
{
    platform::GiveHugePages(chunk, size);
}

CellStore::CellStore(CellStore &&other) noexcept
{
    *this = std::move(other);
}

CellStore &CellStore::operator=(CellStore &&other) noexcept
{
    if (this != &other) {
        for (StoredCell *chunk : chunks_)
            GiveChunk(chunk, CHUNK_SIZE);
        chunks_ = std::move(other.chunks_);
        count_ = other.count_;
        other.chunks_.clear();
        other.count_ = 0;
    }
    return *this;
}

CellStore::~CellStore()
{
    for (StoredCell *chunk : chunks_)
        GiveChunk(chunk, CHUNK_SIZE);
}

StoredCell *CellStore::Add(ULONG row, ULONG col)
{
    if (count_ == chunks_.size() * PER_CHUNK) {
        StoredCell *chunk = (StoredCell *)TakeChunk(CHUNK_SIZE);
        if (chunk == nullptr)
            return nullptr;
        chunks_.push_back(chunk);
    }
    StoredCell *cell = &(*this)[count_++];
    *cell = StoredCell{row, col, nullptr};     // written once: its text comes when it settles
    return cell;
}

void Sheet::Settle()
{
    if (!lending)
        return;
    lending = false;
    size_t last = cells.size() - 1;
    cells[last].text = lent.c_Text;
    if (lent.c_FontInfo != nullptr || lent.c_APen != 1 || lent.c_BPen != 0 ||
        lent.c_ReservedPen != 0)
        looks[last] = CellLook{lent.c_FontInfo, lent.c_APen, lent.c_BPen, lent.c_ReservedPen};
}

Cell Sheet::At(size_t i) const
{
    Cell cell{};
    if (lending && i + 1 == cells.size())
        return lent;
    cell.c_Row = cells[i].row;
    cell.c_Col = cells[i].col;
    cell.c_Text = (STRPTR)cells[i].text;
    cell.c_APen = 1;
    auto look = looks.find(i);
    if (look != looks.end()) {
        cell.c_FontInfo = look->second.font;
        cell.c_APen = look->second.apen;
        cell.c_BPen = look->second.bpen;
        cell.c_ReservedPen = look->second.reservedpen;
    }
    return cell;
}

}  // namespace tabulon
