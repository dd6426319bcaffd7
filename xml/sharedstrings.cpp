// The shared-string table: every item of the shared-string file, decoded into the host's
// charset, in a list with an index beside it, so a lookup costs the same for every entry.
// Nodes and texts share blocks of the import's pool: one allocation an item, no heap block
// each, and all of it goes back with the pool.
#include "xml/xml.h"

#include "sdk/proto.h"

APTR sharedpool;

static PointerIndex stringindex;   // entry k of stringlist at slot k
static uint32       stringcount;

// Appends node to stringlist and the index; FALSE when the index cannot grow.
static BOOL AddString(Node *node)
{
    if (!IndexSet(&stringindex, stringcount, node))
        return FALSE;
    IExec->AddTail(&stringlist, node);
    stringcount++;
    return TRUE;
}

// Makes the next entry of the decoded item utf8 (len bytes, so its 8-bit text fits behind
// the node); FALSE when memory ran out, since every later index would otherwise point at the
// wrong text.
static BOOL NewEntry(const char *utf8, uint32 len)
{
    Node *node = (Node *)IExec->AllocPooled(sharedpool, (uint32)sizeof(Node) + len + 1);

    if (node == nullptr)
        return FALSE;
    IUtility->ClearMem(node, sizeof(Node));
    node->ln_Name = (char *)(node + 1);
    ConvertCharset(utf8, node->ln_Name, len + 1);
    if (!AddString(node)) {
        IExec->FreePooled(sharedpool, node, (uint32)sizeof(Node) + len + 1);
        return FALSE;
    }
    return TRUE;
}

List stringlist;

BOOL ReadSharedStrings(const char *path, TextBuffers *buffers)
{
    char tag[XML_BUFSIZE];
    BOOL trunc = FALSE, complete = FALSE, ok = TRUE, missing;
    XMLText text;
    BPTR fp;

    IndexFree(&stringindex);
    stringcount = 0;
    fp = OpenXMLFile(path, &missing);
    if (fp == ZERO)
        return missing;    // no table: text cells stay empty
    IExec->DebugPrintF("ReadSharedStrings:Datei %s geöffnet\n", path);

    // A file cut short ends the table, and what was read stays; a failing read fails.
    for (;;) {
        if (!FindXMLSection(fp, "", sizeof(tag), tag, &trunc, &complete)) {
            ok = EndOfFile();
            break;
        }
        if (TagIs(tag, "/sst") || (TagIs(tag, "sst") && complete))
            break;
        if (!TagIs(tag, "si"))
            continue;
        TextBegin(&text, buffers->utf8, sizeof(buffers->utf8), TEXT_MAXCHARS, TRUE);
        if (!complete && !GetXMLText(fp, &text, "/si")) {
            ok = EndOfFile();
            break;
        }
        if (text.cut)
            IExec->DebugPrintF("id=%03d: Text gekürzt auf %d Zeichen\n", (int)stringcount,
                               (int)text.chars);
        if (!NewEntry(buffers->utf8, text.len)) {
            ok = FALSE;
            break;
        }
        IExec->DebugPrintF("id=%03d Text=<%s>\n\n", (int)(stringcount - 1), buffers->utf8);
    }
    IDOS->FClose(fp);
    return ok;
}

char *GetSharedStrings(uint32 num, List *list, Node **datanode)
{
    Node *node;

    if (list == &stringlist) {
        if (num >= stringcount)
            return nullptr;
        node = (Node *)IndexGet(&stringindex, num);
    } else {
        for (node = list->lh_Head; node->ln_Succ != nullptr && num > 0; num--)
            node = node->ln_Succ;
        if (node->ln_Succ == nullptr)
            return nullptr;
    }
    if (node->ln_Name == nullptr)
        return nullptr;
    *datanode = node;
    return node->ln_Name;
}

// The nodes and their texts are the pool's: they go back with it, all at once.
void FreeSharedData(List *list, uint8 type)
{
    IExec->DebugPrintF("FreeSharedData(%d)\n", (int)type);
    if (list->lh_Head == nullptr)
        return;     // never initialised: nothing to free
    IExec->NewList(list);
    if (type == SHARED_STRINGS) {
        IndexFree(&stringindex);
        stringcount = 0;
    }
}
