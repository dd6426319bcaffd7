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
    if (sf->text != nullptr)
        IExec->FreeVec(sf->text);
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

// Reads the text of the f element into sf->text, made at the first formula of an import.
// FALSE when memory ran out.
static BOOL ReadFormulaText(SharedFormulas *sf, XMLFile *fpr, BOOL complete, uint32 row,
                            uint32 col)
{
    XMLText text;

    if (sf->text == nullptr) {
        sf->text = (char *)IExec->AllocVecTags(FORMULA_BUFSIZE,
                                               AVT_Type, MEMF_PRIVATE,
                                               TAG_DONE);
        if (sf->text == nullptr)
            return FALSE;
    }
    // Escapes of control characters belong to cell texts; a formula keeps them as written.
    TextBegin(&text, sf->text, FORMULA_BUFSIZE, FORMULA_MAXCHARS, FALSE);
    if (!complete)
        GetXMLValue(fpr, &text);
    if (text.cut) {
        char name[CELLNAME_MAX];
        SetRowColumnNumber(name, row, col);
        IExec->DebugPrintF("Zelle %s: Formel gekürzt auf %ld Zeichen\n", name, (long)text.chars);
    }
    return TRUE;
}

// TRUE when the f start tag says t="shared"; a bare <f> has no attributes to look for.
static BOOL IsShared(const char *ftag)
{
    char type[16];   // room for "shared": a longer value is none
    BOOL trunc = FALSE;

    for (const char *p = ftag; *p != '\0'; p++) {
        if (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') {
            GetSectionParameter(" t=", ftag, sizeof(type), type, &trunc);
            return IUtility->Stricmp(type, "\"shared\"") == 0;
        }
    }
    return FALSE;
}

// A shared formula: its definition, stored and converted, or a use, moved from it. FALSE
// when memory ran out.
static BOOL SharedFormula(SharedFormulas *sf, const char *ftag, char *data, uint32 size,
                          uint32 row, uint32 col)
{
    char ref[64], si[16];    // a range of the sheet and an si number: longer values are none
    BOOL trunc = FALSE;
    int32 number = -1;
    SFNode *node;

    GetSectionParameter(" ref=", ftag, sizeof(ref), ref, &trunc);
    GetSectionParameter(" si=", ftag, sizeof(si), si, &trunc);
    if (si[0] != '"' || IDOS->StrToLong(si + 1, &number) <= 0 || number < 0)
        number = -1;
    if (sf->text[0] != '\0') {
        // The defining cell, or a writer that repeats the text in every cell.
        if (ref[0] != '\0' && number >= 0 &&
            !StoreDefinition(sf, sf->text, (uint32)number, ref, row, col))
            return FALSE;
        HostFormula(sf, sf->text, data, size, 0, 0);
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

BOOL GetXMLFormula(SharedFormulas *sf, XMLFile *fpr, const char *ftag, BOOL complete,
                   char *data, uint32 size, uint32 row, uint32 col)
{
    data[0] = '\0';
    SetRowColumnNumber(sf->cell, row, col);
    if (!ReadFormulaText(sf, fpr, complete, row, col))
        return FALSE;
    if (IsShared(ftag))
        return SharedFormula(sf, ftag, data, size, row, col);
    // Plain and array formulas; an empty one (a data table's) leaves the cell its value.
    if (sf->text[0] != '\0')
        HostFormula(sf, sf->text, data, size, 0, 0);
    return TRUE;
}
