// Finds the members to read: the workbook part named by the package's relationships, its
// first sheet that is a worksheet, and its shared-string table. Where the small files cannot
// be read, the usual names stand.
#include "module/import.h"

#include "xml/xml.h"

#define WORKSPACE "T:XLS/"

// A small file that is there but cannot be read (the system failing, not the workbook):
// the import must fail rather than go by other names.
static BOOL failed;

// Opens a small member; a missing one is NULL, a failing one also sets failed.
static XMLFile *OpenPart(const char *name)
{
    BOOL missing;
    XMLFile *fp = OpenXMLFile(name, &missing);

    if (fp == nullptr && !missing)
        failed = TRUE;
    return fp;
}

// Ends the reading of a small member whose scan ran out: at an error, failed is set.
static void ClosePart(XMLFile *fp, BOOL ranout)
{
    if (ranout && !EndOfFile(fp))
        failed = TRUE;
    CloseXMLStream(fp);
}

// TRUE when the attribute value (with its quotes, which GetSectionParameter always gives)
// ends in "/kind".
static BOOL TypeIs(const char *value, const char *kind)
{
    uint32 vlen = IUtility->Strlen(value), klen = IUtility->Strlen(kind);

    if (vlen < klen + 3)
        return FALSE;
    return value[vlen - klen - 2] == '/' &&
           IUtility->Strnicmp(value + vlen - klen - 1, kind, (int32)klen) == 0;
}

// Joins a relationship target to the folder of its source part and resolves "." and "..";
// the result is a member path below the workspace, in out (XML_PATHSIZE bytes: it never
// holds more than the joined path). FALSE when it would leave the package.
static BOOL ResolveTarget(const char *base, const char *target, char *out)
{
    char path[XML_PATHSIZE];
    uint32 n = 0, len;
    const char *p;

    path[0] = '\0';
    if (target[0] == '"')
        target++;
    if (target[0] == '/') {
        target++;
    } else {
        IUtility->Strlcpy(path, base, sizeof(path));
        // Keep the folder of the source part, with its slash.
        len = IUtility->Strlen(path);
        while (len > 0 && path[len - 1] != '/')
            len--;
        path[len] = '\0';
    }
    if (IUtility->Strlcat(path, target, sizeof(path)) >= (int32)sizeof(path))
        return FALSE;
    len = IUtility->Strlen(path);
    if (len > 0 && path[len - 1] == '"')
        path[--len] = '\0';

    // Segment by segment into out, relative to the package root.
    out[0] = '\0';
    p = path;
    while (*p != '\0') {
        const char *seg = p;
        while (*p != '\0' && *p != '/' && *p != '\\')
            p++;
        len = (uint32)(p - seg);
        if (*p != '\0')
            p++;
        if (len == 0 || (len == 1 && seg[0] == '.'))
            continue;
        if (len == 2 && seg[0] == '.' && seg[1] == '.') {
            if (n == 0)
                return FALSE;
            while (n > 0 && out[n - 1] != '/')
                n--;
            if (n > 0)
                n--;
            out[n] = '\0';
            continue;
        }
        if (n > 0)
            out[n++] = '/';
        for (uint32 k = 0; k < len; k++)
            out[n++] = seg[k];
        out[n] = '\0';
    }
    return n > 0 ? TRUE : FALSE;
}

// The value of the relationship id attribute of a sheet tag, whatever its prefix.
static void SheetRelation(const char *tag, char *value, uint32 size)
{
    BOOL trunc = FALSE;

    GetSectionParameter("r:id=", tag, size, value, &trunc);
    if (value[0] != '\0')
        return;
    // Another prefix for the same namespace: the first attribute named "<prefix>:id".
    for (const char *p = tag; *p != '\0'; p++) {
        if (p[0] == ':' && p[1] == 'i' && p[2] == 'd' && (p[3] == '=' || p[3] == ' ')) {
            const char *a = p;
            char key[64];
            uint32 n = 0;
            while (a > tag && a[-1] != ' ' && a[-1] != '\t' && a[-1] != '\n' && a[-1] != '\r')
                a--;
            while (a < p + 3 && n < sizeof(key) - 2)
                key[n++] = *a++;
            key[n++] = '=';
            key[n] = '\0';
            GetSectionParameter(key, tag, size, value, &trunc);
            return;
        }
    }
}

