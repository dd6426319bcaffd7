// Finds the members to read: the workbook part named by the package's relationships, its
// first sheet that is a worksheet, and its shared-string table. Where the small files cannot
// be read, the usual names stand.
#include "module/import.h"

#include "xml/xml.h"

#define WORKSPACE "T:XLS/"

// Opens a small member; a missing one is NULL, a failing one also sets list->failed: a
// small file that is there but cannot be read fails the import rather than let it go by
// other names.
static XMLFile *OpenPart(SheetList *list, const char *name)
{
    BOOL missing;
    XMLFile *fp = OpenXMLFile(name, &missing);

    if (fp == nullptr && !missing)
        list->failed = TRUE;
    return fp;
}

// Ends the reading of a small member whose scan ran out: at an error, list->failed is set.
static void ClosePart(SheetList *list, XMLFile *fp, BOOL ranout)
{
    if (ranout && ReadFailed(fp))
        list->failed = TRUE;
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

    GetSectionParameter("r:id=", tag, size, value);
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
            GetSectionParameter(key, tag, size, value);
            return;
        }
    }
}

// A relationship read into the table: its id, type and target, as the tag gives them.
struct Relation {
    char *id;
    char *type;
    char *target;
};

static void FreeRelations(SheetList *list)
{
    for (uint32 k = 0; k < list->relations.count; k++)
        IExec->FreeVec(IndexGet(&list->relations.sorted, k));
    IndexFree(&list->relations.sorted);
    list->relations.count = 0;
    list->relations.file[0] = '\0';
}

// Keeps one relationship; FALSE when memory ran out.
static BOOL AddRelation(SheetList *list, const char *id, const char *type, const char *target)
{
    uint32 ilen = IUtility->Strlen(id) + 1, ylen = IUtility->Strlen(type) + 1;
    uint32 tlen = IUtility->Strlen(target) + 1;
    Relation *r = (Relation *)IExec->AllocVecTags((uint32)sizeof(Relation) + ilen + ylen + tlen,
                                                  AVT_Type, MEMF_PRIVATE,
                                                  TAG_DONE);

    if (r == nullptr)
        return FALSE;
    r->id = (char *)(r + 1);
    r->type = r->id + ilen;
    r->target = r->type + ylen;
    IExec->CopyMem(id, r->id, ilen);
    IExec->CopyMem(type, r->type, ylen);
    IExec->CopyMem(target, r->target, tlen);
    if (!IndexSet(&list->relations.sorted, list->relations.count, r)) {
        IExec->FreeVec(r);
        return FALSE;
    }
    list->relations.count++;
    return TRUE;
}

// Sorts the table by id, ignoring case, equal ids in file order: merges runs of doubling
// length through a second index. FALSE when memory ran out.
static BOOL SortRelations(SheetList *list)
{
    PointerIndex other = {};
    APTR *from, *to, *swap;
    uint32 n = list->relations.count;

    if (n < 2)
        return TRUE;
    if (!IndexSet(&other, n - 1, nullptr))
        return FALSE;
    from = list->relations.sorted.slots;
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
    if (from != list->relations.sorted.slots)
        IExec->CopyMem(from, list->relations.sorted.slots, n * (uint32)sizeof(APTR));
    IndexFree(&other);
    return TRUE;
}

// Reads the relationships of relsfile into the table, unless it holds them already. FALSE
// when the file cannot be read or memory ran out (list->failed then tells).
static BOOL ReadRelations(SheetList *list, const char *relsfile)
{
    char tag[XML_BUFSIZE], id[XML_BUFSIZE], type[XML_BUFSIZE], target[XML_BUFSIZE];
    BOOL complete = FALSE, more = TRUE, ok = TRUE;
    XMLFile *fp;

    if (list->relations.file[0] != '\0' && IUtility->Stricmp(list->relations.file, relsfile) == 0)
        return list->relations.readable;
    FreeRelations(list);
    IUtility->Strlcpy(list->relations.file, relsfile, sizeof(list->relations.file));
    fp = OpenPart(list, relsfile);
    list->relations.readable = fp != nullptr;
    if (fp == nullptr)
        return FALSE;
    while (ok && (more = FindXMLSection(fp, "Relationship", sizeof(tag), tag, &complete))) {
        if (!TagIs(tag, "Relationship"))
            continue;
        GetSectionParameter("Id=", tag, sizeof(id), id);
        GetSectionParameter("Type=", tag, sizeof(type), type);
        GetSectionParameter("Target=", tag, sizeof(target), target);
        ok = AddRelation(list, id, type, target);
    }
    ClosePart(list, fp, ok && !more);
    if (!ok || !SortRelations(list))
        list->failed = TRUE;
    list->relations.readable = !list->failed;
    return list->relations.readable;
}

