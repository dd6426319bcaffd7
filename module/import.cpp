// One import: the workbook unpacked into T:XLS, the first worksheet walked row by row and
// cell by cell, one host cell per cell with content, and the workspace removed again.
#include "module/import.h"

#include "formula/formula.h"
#include "module/sheaf.h"
#include "xml/xml.h"

static const char *const xmlsections[] = { "sheetData" };

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
    IExec->DebugPrintF("Kommando: %s %ld\n", command, (long)rc);
    if (rc != 0) {
        RemoveXLSEnv();
        return FALSE;
    }
    IExec->DebugPrintF("%s-Enviroment erstellt.\n", "Load");
    return TRUE;
}

XMLFile *OpenXLS(ImportState *imp, uint8 fid, uint8 oid)
{
    char tag[XML_BUFSIZE];
    BOOL complete = FALSE, missing;
    const char *path;
    XMLFile *fp;

    imp->sheetdata = imp->sheetempty = FALSE;
    if (oid != XLS_READ || fid >= XML_FILES)
        return nullptr;
    path = imp->sheets.list.xmlfiles[fid];
    fp = OpenXMLFile(path, &missing);
    if (fp == nullptr)
        return nullptr;
    IExec->DebugPrintF("Datei %s geöffnet\n", path);
    while (FindXMLSection(fp, xmlsections[0], sizeof(tag), tag, &complete)) {
        if (TagIs(tag, xmlsections[0])) {       // not sheetDataExt or the like
            imp->sheetdata = TRUE;
            imp->sheetempty = complete;
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
    if (fdata.format & 0xFF00)
        IExec->DebugPrintF("0)Alignment     : %ld %ld %ld %ld\n", (long)fdata.format,
                           (long)(fdata.format >> 4), (long)(fdata.format >> 8),
                           (long)cell->c_Alignment);
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
    char name[CELLNAME_MAX];

    SetRowColumnNumber(name, row, col);
    IExec->DebugPrintF("Zelle %s: %s gekürzt auf %ld Zeichen\n", name, what, (long)chars);
}

// A peek of the walk at the tag it has just read, traced as the peek would be.
static void TraceCheck(const char *sname, BOOL found)
{
    if (found)
        IExec->DebugPrintF("CheckofSection  : %s TRUE\n", sname);
    else
        IExec->DebugPrintF("CheckofSection  : %s FALSE\n", sname);
}

// What the f start tag says, its attributes read in one pass.
static void ReadFormulaTag(const char *ftag, FormulaTag *ft)
{
    static const char *const names[] = { "t", "ref", "si" };
    const char *values[3];
    uint32 lens[3];

    FindAttributes(ftag, names, values, lens, 3);
    ft->shared = values[0] != nullptr && lens[0] == 6
                 && IUtility->Strnicmp(values[0], "shared", 6) == 0;
    ft->ref[0] = ft->si[0] = '\0';
    if (ft->shared && values[1] != nullptr)
        QuoteValue(values[1], lens[1], sizeof(ft->ref), ft->ref);
    if (ft->shared && values[2] != nullptr)
        QuoteValue(values[2], lens[2], sizeof(ft->si), ft->si);
}

BOOL GetXMLFormula(ImportState *imp, XMLFile *fpr, const char *ftag, BOOL complete,
                   char *data, uint32 size, uint32 row, uint32 col)
{
    XMLText text;
    FormulaTag ft;

    // Escapes of control characters belong to cell texts; a formula keeps them as written.
    TextBegin(&text, imp->formula, sizeof(imp->formula), FORMULA_MAXCHARS, FALSE);
    if (!complete)
        GetXMLValue(fpr, &text);
    if (text.cut)
        TraceCut("Formel", row, col, text.chars);
    ReadFormulaTag(ftag, &ft);
    return CellFormula(&imp->formulas, imp->formula, &ft, data, size, row, col);
}

// The elements the walk decides on, in the order of walknames; EL_OTHER for any other.
// The most frequent come first: TagIndex tries them in this order.
enum { EL_C, EL_V, EL_CEND, EL_F, EL_ROW, EL_ROWEND, EL_SHEETEND, EL_IS, EL_OTHER };
static const char *const walknames[] = { "c", "v", "/c", "f", "row", "/row", "/sheetData", "is" };

// The next tag inside a cell, its text in tag (XML_BUFSIZE bytes) and its element of
// walknames, or EL_OTHER; -1 when the file ends first. "<v>" and "</c>" as they mostly
// stand, right behind the tag before, are taken at a glance and leave tag as it was.
static int32 NextCellTag(XMLFile *ws, char *tag, BOOL *complete)
{
    if (TakeLiteral(ws, "<v>")) {
        *complete = FALSE;
        return EL_V;
    }
    if (TakeLiteral(ws, "</c>")) {
        *complete = FALSE;
        return EL_CEND;
    }
    if (!FindXMLSection(ws, "", XML_BUFSIZE, tag, complete))
        return -1;
    return (int32)TagIndex(tag, walknames, EL_OTHER);
}

// The text of a read cell (any: it holds a formula, value or inline string) into
// *celltext: its formula, its shared string (shared: of type "s"), or its value in the
// host's charset.
static BOOL CellText(ImportState *imp, BOOL shared, BOOL any, BOOL hasformula,
                     const XMLText *text, uint32 row, uint32 col, const char **celltext)
{
    TextBuffers *buffers = &imp->buffers;

    if (!any)
        return TRUE;
    if (hasformula) {
        *celltext = buffers->host;
    } else if (shared) {
        int32 index = -1;
        char *found = nullptr;
        if (IDOS->StrToLong(buffers->utf8, &index) > 0 && index >= 0)
            found = GetSharedStrings((uint32)index, &imp->strings);
        *celltext = found != nullptr ? found : "";
    } else {
        if (text->cut)
            TraceCut("Text", row, col, text->chars);
        ConvertCharset(buffers->utf8, buffers->host, sizeof(buffers->host));
        *celltext = buffers->host;
    }
    return TRUE;
}

// The text a cell element holds, read up to its end tag: its formula, its shared string (the
// cell's type is "s": shared), its inline string or its value, in the host's charset; NULL
// when the cell holds none. A formula wins whatever the type and wherever it stands among
// the children. FALSE when the file ends inside the cell or memory runs out.
static BOOL ReadCell(ImportState *imp, XMLFile *ws, BOOL shared, uint32 row, uint32 col,
                     const char **celltext)
{
    TextBuffers *buffers = &imp->buffers;
    char tag[XML_BUFSIZE], skip[4];
    BOOL complete = FALSE, hasvalue = FALSE, hasformula = FALSE;
    BOOL inlinestr = FALSE;
    XMLText text, dropped;

    *celltext = nullptr;
    TextBeginOver(&text, buffers->utf8, sizeof(buffers->utf8), TEXT_MAXCHARS);
    for (BOOL first = !shared;; first = FALSE) {
        int32 el = NextCellTag(ws, tag, &complete);
        if (el < 0)
            return FALSE;
        if (first)
            TraceCheck("f", el == EL_F);     // the formula test of the other types
        if (el == EL_CEND)
            break;
        if (el == EL_V && !complete) {
            // The value counts before an inline string.
            if (hasvalue || inlinestr)
                TextBeginOver(&text, buffers->utf8, sizeof(buffers->utf8), TEXT_MAXCHARS);
            if (!GetXMLValue(ws, &text))
                return FALSE;
            hasvalue = TRUE;
        } else if (el == EL_F) {
            if (!GetXMLFormula(imp, ws, tag, complete, buffers->host, sizeof(buffers->host),
                               row, col))
                return FALSE;
            if (buffers->host[0] != '\0')
                hasformula = TRUE;
        } else if (el == EL_IS) {
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

    if (!hasvalue)
        TextEnd(&text);     // GetXMLValue ended its own, and a value is the text's last writer
    BOOL any = hasformula || hasvalue || (inlinestr && !shared);
    return CellText(imp, shared, any, hasformula, &text, row, col, celltext);
}

// The walk decides on each tag as it reads it where a peek would have looked ahead: behind a
// cell whether the row ends, behind a row whether sheetData does. Traces the test pending
// before the element el, and returns the one pending after it (EL_OTHER: none).
static uint32 TraceWalkTest(uint32 pending, uint32 el, BOOL complete)
{
    if (pending != EL_OTHER)
        TraceCheck(walknames[pending], el == pending);
    if (el == EL_C)
        return EL_ROWEND;
    if (el == EL_ROWEND || (el == EL_ROW && complete))
        return EL_SHEETEND;
    return EL_OTHER;
}

// The row and column a cell's tag text names (0 where it names none) and whether its type
// is "s", in one pass over its attributes.
static BOOL ReadCellTag(const char *tag, uint32 *row, uint32 *col)
{
    static const char *const names[] = { "r", "t" };
    const char *values[2];
    uint32 lens[2];

    FindAttributes(tag, names, values, lens, 2);
    *row = *col = 0;
    if (values[0] != nullptr)
        ReadCellName(values[0], lens[0], row, col);
    return values[1] != nullptr && lens[1] == 1 && (values[1][0] | 0x20) == 's';
}

// TRUE when (row, col) lies past the sheet's last row or column, which a cell without a name
// reaches by counting on; such a cell is not made, and a trace line says where it would go.
static BOOL OffTheGrid(uint32 row, uint32 col)
{
    char name[CELLNAME_MAX];

    if (row <= MAX_ROW && col <= MAX_COL)
        return FALSE;
    SetRowColumnNumber(name, row, col);
    IExec->DebugPrintF("Zelle %s: außerhalb der Tabelle, nicht angelegt\n", name);
    return TRUE;
}

// Walks sheetData up to its end tag. FALSE when the file ends before it, or a cell cannot be
// read or made.
static BOOL WalkSheet(ImportState *imp, XMLFile *ws, Page *page)
{
    char tag[XML_BUFSIZE], value[XML_BUFSIZE];
    BOOL complete = FALSE, shared;
    uint32 row = 0, col = 0, crow, ccol, pending = EL_OTHER;
    const char *celltext;
    CFNode format = {};

    for (;;) {
        if (!FindXMLSection(ws, "", sizeof(tag), tag, &complete))
            return FALSE;
        uint32 el = TagIndex(tag, walknames, EL_OTHER);
        pending = TraceWalkTest(pending, el, complete);
        if (el == EL_SHEETEND)
            return TRUE;
        if (el == EL_ROW) {
            // A row without a usable number follows the row element before it.
            GetSectionParameter("r=", tag, sizeof(value), value);
            crow = AttributeNumber(value);
            IExec->DebugPrintF("Zeilenwert=%ld\n", (long)crow);
            row = (crow > 0 && crow <= MAX_ROW) ? crow : row + 1 != 0 ? row + 1 : row;
            col = 0;
            continue;
        }
        if (el != EL_C)
            continue;

        // A cell without a usable name lies in its row element's row, one column after the
        // cell before it in that element.
        shared = ReadCellTag(tag, &crow, &ccol);
        if (crow == 0 || ccol == 0 || crow > MAX_ROW || ccol > MAX_COL) {
            crow = row > 0 ? row : 1;
            ccol = col + 1 != 0 ? col + 1 : col;
        }
        col = ccol;
        if (complete)
            continue;
        if (!ReadCell(imp, ws, shared, crow, ccol, &celltext))
            return FALSE;
        // A cell the host cannot make fails the import: nothing is skipped in silence.
        if (celltext != nullptr && !OffTheGrid(crow, ccol) &&
            !CreateTabulonCell(page, ccol, crow, format, celltext))
            return FALSE;
    }
}

// Imports one worksheet onto a new page named as the sheet, with shared formulas of its own.
// FALSE when its member cannot be read or the walk fails.
static BOOL ImportSheet(Mappe *mp, ImportState *imp, const SheetInfo *sheet)
{
    BOOL ok = FALSE;
    XMLFile *worksheet;
    Page *page;

    EndSharedFormulas(&imp->formulas);
    if (!SetMember(&imp->sheets.list, XML_SHEET, sheet->member))
        return FALSE;
    worksheet = OpenXLS(imp, XML_SHEET, XLS_READ);
    if (worksheet == nullptr)
        return FALSE;
    if (imp->sheetdata) {
        IExec->DebugPrintF("Tabulon Seite erstellen\n");
        page = NewPage(mp);
        if (page != nullptr && sheet->name[0] != '\0')
            page->pg_Node.ln_Name = AllocString(sheet->name);
        if (page != nullptr && (sheet->name[0] == '\0' || page->pg_Node.ln_Name != nullptr)) {
            IExec->DebugPrintF("XLS-Datei verarbeiten\n");
            ok = imp->sheetempty || WalkSheet(imp, worksheet, page);
        }
    }
    CloseXLS(worksheet);
    return ok;
}

// The whole number from 1 a name spells, or 0.
static uint32 SheetNumber(const char *name)
{
    uint32 n = 0, k = 0;

    for (; name[k] != '\0'; k++) {
        uint8 c = (uint8)name[k];
        if (c < '0' || c > '9' || k >= 9)
            return 0;
        n = n * 10 + (c - '0');
    }
    return n;
}

// Finds the worksheet the preferences name (its name first, then its number) or the first
// one; FALSE when there is none.
static BOOL ChooseSheet(SheetImport *imp)
{
    uint32 wanted = imp->choice.which == SHEETS_NAMED ? SheetNumber(imp->choice.name) : 1;
    BOOL numbered = FALSE;

    while (NextSheet(&imp->list, &imp->sheet)) {
        if (imp->sheet.position == 0)
            continue;
        if (imp->choice.which != SHEETS_NAMED && imp->sheet.position == 1)
            return TRUE;
        if (imp->choice.which == SHEETS_NAMED &&
            SameSheetName(imp->sheet.name, imp->choice.name))
            return TRUE;
        if (imp->sheet.position == wanted) {
            IExec->CopyMem(&imp->sheet, &imp->numbered, sizeof(imp->sheet));
            numbered = TRUE;
        }
    }
    if (imp->list.failed || !numbered)
        return FALSE;
    IExec->CopyMem(&imp->numbered, &imp->sheet, sizeof(imp->sheet));
    return TRUE;
}

// One page listing the workbook's sheets: position among the worksheets, name, kind, state.
static BOOL ListSheets(Mappe *mp, SheetImport *imp)
{
    static const char *const kinds[] = { "worksheet", "chartsheet", "dialogsheet",
                                         "macrosheet", "" };
    static const char *const states[] = { "visible", "hidden", "veryHidden" };
    char number[12];
    CFNode format = {};
    uint32 row = 0;
    Page *page = NewPage(mp);

    if (page == nullptr)
        return FALSE;
    while (NextSheet(&imp->list, &imp->sheet)) {
        const SheetInfo *s = &imp->sheet;
        row++;
        ULongToStr(s->position, number, sizeof(number));
        if ((s->position > 0 && !CreateTabulonCell(page, 1, row, format, number)) ||
            !CreateTabulonCell(page, 2, row, format, s->name) ||
            !CreateTabulonCell(page, 3, row, format, kinds[s->kind]) ||
            !CreateTabulonCell(page, 4, row, format, states[s->state]))
            return FALSE;
    }
    return !imp->list.failed;
}

// The sheets the preferences ask for, each on a page of its own.
static BOOL ImportSheets(Mappe *mp, ImportState *all)
{
    SheetImport *imp = &all->sheets;
    uint32 pages = 0;

    if (imp->choice.which == SHEETS_LIST)
        return ListSheets(mp, imp);
    if (imp->choice.which == SHEETS_ALL) {
        while (NextSheet(&imp->list, &imp->sheet)) {
            if (imp->sheet.position == 0)
                continue;
            if (!ImportSheet(mp, all, &imp->sheet))
                return FALSE;
            pages++;
        }
    } else if (ChooseSheet(imp)) {
        return ImportSheet(mp, all, &imp->sheet);
    }
    if (!imp->list.failed && pages == 0) {
        if (imp->choice.which == SHEETS_NAMED)
            IExec->DebugPrintF("Kein Arbeitsblatt \"%s\"\n", imp->choice.name);
        else
            IExec->DebugPrintF("Kein Arbeitsblatt\n");
    }
    return !imp->list.failed && pages > 0;
}

LONG load(BPTR file, Mappe *mp)
{
    LONG result = RETURN_FAIL;
    char filename[2048];
    ImportState *imp;

    IExec->DebugPrintF("Systemdaten einlesen\n");
    if (!GetImportantData())
        return RETURN_FAIL;
    IExec->DebugPrintF("Enviroment öffnen\n");
    if (!BuildXLSEnv(FALSE, file, filename, sizeof(filename)))
        return RETURN_FAIL;

    IExec->DebugPrintF("Tabellen-Datei öffnen\n");
    imp = (ImportState *)IExec->AllocVecTags(sizeof(ImportState),
                                        AVT_Type,           MEMF_PRIVATE,
                                        AVT_ClearWithValue, 0,
                                        TAG_DONE);
    if (imp == nullptr)
        goto exit;
    imp->pool = IExec->CreatePool(MEMF_PRIVATE, SHARED_PUDDLE, SHARED_PUDDLE / 32);
    BeginSharedStrings(&imp->strings, imp->pool);
    BeginSharedFormulas(&imp->formulas, imp->pool);
    if (imp->pool == nullptr)
        goto exit;
    IExec->CopyMem(&settings.sheetchoice, &imp->sheets.choice, sizeof(imp->sheets.choice));
    if (!OpenSheetList(&imp->sheets.list))
        goto exit;
    // The list needs no texts; every other choice reads them once for all its sheets.
    if (imp->sheets.choice.which != SHEETS_LIST &&
        !ReadSharedStrings(imp->sheets.list.xmlfiles[XML_STRINGS], &imp->strings, &imp->buffers))
        goto exit;
    if (ImportSheets(mp, imp))
        result = RETURN_OK;

exit:
    if (imp != nullptr) {
        CloseSheetList(&imp->sheets.list);
        FreeSharedData(&imp->strings);
        EndSharedFormulas(&imp->formulas);
        if (imp->pool != nullptr)
            IExec->DeletePool(imp->pool);
        IExec->FreeVec(imp);
    }
    RemoveXLSEnv();
    return result;
}