// A relationship read into the table: its id, and its target when it is of the kind the
// table was read for.
struct Relation {
    char *id;
    char *target;      // NULL: of another kind
};

// The relationships of one file by id, read once: each sheet finds its own by a search
// that does not grow with their number. Equal ids keep their order in the file.
static struct {
    char         file[XML_PATHSIZE];
    const char  *kind;
    BOOL         readable;
    uint32       count;
    PointerIndex sorted;       // Relation pointers
} relations;

static void FreeRelations(void)
{
    for (uint32 k = 0; k < relations.count; k++)
        IExec->FreeVec(IndexGet(&relations.sorted, k));
    IndexFree(&relations.sorted);
    relations.count = 0;
    relations.file[0] = '\0';
}

// Keeps one relationship; FALSE when memory ran out.
static BOOL AddRelation(const char *id, const char *target)
{
    uint32 ilen = IUtility->Strlen(id) + 1, tlen = target != nullptr ? IUtility->Strlen(target) + 1 : 0;
    Relation *r = (Relation *)IExec->AllocVecTags((uint32)sizeof(Relation) + ilen + tlen,
                                                  AVT_Type, MEMF_PRIVATE,
                                                  TAG_DONE);

    if (r == nullptr)
        return FALSE;
    r->id = (char *)(r + 1);
    IExec->CopyMem(id, r->id, ilen);
    r->target = nullptr;
    if (target != nullptr) {
        r->target = r->id + ilen;
        IExec->CopyMem(target, r->target, tlen);
    }
    if (!IndexSet(&relations.sorted, relations.count, r)) {
        IExec->FreeVec(r);
        return FALSE;
    }
    relations.count++;
    return TRUE;
}

// Sorts the table by id, ignoring case, equal ids in file order: merges runs of doubling
// length through a second index. FALSE when memory ran out.
static BOOL SortRelations(void)
{
    PointerIndex other = {};
    APTR *from, *to, *swap;
    uint32 n = relations.count;

    if (n < 2)
        return TRUE;
    if (!IndexSet(&other, n - 1, nullptr))
        return FALSE;
    from = relations.sorted.slots;
    to = other.slots;
    for (uint32 width = 1; width < n; width *= 2) {
        for (uint32 lo = 0; lo < n; lo += 2 * width) {
            uint32 mid = lo + width < n ? lo + width : n, hi = mid + width < n ? mid + width : n;
            uint32 a = lo, b = mid, k = lo;
            while (a < mid || b < hi) {
                BOOL left = b >= hi || (a < mid && IUtility->Stricmp(((Relation *)from[a])->id,
                                                                     ((Relation *)from[b])->id) <= 0);
                to[k++] = left ? from[a++] : from[b++];
            }
        }
        swap = from;
        from = to;
        to = swap;
    }
    if (from != relations.sorted.slots)
        IExec->CopyMem(from, relations.sorted.slots, n * (uint32)sizeof(APTR));
    IndexFree(&other);
    return TRUE;
}

