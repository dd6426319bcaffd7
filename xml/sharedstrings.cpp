// The shared-string table: every item of the shared-string file, decoded, in a list of host
// strings with an index beside it, so a lookup costs the same for every entry.
#include "xml/xml.h"

#include "host/module.h"
#include "sdk/proto.h"

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

// Makes entry text; FALSE when the node or its host string cannot be had, since every later
// index would otherwise point at the wrong text.
static BOOL NewEntry(const char *text)
{
    Node *node = (Node *)IExec->AllocVecTags(sizeof(Node),
                                             AVT_Type,           MEMF_PRIVATE,
                                             AVT_ClearWithValue, 0,
                                             TAG_DONE);
    if (node == nullptr)
        return FALSE;
    node->ln_Name = AllocString(text);
    if (node->ln_Name == nullptr || !AddString(node)) {
        if (node->ln_Name != nullptr)
            FreeString(node->ln_Name);
        IExec->FreeVec(node);
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
        ConvertCharset(buffers->utf8, buffers->host, sizeof(buffers->host));
        if (!NewEntry(buffers->host)) {
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

void FreeSharedData(List *list, uint8 type)
{
    Node *node = list->lh_Head, *next;

    IExec->DebugPrintF("FreeSharedData(%ld)\n", (long)type);
    if (node == nullptr)
        return;     // never initialised: nothing to free
    while ((next = node->ln_Succ) != nullptr) {
        if (node->ln_Name != nullptr)
            FreeString(node->ln_Name);
        IExec->Remove(node);
        IExec->FreeVec(node);
        node = next;
    }
    if (list == &stringlist) {
        IndexFree(&stringindex);
        stringcount = 0;
    }
}
