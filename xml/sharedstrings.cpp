// The shared-string table: every item of the shared-string file, decoded into the host's
// charset, found by its number through an index, so a lookup costs the same for every entry.
// The texts lie back to back in blocks of the import's pool: a table of half a million
// strings costs their bytes and a pointer each, and goes back with the pool at once.
#include "xml/xml.h"

#include "sdk/proto.h"

#define TEXT_BLOCK 65536    // texts are packed into pool blocks of this size

APTR sharedpool;

static PointerIndex stringindex;   // the text of entry k at slot k
static uint32       stringcount;
static char        *textnext, *textend;   // room left in the current block

// Room for size bytes of text; NULL when memory ran out.
static char *TextRoom(uint32 size)
{
    if (size > (uint32)(textend - textnext)) {
        uint32 block = size > TEXT_BLOCK ? size : TEXT_BLOCK;
        textnext = (char *)IExec->AllocPooled(sharedpool, block);
        if (textnext == nullptr) {
            textend = nullptr;
            return nullptr;
        }
        textend = textnext + block;
    }
    return textnext;
}

// Makes the next entry of the decoded item utf8 (len bytes: its 8-bit text is no longer);
// FALSE when memory ran out, since every later index would otherwise point at the wrong
// text.
static BOOL NewEntry(const char *utf8, uint32 len)
{
    char *text = TextRoom(len + 1);

    if (text == nullptr || !IndexSet(&stringindex, stringcount, text))
        return FALSE;
    ConvertCharset(utf8, text, len + 1);
    textnext += IUtility->Strlen(text) + 1;
    stringcount++;
    return TRUE;
}

List stringlist;

BOOL ReadSharedStrings(const char *path, TextBuffers *buffers)
{
    char tag[XML_BUFSIZE];
    BOOL trunc = FALSE, complete = FALSE, ok = TRUE, missing;
    XMLText text;
    XMLFile *fp;

    IndexFree(&stringindex);
    stringcount = 0;
    textnext = textend = nullptr;
    fp = OpenXMLFile(path, &missing);
    if (fp == nullptr)
        return missing;    // no table: text cells stay empty
    IExec->DebugPrintF("ReadSharedStrings:Datei %s geöffnet\n", path);

    // A file cut short ends the table, and what was read stays; a failing read fails.
    for (;;) {
        if (!FindXMLSection(fp, "", sizeof(tag), tag, &trunc, &complete)) {
            ok = !ReadFailed(fp);
            break;
        }
        if (TagIs(tag, "/sst") || (TagIs(tag, "sst") && complete))
            break;
        if (!TagIs(tag, "si"))
            continue;
        TextBeginOver(&text, buffers->utf8, sizeof(buffers->utf8), TEXT_MAXCHARS);
        if (!complete && !GetXMLText(fp, &text, "/si")) {
            ok = !ReadFailed(fp);
            break;
        }
        TextEnd(&text);
        if (text.cut)
            IExec->DebugPrintF("id=%03ld: Text gekürzt auf %ld Zeichen\n", (long)stringcount,
                               (long)text.chars);
        if (!NewEntry(buffers->utf8, text.len)) {
            ok = FALSE;
            break;
        }
        IExec->DebugPrintF("id=%03ld Text=<%s>\n\n", (long)(stringcount - 1), buffers->utf8);
    }
    CloseXMLStream(fp);
    return ok;
}

// The shared strings have no nodes: their entry comes from the index, and *datanode stays.
char *GetSharedStrings(uint32 num, List *, Node **)
{
    return num < stringcount ? (char *)IndexGet(&stringindex, num) : nullptr;
}

// The nodes and their texts are the pool's: they go back with it, all at once.
void FreeSharedData(List *list, uint8 type)
{
    IExec->DebugPrintF("FreeSharedData(%ld)\n", (long)type);
    IExec->NewList(list);
    if (type == SHARED_STRINGS) {
        IndexFree(&stringindex);
        stringcount = 0;
        textnext = textend = nullptr;
    }
}
