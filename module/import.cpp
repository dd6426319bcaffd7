// One import: the workbook unpacked into T:XLS, the first worksheet walked row by row and
// cell by cell, one host cell per cell with content, and the workspace removed again.
#include "module/import.h"

#include "formula/formula.h"
#include "module/sheaf.h"
#include "xml/xml.h"

#define MAX_ROW 1048576u
#define MAX_COL 16384u

static char sheetpath[XML_PATHSIZE] = "T:XLS/xl/worksheets/sheet1.xml";
static char stringpath[XML_PATHSIZE] = "T:XLS/xl/sharedStrings.xml";
static char nofile[] = "";
char *xmlfiles[15] = { sheetpath, stringpath, nofile };

// Whether OpenXLS found the sheet's data, and whether it is the empty <sheetData/>.
static BOOL sheetdata, sheetempty;

static const char *xmlsections[] = { "sheetData" };

// Runs a command with no streams of its own; its return code.
static int32 RunCommand(const char *command)
{
    return IDOS->SystemTags(command,
                            SYS_Input,  (ULONG)0,
                            SYS_Output, (ULONG)0,
                            SYS_Error,  (ULONG)0,
                            TAG_DONE);
}

void RemoveXLSEnv(void)
{
    // Once more when the shell could not run it or something stayed: a workspace left
    // behind blocks every later import.
    int32 rc = RunCommand("delete T:XLS all force");
    if (rc < 0 || rc >= RETURN_ERROR)
        RunCommand("delete T:XLS all force");
}

// Appends path to the command with the shell's escapes inside double quotes.
static BOOL AppendQuoted(char *command, uint32 size, const char *path)
{
    uint32 n = IUtility->Strlen(command);

    for (const char *p = path; *p != '\0'; p++) {
        BOOL escape = (*p == '"' || *p == '*');
        if (n + (escape ? 2 : 1) >= size)
            return FALSE;
        if (escape)
            command[n++] = '*';
        command[n++] = *p;
    }
    command[n] = '\0';
    return TRUE;
}

BOOL BuildXLSEnv(BOOL write, BPTR file, char *filename, uint32 size)
{
    char command[XML_BUFSIZE];
    const char *suffix = "\" -d T:XLS";
    BPTR lock;
    int32 rc;

    IUtility->ClearMem(filename, size);
    if (!IDOS->DevNameFromFH(file, filename, (int32)size - 1, DN_FULLPATH))
        return FALSE;
    IExec->DebugPrintF("Dateiname: %s\n", filename);

    // T:XLS has a fixed name: one import at a time, and a leftover is never reused.
    lock = IDOS->CreateDir("T:XLS");
    if (lock == ZERO)
        return FALSE;
    IDOS->UnLock(lock);
    IExec->DebugPrintF("Verzeichnis T:XLS erstellt.\n");

    if (write) {
        IExec->DebugPrintF("%s-Enviroment erstellt.\n", "Write");
        return TRUE;
    }

    IUtility->Strlcpy(command, "c:unzip \"", sizeof(command));
    if (!AppendQuoted(command, sizeof(command) - IUtility->Strlen(suffix), filename)) {
        RemoveXLSEnv();
        return FALSE;
    }
    IUtility->Strlcat(command, suffix, sizeof(command));
    rc = RunCommand(command);
    IExec->DebugPrintF("Kommando: %s %d\n", command, (int)rc);
    if (rc != 0) {
        RemoveXLSEnv();
        return FALSE;
    }
    IExec->DebugPrintF("%s-Enviroment erstellt.\n", "Load");
    return TRUE;
}

XMLFile *OpenXLS(uint8 fid, uint8 oid)
{
    char tag[XML_BUFSIZE];
    BOOL trunc = FALSE, complete = FALSE, missing;
    XMLFile *fp;

    sheetdata = sheetempty = FALSE;
    if (oid != XLS_READ || fid > XML_STRINGS)
        return nullptr;
    fp = OpenXMLFile(xmlfiles[fid], &missing);
    if (fp == nullptr)
        return nullptr;
    IExec->DebugPrintF("Datei %s geöffnet\n", xmlfiles[fid]);
    while (FindXMLSection(fp, xmlsections[0], sizeof(tag), tag, &trunc, &complete)) {
        if (TagIs(tag, xmlsections[0])) {       // not sheetDataExt or the like
            sheetdata = TRUE;
            sheetempty = complete;
            break;
        }
    }
    return fp;
}

BOOL CloseXLS(XMLFile *fp)
{
    CloseXMLStream(fp);
    return TRUE;
}