// Reads the relationships of relsfile into the table, unless it holds them already. FALSE
// when the file cannot be read or memory ran out (failed then tells).
static BOOL ReadRelations(const char *relsfile, const char *kind)
{
    char tag[XML_BUFSIZE], id[XML_BUFSIZE], value[XML_BUFSIZE];
    BOOL trunc = FALSE, complete = FALSE, more = TRUE, ok = TRUE;
    XMLFile *fp;

    if (relations.file[0] != '\0' && IUtility->Stricmp(relations.file, relsfile) == 0 &&
        relations.kind == kind)
        return relations.readable;
    FreeRelations();
    IUtility->Strlcpy(relations.file, relsfile, sizeof(relations.file));
    relations.kind = kind;
    fp = OpenPart(relsfile);
    relations.readable = fp != nullptr;
    if (fp == nullptr)
        return FALSE;
    while (ok && (more = FindXMLSection(fp, "Relationship", sizeof(tag), tag, &trunc, &complete))) {
        if (!TagIs(tag, "Relationship"))
            continue;
        GetSectionParameter("Id=", tag, sizeof(id), id, &trunc);
        GetSectionParameter("Type=", tag, sizeof(value), value, &trunc);
        BOOL ofkind = TypeIs(value, kind);
        GetSectionParameter("Target=", tag, sizeof(value), value, &trunc);
        ok = AddRelation(id, ofkind ? value : nullptr);
    }
    ClosePart(fp, ok && !more);
    if (!ok || !SortRelations())
        failed = TRUE;
    relations.readable = !failed;
    return relations.readable;
}

