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

// Looks through a relationships file for the relationship with this id (when id is not
// empty) or the first of this kind; its target lands in target. TRUE when found; *kindok
// tells whether the one found by id is of the kind.
static BOOL FindRelation(const char *relsfile, const char *id, const char *kind, char *target,
                         uint32 size, BOOL *kindok, BOOL *readable)
{
    char tag[XML_BUFSIZE], value[XML_BUFSIZE];
    BOOL trunc = FALSE, complete = FALSE, found = FALSE, more = TRUE;
    XMLFile *fp = OpenPart(relsfile);

    *readable = fp != nullptr;
    if (fp == nullptr)
        return FALSE;
    while (!found &&
           (more = FindXMLSection(fp, "Relationship", sizeof(tag), tag, &trunc, &complete))) {
        if (!TagIs(tag, "Relationship"))
            continue;
        GetSectionParameter("Type=", tag, sizeof(value), value, &trunc);
        BOOL ofkind = TypeIs(value, kind);
        if (id[0] != '\0') {
            GetSectionParameter("Id=", tag, sizeof(value), value, &trunc);
            if (IUtility->Stricmp(value, id) != 0)
                continue;
            *kindok = ofkind;
        } else if (!ofkind) {
            continue;
        }
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