BOOL CreateTabulonCell(Page *page, uint32 col, uint32 row, CFNode fdata, const char *celldata)
{
    Cell *cell = NewCell(page, col, row);

    if (cell == nullptr)
        return FALSE;
    cell->c_Text = AllocString(celldata);
    if (cell->c_Text == nullptr)
        return FALSE;
    if (fdata.format & 15) {
        TagItem tags[] = {
            { FA_Style, fdata.format & 15 },
            { TAG_DONE, 0 },
        };
        cell->c_FontInfo = ChangeFontInfoA(nullptr, page->pg_DPI, tags, 0);
        if (cell->c_FontInfo == nullptr)
            return FALSE;
    }
    if (fdata.fc)
        cell->c_APen = cell->c_ReservedPen = fdata.fcolor;
    if (fdata.bc)
        cell->c_BPen = fdata.bcolor;
    if (fdata.format & 0xFF00)
        IExec->DebugPrintF("0)Alignment     : %d %d %d %d\n", (int)fdata.format,
                           (int)(fdata.format >> 4), (int)(fdata.format >> 8),
                           (int)cell->c_Alignment);
    return TRUE;
}

// The number behind the opening quote of an attribute value; 0 when there is none.
static uint32 AttributeNumber(const char *value)
{
    int32 n = 0;

    if (value[0] != '"' || IDOS->StrToLong(value + 1, &n) <= 0 || n <= 0)
        return 0;
    return (uint32)n;
}

// Traces that a text of the cell at (row, col) did not fit and was cut.
static void TraceCut(const char *what, uint32 row, uint32 col, uint32 chars)
{
    char name[16];

    SetRowColumnNumber(name, row, col);
    IExec->DebugPrintF("Zelle %s: %s gekürzt auf %d Zeichen\n", name, what, (int)chars);
}

// A peek of the walk at the tag it has just read, traced as the peek would be.
static void TraceCheck(const char *sname, BOOL found)
{
    if (found)
        IExec->DebugPrintF("CheckofSection  : %s TRUE\n", sname);
    else
        IExec->DebugPrintF("CheckofSection  : %s FALSE\n", sname);
}

static BOOL IsSharedType(const char *type)
{
    return IUtility->Stricmp(type, "\"s\"") == 0;
}

// The text of a read cell (any: it holds a formula, value or inline string) into
// *celltext: its formula, its shared string, or its value in the host's charset.
static BOOL CellText(const char *type, BOOL any, BOOL hasformula, const XMLText *text,
                     uint32 row, uint32 col, TextBuffers *buffers, const char **celltext)
{
    if (!any)
        return TRUE;
    if (hasformula) {
        *celltext = buffers->host;
    } else if (IsSharedType(type)) {
        int32 index = -1;
        Node *node;
        char *shared = nullptr;
        if (IDOS->StrToLong(buffers->utf8, &index) > 0 && index >= 0)
            shared = GetSharedStrings((uint32)index, &stringlist, &node);
        *celltext = shared != nullptr ? shared : "";
    } else {
        if (text->cut)
            TraceCut("Text", row, col, text->chars);
        ConvertCharset(buffers->utf8, buffers->host, sizeof(buffers->host));
        *celltext = buffers->host;
    }
    return TRUE;
}

// The text a cell element holds, read up to its end tag: its formula, its shared string, its
// inline string or its value, in the host's charset; NULL when the cell holds none. A formula
// wins whatever the type and wherever it stands among the children. FALSE when the file ends
// inside the cell or memory runs out.
static BOOL ReadCell(XMLFile *ws, const char *type, uint32 row, uint32 col, TextBuffers *buffers,
                     const char **celltext)
{
    char tag[XML_BUFSIZE], name[16], skip[4];
    BOOL trunc = FALSE, complete = FALSE, hasvalue = FALSE, hasformula = FALSE;
    BOOL inlinestr = FALSE;
    XMLText text, dropped;

    *celltext = nullptr;
    TextBeginOver(&text, buffers->utf8, sizeof(buffers->utf8), TEXT_MAXCHARS);
    for (BOOL first = !IsSharedType(type);; first = FALSE) {
        if (!FindXMLSection(ws, "", sizeof(tag), tag, &trunc, &complete))
            return FALSE;
        TagName(tag, name, sizeof(name));
        if (first)
            TraceCheck("f", NameIs(name, "f"));     // the formula test of the other types
        if (NameIs(name, "/c"))
            break;
        if (NameIs(name, "v") && !complete) {
            // The value counts before an inline string.
            TextBeginOver(&text, buffers->utf8, sizeof(buffers->utf8), TEXT_MAXCHARS);
            if (!GetXMLValue(ws, &text))
                return FALSE;
            hasvalue = TRUE;
        } else if (NameIs(name, "f")) {
            if (!GetXMLFormula(ws, tag, complete, buffers->host, sizeof(buffers->host), row, col))
                return FALSE;
            if (buffers->host[0] != '\0')
                hasformula = TRUE;
        } else if (NameIs(name, "is")) {
            // <is/> is as empty a text as <is></is>.
            XMLText *into = &text;
            if (hasvalue) {
                TextBegin(&dropped, skip, sizeof(skip), 0, TRUE);
                into = &dropped;
            }
            if (!complete && !GetXMLText(ws, into, "/is"))
                return FALSE;
            inlinestr = TRUE;
        }
    }

    TextEnd(&text);
    BOOL any = hasformula || hasvalue || (inlinestr && !IsSharedType(type));
    return CellText(type, any, hasformula, &text, row, col, buffers, celltext);
}

