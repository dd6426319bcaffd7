// The shared-string table: every item of the shared-string file, decoded into the host's
// charset, found by its number through an index, so a lookup costs the same for every entry.
// The texts lie back to back in blocks of the import's pool: a table of half a million
// strings costs their bytes and a pointer each, and goes back with the pool at once. The
// text of an item (or of a cell's inline string) is gathered here, run by run.
#include "xml/xml.h"

#include "sdk/proto.h"

#define TEXT_BLOCK 65536    // texts are packed into pool blocks of this size

// Room for size bytes of text; NULL when memory ran out.
static char *TextRoom(SharedStrings *ss, uint32 size)
{
    if (size > (uint32)(ss->textend - ss->textnext)) {
        uint32 block = size > TEXT_BLOCK ? size : TEXT_BLOCK;
        ss->textnext = (char *)IExec->AllocPooled(ss->pool, block);
        if (ss->textnext == nullptr) {
            ss->textend = nullptr;
            return nullptr;
        }
        ss->textend = ss->textnext + block;
    }
    return ss->textnext;
}

// Makes the next entry of the decoded item utf8 (len bytes: its 8-bit text is no longer);
// FALSE when memory ran out, since every later index would otherwise point at the wrong
// text.
static BOOL NewEntry(SharedStrings *ss, const char *utf8, uint32 len)
{
    char *text = TextRoom(ss, len + 1);

    if (text == nullptr || !IndexSet(&ss->index, ss->count, text))
        return FALSE;
    ConvertCharset(utf8, text, len + 1);
    ss->textnext += IUtility->Strlen(text) + 1;
    ss->count++;
    return TRUE;
}

// "<" endname ">" into end (size bytes), or "" when it does not fit.
static void EndTagOf(const char *endname, char *end, uint32 size)
{
    uint32 n = 0;

    end[0] = '<';
    for (; endname[n] != '\0'; n++) {
        if (n + 3 >= size) {
            end[0] = '\0';
            return;
        }
        end[n + 1] = endname[n];
    }
    end[n + 1] = '>';
    end[n + 2] = '\0';
}

BOOL GetXMLText(XMLFile *fpr, XMLText *text, const char *endname)
{
    char tag[XML_BUFSIZE], end[8];
    BOOL complete = FALSE, phonetic = FALSE;

    IExec->DebugPrintF("GetXMLText(%s)\n", text->buf);
    EndTagOf(endname, end, sizeof(end));
    for (;;) {
        // A run's "<t>" and the end tag, right behind the tag before, are taken at a glance.
        if (!phonetic && TakeLiteral(fpr, "<t>")) {
            if (!GetXMLValue(fpr, text))
                return FALSE;
            continue;
        }
        if (end[0] != '\0' && TakeLiteral(fpr, end))
            return TRUE;
        if (!FindXMLSection(fpr, "", sizeof(tag), tag, &complete))
            break;
        if (TagIs(tag, endname))
            return TRUE;
        if (TagIs(tag, "rPh")) {
            phonetic = !complete;       // a reading aid, not part of the text
        } else if (TagIs(tag, "/rPh")) {
            phonetic = FALSE;
        } else if (TagIs(tag, "t") && !complete && !phonetic) {
            // Each run's text goes behind the one before.
            if (!GetXMLValue(fpr, text))
                return FALSE;
        }
    }
    return FALSE;
}

// The next item's start tag, "<si>" right behind the tag before at a glance: 1 when one was
// read (complete set), 0 at the table's end, -1 when the file ends first.
static int NextItem(XMLFile *fp, char *tag, BOOL *complete)
{
    if (TakeLiteral(fp, "<si>")) {
        *complete = FALSE;
        return 1;
    }
    for (;;) {
        if (!FindXMLSection(fp, "", XML_BUFSIZE, tag, complete))
            return -1;
        if (TagIs(tag, "/sst") || (TagIs(tag, "sst") && *complete))
            return 0;
        if (TagIs(tag, "si"))
            return 1;
    }
}

void BeginSharedStrings(SharedStrings *ss, APTR pool)
{
    IUtility->ClearMem(ss, sizeof(*ss));
    IExec->NewList(&ss->stringlist);
    ss->pool = pool;
}

static void EmptyTable(SharedStrings *ss)
{
    IndexFree(&ss->index);
    BeginSharedStrings(ss, ss->pool);
}

BOOL ReadSharedStrings(const char *path, SharedStrings *ss, TextBuffers *buffers)
{
    char tag[XML_BUFSIZE];
    BOOL complete = FALSE, ok = TRUE, missing;
    XMLText text;
    XMLFile *fp;

    EmptyTable(ss);
    fp = OpenXMLFile(path, &missing);
    if (fp == nullptr)
        return missing;    // no table: text cells stay empty
    IExec->DebugPrintF("ReadSharedStrings:Datei %s geöffnet\n", path);

    // A file cut short ends the table, and what was read stays; a failing read fails.
    for (;;) {
        int item = NextItem(fp, tag, &complete);
        if (item <= 0) {
            ok = item == 0 || !ReadFailed(fp);
            break;
        }
        TextBeginOver(&text, buffers->utf8, sizeof(buffers->utf8), TEXT_MAXCHARS);
        if (!complete && !GetXMLText(fp, &text, "/si")) {
            ok = !ReadFailed(fp);
            break;
        }
        TextEnd(&text);
        if (text.cut)
            IExec->DebugPrintF("id=%03ld: Text gekürzt auf %ld Zeichen\n", (long)ss->count,
                               (long)text.chars);
        if (!NewEntry(ss, buffers->utf8, text.len)) {
            ok = FALSE;
            break;
        }
        IExec->DebugPrintF("id=%03ld Text=<%s>\n\n", (long)(ss->count - 1), buffers->utf8);
    }
    CloseXMLStream(fp);
    return ok;
}

char *GetSharedStrings(uint32 num, const SharedStrings *ss)
{
    return num < ss->count ? (char *)IndexGet(&ss->index, num) : nullptr;
}

// The texts are the pool's: they go back with it, all at once.
void FreeSharedData(SharedStrings *ss)
{
    IExec->DebugPrintF("FreeSharedData(%ld)\n", (long)SHARED_STRINGS);
    EmptyTable(ss);
}
