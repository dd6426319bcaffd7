// A growable index of pointers in the system's memory, so that a lookup costs the same for
// every entry of a list: the shared strings by their number, the shared formulas by si.
#include "xml/xml.h"

#include "sdk/proto.h"

BOOL IndexSet(PointerIndex *index, uint32 k, APTR p)
{
    if (k >= index->room) {
        uint32 room = index->room == 0 ? 64 : index->room;
        while (room <= k) {
            if (room > 0x7FFFFFFFu / sizeof(APTR))
                return FALSE;
            room *= 2;
        }
        APTR *grown = (APTR *)IExec->AllocVecTags(room * (uint32)sizeof(APTR),
                                                  AVT_Type,           MEMF_PRIVATE,
                                                  AVT_ClearWithValue, 0,
                                                  TAG_DONE);
        if (grown == nullptr)
            return FALSE;
        if (index->slots != nullptr) {
            IExec->CopyMem(index->slots, grown, index->room * (uint32)sizeof(APTR));
            IExec->FreeVec(index->slots);
        }
        index->slots = grown;
        index->room = room;
    }
    index->slots[k] = p;
    return TRUE;
}

APTR IndexGet(const PointerIndex *index, uint32 k)
{
    return k < index->room ? index->slots[k] : nullptr;
}

void IndexFree(PointerIndex *index)
{
    if (index->slots != nullptr)
        IExec->FreeVec(index->slots);
    index->slots = nullptr;
    index->room = 0;
}