// The first relationship of relsfile with this id: TRUE with its target and type (size
// bytes each), and *kindok when it is of the kind.
static BOOL FindRelationById(SheetList *list, const char *relsfile, const char *id,
                             const char *kind, char *target, char *type, uint32 size,
                             BOOL *kindok, BOOL *readable)
{
    uint32 lo = 0, hi;
    Relation *r;

    *readable = ReadRelations(list, relsfile);
    if (!*readable)
        return FALSE;
    hi = list->relations.count;
    while (lo < hi) {
        uint32 mid = lo + (hi - lo) / 2;
        if (IUtility->Stricmp(((Relation *)IndexGet(&list->relations.sorted, mid))->id, id) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == list->relations.count)
        return FALSE;
    r = (Relation *)IndexGet(&list->relations.sorted, lo);
    if (IUtility->Stricmp(r->id, id) != 0)
        return FALSE;
    IUtility->Strlcpy(type, r->type, size);
    IUtility->Strlcpy(target, r->target, size);
    *kindok = TypeIs(type, kind);
    return TRUE;
}

// Looks through a relationships file for the relationship with this id (when id is not
// empty) or the first of this kind; its target lands in target and its type in type (both
// size bytes). TRUE when found; *kindok tells whether the one found by id is of the kind.
static BOOL FindRelation(SheetList *list, const char *relsfile, const char *id,
                         const char *kind, char *target, char *type, uint32 size, BOOL *kindok,
                         BOOL *readable)
{
    char tag[XML_BUFSIZE];
    BOOL complete = FALSE, found = FALSE, more = TRUE;
    XMLFile *fp;

    if (id[0] != '\0')
        return FindRelationById(list, relsfile, id, kind, target, type, size, kindok, readable);
    fp = OpenPart(list, relsfile);
    *readable = fp != nullptr;
    if (fp == nullptr)
        return FALSE;
    while (!found &&
           (more = FindXMLSection(fp, "Relationship", sizeof(tag), tag, &complete))) {
        if (!TagIs(tag, "Relationship"))
            continue;
        GetSectionParameter("Type=", tag, size, type);
        if (!TypeIs(type, kind))
            continue;
        GetSectionParameter("Target=", tag, size, target);
        found = TRUE;
    }
    ClosePart(list, fp, !more);
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

// A member too long for the workspace's room leaves the slot as it was: cut, it could name
// another member.
BOOL SetMember(SheetList *list, uint8 fid, const char *member)
{
    char path[XML_PATHSIZE];

    IUtility->Strlcpy(path, WORKSPACE, sizeof(path));
    if (IUtility->Strlcat(path, member, sizeof(path)) >= (int32)sizeof(path))
        return FALSE;
    IUtility->Strlcpy(list->xmlfiles[fid], path, XML_PATHSIZE);
    return TRUE;
}

// The kind of sheet a relationship type names.
static uint8 SheetKind(const char *type)
{
    static const struct { const char *type; uint8 kind; } kinds[] = {
        { "worksheet", SHEET_WORKSHEET }, { "chartsheet", SHEET_CHART },
        { "dialogsheet", SHEET_DIALOG },  { "xlMacrosheet", SHEET_MACRO },
        { "xlIntlMacrosheet", SHEET_MACRO },
    };
    for (const auto &k : kinds)
        if (TypeIs(type, k.type))
            return k.kind;
    return SHEET_OTHER;
}

// Name and state of a sheet tag; the name decoded into the system's charset.
static void SheetNameState(const char *tag, SheetInfo *info, char *value, uint32 size)
{
    XMLText text;
    uint32 n;

    GetSectionParameter("name=", tag, size, value);
    n = IUtility->Strlen(value);
    TextBegin(&text, info->name, sizeof(info->name), XML_BUFSIZE / 4 - 1, FALSE);
    for (uint32 k = 1; k + 1 < n; k++)     // inside the quotes
        TextPut(&text, (uint8)value[k]);
    TextEnd(&text);
    ConvertCharset(info->name, info->name, sizeof(info->name));
    GetSectionParameter("state=", tag, size, value);
    info->state = STATE_VISIBLE;
    if (IUtility->Stricmp(value, "\"hidden\"") == 0)
        info->state = STATE_HIDDEN;
    else if (IUtility->Stricmp(value, "\"veryHidden\"") == 0)
        info->state = STATE_VERYHIDDEN;
}

// Fills info from a sheet tag through its relationship; FALSE when the tag names none.
static BOOL ReadSheet(SheetList *list, const char *tag, SheetInfo *info)
{
    char id[XML_BUFSIZE], target[XML_BUFSIZE], type[XML_BUFSIZE];
    BOOL kindok = FALSE, readable;

    SheetRelation(tag, id, sizeof(id));
    if (id[0] == '\0' ||
        !FindRelation(list, list->rels, id, "worksheet", target, type, sizeof(target),
                      &kindok, &readable))
        return FALSE;
    info->kind = SheetKind(type);
    if (info->kind == SHEET_WORKSHEET && ResolveTarget(list->part, target, info->member) &&
        IUtility->Strlen(info->member) + sizeof(WORKSPACE) <= XML_PATHSIZE)
        info->position = ++list->worksheets;
    SheetNameState(tag, info, type, sizeof(type));
    return TRUE;
}

BOOL NextSheet(SheetList *list, SheetInfo *info)
{
    char tag[XML_BUFSIZE];
    BOOL complete = FALSE;

    IUtility->ClearMem(info, sizeof(*info));
    if (list->done)
        return FALSE;
    if (list->workbook == nullptr) {
        // No workbook part to go by: the one worksheet of the usual name.
        list->done = TRUE;
        info->kind = SHEET_WORKSHEET;
        info->position = list->worksheets = 1;
        IUtility->Strlcpy(info->member, "xl/worksheets/sheet1.xml", sizeof(info->member));
        return TRUE;
    }
    while (FindXMLSection(list->workbook, "sheet", sizeof(tag), tag, &complete)) {
        if (TagIs(tag, "sheet") && ReadSheet(list, tag, info))
            return !list->failed;
        if (list->failed)
            break;
    }
    list->done = TRUE;
    if (ReadFailed(list->workbook))
        list->failed = TRUE;
    return FALSE;
}

void CloseSheetList(SheetList *list)
{
    if (list->workbook != nullptr)
        CloseXMLStream(list->workbook);
    list->workbook = nullptr;
    FreeRelations(list);
}

// The workbook part named by the package's relationships, into list->part.
static void FindWorkbookPart(SheetList *list)
{
    char target[XML_BUFSIZE], type[XML_BUFSIZE];
    BOOL kindok = FALSE, readable;

    IUtility->Strlcpy(list->part, "xl/workbook.xml", sizeof(list->part));
    if (FindRelation(list, WORKSPACE "_rels/.rels", "", "officeDocument", target, type,
                     sizeof(target), &kindok, &readable))
        if (!ResolveTarget("", target, list->part))
            IUtility->Strlcpy(list->part, "xl/workbook.xml", sizeof(list->part));
    IExec->DebugPrintF("Arbeitsmappe: %s\n", list->part);
}

BOOL OpenSheetList(SheetList *list)
{
    char target[XML_BUFSIZE], type[XML_BUFSIZE], member[XML_PATHSIZE];
    BOOL kindok = FALSE, readable;
    XMLFile *rels;

    IUtility->ClearMem(list, sizeof(*list));
    SetMember(list, XML_SHEET, "xl/worksheets/sheet1.xml");
    SetMember(list, XML_STRINGS, "xl/sharedStrings.xml");
    FindWorkbookPart(list);
    IUtility->Strlcpy(member, WORKSPACE, sizeof(member));
    IUtility->Strlcat(member, list->part, sizeof(member));
    if (!RelsFile(list->part, list->rels, sizeof(list->rels)))
        return !list->failed;
    // Without its relationships a workbook part names no member: the usual names stand.
    rels = OpenPart(list, list->rels);
    if (rels == nullptr) {
        IExec->DebugPrintF("Keine Beziehungen: %s\n", list->rels);
        return !list->failed;
    }
    CloseXMLStream(rels);
    list->workbook = OpenPart(list, member);
    if (list->workbook == nullptr)
        return !list->failed;
    if (FindRelation(list, list->rels, "", "sharedStrings", target, type, sizeof(target),
                     &kindok, &readable) &&
        ResolveTarget(list->part, target, member))
        SetMember(list, XML_STRINGS, member);
    IExec->DebugPrintF("Texte: %s\n", list->xmlfiles[XML_STRINGS]);
    return !list->failed;
}

// A code point without its letter case, for the alphabets the system's charsets hold.
static uint32 FoldCase(uint32 cp)
{
    if ((cp >= 'A' && cp <= 'Z') || (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) ||
        (cp >= 0x391 && cp <= 0x3AB && cp != 0x3A2) || (cp >= 0x410 && cp <= 0x42F))
        return cp + 0x20;
    if (cp >= 0x400 && cp <= 0x40F)
        return cp + 0x50;
    if ((cp >= 0x100 && cp <= 0x137) || (cp >= 0x14A && cp <= 0x177))
        return cp | 1;
    if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E))
        return (cp & 1) != 0 ? cp + 1 : cp;
    if (cp == 0x178)
        return 0xFF;
    if (cp == 0x490)
        return 0x491;
    return cp;
}

BOOL SameSheetName(const char *a, const char *b)
{
    const uint8 *p = (const uint8 *)a, *q = (const uint8 *)b;

    for (; *p != 0 && *q != 0; p++, q++)
        if (FoldCase(charset.ucsmap[*p]) != FoldCase(charset.ucsmap[*q]))
            return FALSE;
    return *p == *q;
}
