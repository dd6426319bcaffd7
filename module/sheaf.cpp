// The module's entry: InitModule keeps the host's services and the system interfaces, the
// empty preference entries, and the start-up data every import refreshes first.
#include "module/sheaf.h"

#include <type_traits>

#include "host/module.h"
#include "module/import.h"
#include "xml/xml.h"

ExecIFace      *IExec;
DOSIFace       *IDOS;
UtilityIFace   *IUtility;
LocaleIFace    *ILocale;
IntuitionIFace *IIntuition;
GadToolsIFace  *IGadTools;

APTR *ioBase;
APTR  pool;

ReportErrorA_t      ReportErrorA;
NewPage_t           NewPage;
CalculatePageDPI_t  CalculatePageDPI;
NewCell_t           NewCell;
UpdateCellText_t    UpdateCellText;
SetTableSize_t      SetTableSize;
FindColorPen_t      FindColorPen;
AddPen_t            AddPen;
Coord2String_t      Coord2String;
pixel_t             pixel;
mm_t                mm;
AllocStringLength_t AllocStringLength;
AllocString_t       AllocString;
FreeString_t        FreeString;
ita_t               ita;
ChangeFontInfoA_t   ChangeFontInfoA;
AddName_t           AddName;


extern "C" {
__attribute__((visibility("default"), used)) LONG Version = 1;
extern __attribute__((visibility("default"), used)) const char verstring[] =
    "$VER: sheaf.io 0.12 (23.06.2024)";
}

static char prefs[PREFS_SIZE];

extern "C" __attribute__((visibility("default"))) LONG _start(void)
{
    return 20;
}

LONG save(BPTR, Mappe *)
{
    return 0;
}

// Takes a preferences text; 0 keeps the ones in force when it cannot be taken.
static LONG setPrefs(STRPTR text)
{
    SheetChoice choice;
    const char *given = text != nullptr ? text : "";

    if (IUtility->Strlen(given) >= sizeof(prefs) || !ParsePrefs(given, &choice))
        return 0;
    sheetchoice = choice;
    IUtility->Strlcpy(prefs, given, sizeof(prefs));
    return 1;
}

static STRPTR getPrefs(void)
{
    return prefs;
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
BOOL InitModule(IOType *io, APTR *functable, APTR mainpool, ExecIFace *execIF, DOSIFace *dosIF,
                UtilityIFace *utilIF, LocaleIFace *localeIF, IntuitionIFace *intuiIF,
                GadToolsIFace *gadtIF, APTR, APTR, long)
{
    io->io_Load          = load;
    io->io_Save          = save;
    io->io_SetPrefs      = setPrefs;
    io->io_GetPrefs      = getPrefs;
    io->io_OpenPrefsGUI  = openPrefsGUI;
    io->io_ClosePrefsGUI = closePrefsGUI;

    ioBase     = functable;
    pool       = mainpool;
    IExec      = execIF;
    IDOS       = dosIF;
    IUtility   = utilIF;
    ILocale    = localeIF;
    IIntuition = intuiIF;
    IGadTools  = gadtIF;

    ReportErrorA      = ServiceOf<SVC_ReportErrorA>(functable);
    NewPage           = ServiceOf<SVC_NewPage>(functable);
    CalculatePageDPI  = ServiceOf<SVC_CalculatePageDPI>(functable);
    NewCell           = ServiceOf<SVC_NewCell>(functable);
    UpdateCellText    = ServiceOf<SVC_UpdateCellText>(functable);
    SetTableSize      = ServiceOf<SVC_SetTableSize>(functable);
    FindColorPen      = ServiceOf<SVC_FindColorPen>(functable);
    AddPen            = ServiceOf<SVC_AddPen>(functable);
    Coord2String      = ServiceOf<SVC_Coord2String>(functable);
    pixel             = ServiceOf<SVC_pixel>(functable);
    mm                = ServiceOf<SVC_mm>(functable);
    AllocStringLength = ServiceOf<SVC_AllocStringLength>(functable);
    AllocString       = ServiceOf<SVC_AllocString>(functable);
    FreeString        = ServiceOf<SVC_FreeString>(functable);
    ita               = ServiceOf<SVC_ita>(functable);
    ChangeFontInfoA   = ServiceOf<SVC_ChangeFontInfoA>(functable);
    AddName           = ServiceOf<SVC_AddName>(functable);

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
