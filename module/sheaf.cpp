// The module's entry: InitModule keeps the host's services and the system interfaces, the
// empty preference entries, and the start-up data every import refreshes first.
#include "module/sheaf.h"

#include <type_traits>

#include "host/module.h"
#include "module/import.h"
#include "xml/xml.h"

ExecIFace    *IExec;
DOSIFace     *IDOS;
UtilityIFace *IUtility;
LocaleIFace  *ILocale;

NewPage_t         NewPage;
NewCell_t         NewCell;
AllocString_t     AllocString;
ChangeFontInfoA_t ChangeFontInfoA;

extern "C" {
__attribute__((visibility("default"), used)) LONG Version = 1;
extern __attribute__((visibility("default"), used)) const char verstring[] =
    "$VER: sheaf.io 0.12 (23.06.2024)";
}

Settings settings;

extern "C" __attribute__((visibility("default"))) LONG _start(void)
{
    return RETURN_FAIL;
}

// The module writes no workbook: a save that claimed success would lose the user's work.
LONG save(BPTR, Mappe *)
{
    return RETURN_FAIL;
}

// Takes a preferences text; 0 keeps the ones in force when it cannot be taken.
static LONG setPrefs(STRPTR text)
{
    SheetChoice choice;
    const char *given = text != nullptr ? text : "";

    if (IUtility->Strlen(given) >= sizeof(settings.prefs) || !ParsePrefs(given, &choice))
        return 0;
    settings.sheetchoice = choice;
    IUtility->Strlcpy(settings.prefs, given, sizeof(settings.prefs));
    return 1;
}

static STRPTR getPrefs(void)
{
    return settings.prefs;
}

static void openPrefsGUI(Screen *)
{
}

static void closePrefsGUI(void)
{
}

// The host calls the entry through this type: a changed signature must not compile.
static_assert(std::is_same_v<decltype(&InitModule), InitModule_t>);

extern "C" __attribute__((visibility("default")))
BOOL InitModule(IOType *io, APTR *functable, APTR, ExecIFace *execIF, DOSIFace *dosIF,
                UtilityIFace *utilIF, LocaleIFace *localeIF, IntuitionIFace *, GadToolsIFace *,
                APTR, APTR, long)
{
    io->io_Load          = load;
    io->io_Save          = save;
    io->io_SetPrefs      = setPrefs;
    io->io_GetPrefs      = getPrefs;
    io->io_OpenPrefsGUI  = openPrefsGUI;
    io->io_ClosePrefsGUI = closePrefsGUI;

    IExec    = execIF;
    IDOS     = dosIF;
    IUtility = utilIF;
    ILocale  = localeIF;

    // The rest of the table, the pool, intuition and gadtools are not called.
    NewPage         = ServiceOf<SVC_NewPage>(functable);
    NewCell         = ServiceOf<SVC_NewCell>(functable);
    AllocString     = ServiceOf<SVC_AllocString>(functable);
    ChangeFontInfoA = ServiceOf<SVC_ChangeFontInfoA>(functable);

    setPrefs(io->io_Prefs);
    return TRUE;
}

// Checks the system and refreshes ucsmap; FALSE when the import cannot go on.
BOOL GetImportantData(void)
{
    BOOL result = FALSE;
    Library *utilityBase, *dosBase, *diskfontBase;
    DiskfontIFace *IDiskfont = nullptr;
    Locale *locale = nullptr;
    uintptr_t map;

    IExec->DebugPrintF("GetImportantData\n");
    utilityBase = IExec->OpenLibrary("utility.library", 54);
    if (utilityBase == nullptr) {
        IExec->DebugPrintF("No AOS4.1FE\n");
        return FALSE;
    }
    IExec->CloseLibrary(utilityBase);
    // The commands run with no streams of their own: dos opens NIL: for them from 53.65.
    dosBase = IExec->OpenLibrary("dos.library", 53);
    if (dosBase == nullptr || (dosBase->lib_Version == 53 && dosBase->lib_Revision < 65)) {
        IExec->DebugPrintF("No AOS4.1FE\n");
        if (dosBase != nullptr)
            IExec->CloseLibrary(dosBase);
        return FALSE;
    }
    IExec->CloseLibrary(dosBase);

    diskfontBase = IExec->OpenLibrary("diskfont.library", 50);
    if (diskfontBase == nullptr)
        return FALSE;
    IDiskfont = (DiskfontIFace *)IExec->GetInterface(diskfontBase, "main", 1, nullptr);
    if (IDiskfont == nullptr)
        goto exit;
    locale = ILocale->OpenLocale(nullptr);
    if (locale == nullptr)
        goto exit;

    map = IDiskfont->ObtainCharsetInfo(DFCS_NUMBER, locale->loc_CodeSet, DFCS_MAPTABLE);
    IExec->DebugPrintF("GetImportantData: 0x%08lX\n", (unsigned long)map);
    if (map != 0) {
        SetCharsetMap((const ULONG *)map);
        result = TRUE;
    }

exit:
    if (locale != nullptr)
        ILocale->CloseLocale(locale);
    if (IDiskfont != nullptr)
        IExec->DropInterface((Interface *)IDiskfont);
    IExec->CloseLibrary(diskfontBase);
    return result;
}