// The first relationship of relsfile with this id: TRUE with its target when there is one,
// and *kindok when it is of the kind.
static BOOL FindRelationById(const char *relsfile, const char *id, const char *kind,
                             char *target, uint32 size, BOOL *kindok, BOOL *readable)
{
    uint32 lo = 0, hi;
    Relation *r;

    *readable = ReadRelations(relsfile, kind);
    if (!*readable)
        return FALSE;
    hi = relations.count;
    while (lo < hi) {
        uint32 mid = lo + (hi - lo) / 2;
        if (IUtility->Stricmp(((Relation *)IndexGet(&relations.sorted, mid))->id, id) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == relations.count)
        return FALSE;
    r = (Relation *)IndexGet(&relations.sorted, lo);
    if (IUtility->Stricmp(r->id, id) != 0)
        return FALSE;
    *kindok = r->target != nullptr;
    if (r->target != nullptr)
        IUtility->Strlcpy(target, r->target, size);
    return TRUE;
}

// Looks through a relationships file for the relationship with this id (when id is not
// empty) or the first of this kind; its target lands in target. TRUE when found; *kindok
// tells whether the one found by id is of the kind.
static BOOL FindRelation(const char *relsfile, const char *id, const char *kind, char *target,
                         uint32 size, BOOL *kindok, BOOL *readable)
{
    char tag[XML_BUFSIZE], value[XML_BUFSIZE];
    BOOL trunc = FALSE, complete = FALSE, found = FALSE, more = TRUE;
    XMLFile *fp;

    if (id[0] != '\0')
        return FindRelationById(relsfile, id, kind, target, size, kindok, readable);
    fp = OpenPart(relsfile);
    *readable = fp != nullptr;
    if (fp == nullptr)
        return FALSE;
    while (!found &&
           (more = FindXMLSection(fp, "Relationship", sizeof(tag), tag, &trunc, &complete))) {
        if (!TagIs(tag, "Relationship"))
            continue;
        GetSectionParameter("Type=", tag, sizeof(value), value, &trunc);
        if (!TypeIs(value, kind))
            continue;
        GetSectionParameter("Target=", tag, sizeof(value), value, &trunc);
        IUtility->Strlcpy(target, value, size);
        found = TRUE;
    }
    ClosePart(fp, !more);
    return found;
}

// The relationships file of a part: "xl/workbook.xml" -> "T:XLS/xl/_rels/workbook.xml.rels".
static BOOL RelsFile(const char *part, char *out, uint32 size)
{
    uint32 len = IUtility->Strlen(part), slash = len;

    while (slash > 0 && part[slash - 1] != '/')
        slash--;
    IUtility->Strlcpy(out, WORKSPACE, size);
    if (slash + IUtility->Strlen(out) >= size)
        return FALSE;
    uint32 n = IUtility->Strlen(out);
    for (uint32 k = 0; k < slash; k++)
        out[n++] = part[k];
    out[n] = '\0';
    IUtility->Strlcat(out, "_rels/", size);
    IUtility->Strlcat(out, part + slash, size);
    return IUtility->Strlcat(out, ".rels", size) < (int32)size;
}

static BOOL SetMember(uint8 fid, const char *member)
{
    IUtility->Strlcpy(xmlfiles[fid], WORKSPACE, XML_PATHSIZE);
    return IUtility->Strlcat(xmlfiles[fid], member, XML_PATHSIZE) < XML_PATHSIZE;
}

// The first sheet of the workbook part fp whose relationship in rels is a worksheet (not a
// chart or dialog sheet), set as the sheet's member. *readable: rels could be read.
static BOOL FirstWorksheet(XMLFile *fp, const char *workbook, const char *rels, BOOL *readable)
{
    char tag[XML_BUFSIZE], id[XML_BUFSIZE], target[XML_BUFSIZE], member[XML_PATHSIZE];
    BOOL trunc = FALSE, complete = FALSE, kindok, found = FALSE, more = TRUE;

    *readable = TRUE;
    while (!found && (more = FindXMLSection(fp, "sheet", sizeof(tag), tag, &trunc, &complete))) {
        if (!TagIs(tag, "sheet"))
            continue;
        SheetRelation(tag, id, sizeof(id));
        if (id[0] == '\0')
            continue;
        kindok = FALSE;
        if (!FindRelation(rels, id, "worksheet", target, sizeof(target), &kindok, readable)) {
            if (!*readable)
                break;
            continue;
        }
        if (kindok && ResolveTarget(workbook, target, member) &&
            SetMember(XML_SHEET, member))
            found = TRUE;
    }
    ClosePart(fp, !more);
    return found;
}

BOOL FindWorkbookParts(void)
{
    char workbook[XML_PATHSIZE], rels[XML_PATHSIZE], target[XML_BUFSIZE];
    char member[XML_PATHSIZE], path[XML_PATHSIZE];
    BOOL kindok = FALSE, readable, found;
    XMLFile *fp;

    failed = FALSE;
    SetMember(XML_SHEET, "xl/worksheets/sheet1.xml");
    SetMember(XML_STRINGS, "xl/sharedStrings.xml");

    IUtility->Strlcpy(workbook, "xl/workbook.xml", sizeof(workbook));
    if (FindRelation(WORKSPACE "_rels/.rels", "", "officeDocument", target, sizeof(target),
                     &kindok, &readable))
        if (!ResolveTarget("", target, workbook))
            IUtility->Strlcpy(workbook, "xl/workbook.xml", sizeof(workbook));
    IExec->DebugPrintF("Arbeitsmappe: %s\n", workbook);

    IUtility->Strlcpy(path, WORKSPACE, sizeof(path));
    IUtility->Strlcat(path, workbook, sizeof(path));
    if (!RelsFile(workbook, rels, sizeof(rels)))
        return !failed;
    fp = OpenPart(path);
    if (fp == nullptr)
        return !failed;    // no workbook part to go by: the usual names
    found = FirstWorksheet(fp, workbook, rels, &readable);
    FreeRelations();
    if (failed)
        return FALSE;
    if (!readable) {
        IExec->DebugPrintF("Keine Beziehungen: %s\n", rels);
        return TRUE;
    }
    if (!found) {
        IExec->DebugPrintF("Kein Arbeitsblatt\n");
        return FALSE;
    }
    if (FindRelation(rels, "", "sharedStrings", target, sizeof(target), &kindok, &readable) &&
        ResolveTarget(workbook, target, member))
        SetMember(XML_STRINGS, member);
    IExec->DebugPrintF("Blatt: %s Texte: %s\n", xmlfiles[XML_SHEET], xmlfiles[XML_STRINGS]);
    return !failed;
}
