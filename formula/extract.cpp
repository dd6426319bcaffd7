// Formula extraction: the f element of a cell read from the worksheet, shared-formula
// definitions kept by their si number, and every use expanded with its references moved by
// its own distance from the defining cell.
#include "formula/formula.h"

#include "sdk/proto.h"
#include "xml/xml.h"

// si numbers below this find their definition through the index, others through the tree:
// either way in steps that do not grow with the number of definitions.
#define SI_INDEXED 1048576u

void BeginSharedFormulas(SharedFormulas *sf, APTR pool)
{
    IUtility->ClearMem(sf, sizeof(*sf));
    IExec->NewList(&sf->formulalist);
    sf->pool = pool;
    sf->root.bit = -1;
    sf->root.child[0] = sf->root.child[1] = &sf->root;
}

void EndSharedFormulas(SharedFormulas *sf)
{
    IndexFree(&sf->index);
    // The nodes are the pool's: they go back with it.
    BeginSharedFormulas(sf, sf->pool);
}

static uint32 Bit(uint32 si, int32 bit)
{
    return (si >> (31 - bit)) & 1;
}

// The node of the tree whose si shares the most leading bits with si; the head when the
// tree is empty. The way down ends where a link leads back up.
static SFNode *Nearest(SharedFormulas *sf, uint32 si)
{
    SFNode *p = &sf->root, *x = sf->root.child[0];

    while (p->bit < x->bit) {
        p = x;
        x = x->child[Bit(si, x->bit)];
    }
    return x;
}

// The latest definition of si.
static SFNode *FindDefinition(SharedFormulas *sf, uint32 si)
{
    SFNode *x;

    if (si < SI_INDEXED)
        return (SFNode *)IndexGet(&sf->index, si);
    if (sf->root.child[0] == nullptr)
        return nullptr;
    x = Nearest(sf, si);
    return x != &sf->root && x->si == si ? x->latest : nullptr;
}

// Files a definition of an si past the index in the tree, or as the latest of its si.
static void FileDefinition(SharedFormulas *sf, SFNode *node)
{
    uint32 si = node->si;
    SFNode *t = Nearest(sf, si), *p = &sf->root, *x = sf->root.child[0];
    int32 bit = 0;

    if (t != &sf->root && t->si == si) {
        t->latest = node;
        return;
    }
    while (Bit(si, bit) == Bit(t->si, bit))
        bit++;
    while (p->bit < x->bit && x->bit < bit) {
        p = x;
        x = x->child[Bit(si, x->bit)];
    }
    node->bit = bit;
    node->latest = node;
    node->child[Bit(si, bit)] = node;
    node->child[1 - Bit(si, bit)] = x;
    p->child[p == &sf->root ? 0 : Bit(si, p->bit)] = node;
}

// Keeps a definition; a later one with the same si replaces it for the cells after it.
// FALSE when memory ran out.
static BOOL StoreDefinition(SharedFormulas *sf, const char *text, uint32 si, const char *ref,
                            uint32 row, uint32 col)
{
    char range[64];
    SFNode *node;
    uint32 len, k;

    IExec->DebugPrintF("Create Shared Formula\n");
    if (si < SI_INDEXED && !IndexSet(&sf->index, si, nullptr))
        return FALSE;
    len = IUtility->Strlen(text);
    node = (SFNode *)IExec->AllocPooled(sf->pool, (uint32)sizeof(SFNode) + len + 1);
    if (node == nullptr)
        return FALSE;
    IUtility->ClearMem(node, sizeof(SFNode));
    node->node.ln_Name = (char *)(node + 1);
    IExec->CopyMem(text, node->node.ln_Name, len + 1);
    node->scol = col;
    node->srow = row;
    node->si = si;
    IUtility->Strlcpy(range, ref, sizeof(range));
    len = IUtility->Strlen(range);
    for (k = len; k > 0 && range[k - 1] != ':'; k--)
        ;
    if (k > 0)
        GetRowColumnNumber(range + k, &node->erow, &node->ecol);
    IExec->AddTail(&sf->formulalist, &node->node);
    if (si < SI_INDEXED)
        IndexSet(&sf->index, si, node);     // the slot is there already
    else
        FileDefinition(sf, node);
    return TRUE;
}

// Text of formula in the host's language and charset, moved by (drow, dcol). No character
// grows more than sixfold (a "%" into "(" and "/100)"), so CELL_BUFSIZE keeps it whole.
static void HostFormula(const SharedFormulas *sf, const char *text, char *data, uint32 size,
                        int32 drow, int32 dcol)
{
    ConvertFormula(text, data, size, drow, dcol, sf->cell);
    ConvertCharset(data, data, size);
}

// A shared formula: its definition, stored and converted, or a use, moved from it. FALSE
// when memory ran out.
static BOOL SharedFormula(SharedFormulas *sf, const char *text, const FormulaTag *ft,
                          char *data, uint32 size, uint32 row, uint32 col)
{
    int32 number = -1;
    SFNode *node;

    if (ft->si[0] != '"' || IDOS->StrToLong(ft->si + 1, &number) <= 0 || number < 0)
        number = -1;
    if (text[0] != '\0') {
        // The defining cell, or a writer that repeats the text in every cell.
        if (ft->ref[0] != '\0' && number >= 0 &&
            !StoreDefinition(sf, text, (uint32)number, ft->ref, row, col))
            return FALSE;
        HostFormula(sf, text, data, size, 0, 0);
        return TRUE;
    }
    if (number >= 0) {
        IExec->DebugPrintF("\nUse Shared Formula\n");
        if ((node = FindDefinition(sf, (uint32)number)) != nullptr) {
            HostFormula(sf, node->node.ln_Name, data, size, (int32)(row - node->srow),
                        (int32)(col - node->scol));
            return TRUE;
        }
    }
    IExec->DebugPrintF("<<<Fehlerfang>>>\n");
    return TRUE;
}

BOOL CellFormula(SharedFormulas *sf, const char *text, const FormulaTag *ft, char *data,
                 uint32 size, uint32 row, uint32 col)
{
    data[0] = '\0';
    SetRowColumnNumber(sf->cell, row, col);
    if (ft->shared)
        return SharedFormula(sf, text, ft, data, size, row, col);
    // Plain and array formulas; an empty one (a data table's) leaves the cell its value.
    if (text[0] != '\0')
        HostFormula(sf, text, data, size, 0, 0);
    return TRUE;
}