// The walk decides on each tag as it reads it where a peek would have looked ahead: behind a
// cell whether the row ends, behind a row whether sheetData does. Traces the test pending
// before the tag name, and returns the one pending after it.
static const char *TraceWalkTest(const char *pending, const char *name, BOOL complete)
{
    if (pending != nullptr)
        TraceCheck(pending, NameIs(name, pending));
    if (NameIs(name, "c"))
        return "/row";
    if (NameIs(name, "/row") || (NameIs(name, "row") && complete))
        return "/sheetData";
    return nullptr;
}

// Walks sheetData up to its end tag. FALSE when the file ends before it, or a cell cannot be
// read or made.
static BOOL WalkSheet(XMLFile *ws, Page *page, TextBuffers *buffers)
{
    char tag[XML_BUFSIZE], value[XML_BUFSIZE], type[XML_BUFSIZE], name[16];
    BOOL trunc = FALSE, complete = FALSE;
    uint32 row = 0, col = 0, crow, ccol;
    const char *pending = nullptr;
    const char *celltext;
    CFNode format = {};

    format.format = 0;
    for (;;) {
        if (!FindXMLSection(ws, "", sizeof(tag), tag, &trunc, &complete))
            return FALSE;
        TagName(tag, name, sizeof(name));
        pending = TraceWalkTest(pending, name, complete);
        if (NameIs(name, "/sheetData"))
            return TRUE;
        if (NameIs(name, "row")) {
            // A row without a usable number follows the row element before it.
            GetSectionParameter("r=", tag, sizeof(value), value, &trunc);
            crow = AttributeNumber(value);
            IExec->DebugPrintF("Zeilenwert=%ld\n", (long)crow);
            row = (crow > 0 && crow <= MAX_ROW) ? crow : row + 1;
            col = 0;
            continue;
        }
        if (!NameIs(name, "c"))
            continue;

        // A cell without a usable name lies in its row element's row, one column after the
        // cell before it in that element.
        GetSectionParameter("r=", tag, sizeof(value), value, &trunc);
        GetRowColumnNumber(value, &crow, &ccol);
        if (crow == 0 || ccol == 0 || crow > MAX_ROW || ccol > MAX_COL) {
            crow = row > 0 ? row : 1;
            ccol = col + 1;
        }
        col = ccol;
        if (complete)
            continue;
        GetSectionParameter(" t=", tag, sizeof(type), type, &trunc);
        if (!ReadCell(ws, type, crow, ccol, buffers, &celltext))
            return FALSE;
        if (celltext != nullptr) {
            format.fcolor = 0x000000;
            format.bcolor = 0xFFFFFF;
            // A cell the host cannot make fails the import: nothing is skipped in silence.
            if (!CreateTabulonCell(page, ccol, crow, format, celltext))
                return FALSE;
        }
    }
}

LONG load(BPTR file, Mappe *mp)
{
    LONG result = 20;
    char filename[2048];
    XMLFile *worksheet = nullptr;
    TextBuffers *buffers = nullptr;
    Page *page;

    IExec->DebugPrintF("Systemdaten einlesen\n");
    if (!GetImportantData())
        return 20;
    IExec->DebugPrintF("Enviroment öffnen\n");
    if (!BuildXLSEnv(FALSE, file, filename, sizeof(filename)))
        return 20;

    IExec->NewList(&stringlist);
    IExec->NewList(&formulalist);
    sharedpool = IExec->CreatePool(MEMF_PRIVATE, SHARED_PUDDLE, SHARED_PUDDLE / 32);
    if (sharedpool == nullptr)
        goto exit;
    IExec->DebugPrintF("Tabellen-Datei öffnen\n");
    GetXMLFormula(nullptr, nullptr, FALSE, nullptr, 0, 0, 0);
    buffers = (TextBuffers *)IExec->AllocVecTags(sizeof(TextBuffers),
                                                 AVT_Type, MEMF_PRIVATE,
                                                 TAG_DONE);
    if (buffers == nullptr)
        goto exit;
    buffers->utf8[0] = buffers->host[0] = '\0';
    if (!FindWorkbookParts())
        goto exit;
    worksheet = OpenXLS(XML_SHEET, XLS_READ);
    if (worksheet == nullptr || !sheetdata)
        goto exit;
    if (!ReadSharedStrings(xmlfiles[XML_STRINGS], buffers))
        goto exit;

    IExec->DebugPrintF("Tabulon Seite erstellen\n");
    page = NewPage(mp);
    if (page == nullptr)
        goto exit;
    IExec->DebugPrintF("XLS-Datei verarbeiten\n");
    if (sheetempty || WalkSheet(worksheet, page, buffers))
        result = 0;

exit:
    if (worksheet != nullptr)
        CloseXLS(worksheet);
    if (buffers != nullptr)
        IExec->FreeVec(buffers);
    FreeSharedData(&stringlist, SHARED_STRINGS);
    FreeSharedData(&formulalist, SHARED_FORMULAS);
    if (sharedpool != nullptr)
        IExec->DeletePool(sharedpool);
    sharedpool = nullptr;
    GetXMLFormula(nullptr, nullptr, FALSE, nullptr, 0, 0, 0);
    RemoveXLSEnv();
    return result;
}
