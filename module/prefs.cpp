// The module's preferences: which sheets an import takes, parsed as the system parses a
// command's arguments.
#include "module/import.h"

// Copies the SHEET value into choice; FALSE when it is empty or does not fit.
static BOOL TakeName(const char *name, SheetChoice *choice)
{
    if (name[0] == '\0' ||
        IUtility->Strlcpy(choice->name, name, sizeof(choice->name)) >= (int32)sizeof(choice->name))
        return FALSE;
    choice->which = SHEETS_NAMED;
    return TRUE;
}

// What ReadArgs gave, into choice: at most one of the three.
static BOOL TakeArgs(const intptr_t *args, SheetChoice *choice)
{
    int n = (args[0] != 0) + (args[1] != 0) + (args[2] != 0);

    if (n > 1)
        return FALSE;
    if (args[0] != 0)
        return TakeName((const char *)args[0], choice);
    if (args[1] != 0)
        choice->which = SHEETS_ALL;
    else if (args[2] != 0)
        choice->which = SHEETS_LIST;
    return TRUE;
}

BOOL ParsePrefs(const char *text, SheetChoice *choice)
{
    char line[PREFS_SIZE + 1];
    intptr_t args[3] = { 0, 0, 0 };
    RDArgs *rda;
    BOOL ok = FALSE;

    IUtility->ClearMem(choice, sizeof(*choice));
    choice->which = SHEETS_FIRST;
    if (text[0] == '\0')
        return TRUE;
    // One line: the parse would stop at a line end and drop the rest unseen.
    for (const uint8 *p = (const uint8 *)text; *p != 0; p++)
        if (*p == '\n' || *p == '\r')
            return FALSE;
    if (IUtility->Strlcpy(line, text, PREFS_SIZE) >= PREFS_SIZE)
        return FALSE;
    IUtility->Strlcat(line, "\n", sizeof(line));

    rda = (RDArgs *)IDOS->AllocDosObjectTags(DOS_RDARGS, TAG_END);
    if (rda == nullptr)
        return FALSE;
    rda->RDA_Source.CS_Buffer = line;
    rda->RDA_Source.CS_Length = (int32)IUtility->Strlen(line);
    rda->RDA_Source.CS_CurChr = 0;
    rda->RDA_Flags = RDAF_NOPROMPT;
    if (IDOS->ReadArgs("SHEET/K,ALL/S,LIST/S", args, rda) != nullptr) {
        ok = TakeArgs(args, choice);
        IDOS->FreeArgs(rda);
    } else {
        IExec->DebugPrintF("Einstellungen \"%s\": Fehler %ld\n", text, (long)IDOS->IoErr());
    }
    IDOS->FreeDosObject(DOS_RDARGS, rda);
    return ok;
}
