// Every module global, listed once: the host's services, the system interfaces, the
// start-up data and the two per-import lists.
#pragma once

#include "host/tabulon.h"
#include "sdk/diskfont.h"
#include "sdk/dos.h"
#include "sdk/exec.h"
#include "sdk/intuition.h"
#include "sdk/locale.h"
#include "sdk/utility.h"

extern ExecIFace      *IExec;
extern DOSIFace       *IDOS;
extern UtilityIFace   *IUtility;
extern LocaleIFace    *ILocale;
extern IntuitionIFace *IIntuition;
extern GadToolsIFace  *IGadTools;

extern APTR *ioBase;    // the host's service table
extern APTR  pool;

extern ReportErrorA_t      ReportErrorA;
extern NewPage_t           NewPage;
extern CalculatePageDPI_t  CalculatePageDPI;
extern NewCell_t           NewCell;
extern UpdateCellText_t    UpdateCellText;
extern SetTableSize_t      SetTableSize;
extern FindColorPen_t      FindColorPen;
extern AddPen_t            AddPen;
extern Coord2String_t      Coord2String;
extern pixel_t             pixel;
extern mm_t                mm;
extern AllocStringLength_t AllocStringLength;
extern AllocString_t       AllocString;
extern FreeString_t        FreeString;
extern ita_t               ita;
extern ChangeFontInfoA_t   ChangeFontInfoA;
extern AddName_t           AddName;

extern ULONG ucsmap[256];   // code point of each 8-bit code of the system's character set

extern List stringlist;     // shared strings of this import, in file order
extern List formulalist;    // shared-formula definitions of this import

extern "C" BOOL InitModule(IOType *io, APTR *functable, APTR mainpool, ExecIFace *execIF,
                           DOSIFace *dosIF, UtilityIFace *utilIF, LocaleIFace *localeIF,
                           IntuitionIFace *intuiIF, GadToolsIFace *gadtIF, APTR mathBase,
                           APTR mathtransBase, long magic);
BOOL GetImportantData(void);
LONG load(BPTR file, Mappe *mp);
LONG save(BPTR file, Mappe *mp);

// Cell format handed to CreateTabulonCell.
struct CFNode {
    Node   node;
    uint32 format;     // bits 0-3: font style; bits 8-15: alignment (traced only)
    uint32 fcolor;
    uint32 bcolor;
    BOOL   fc;         // apply fcolor
    BOOL   bc;         // apply bcolor
};

// Member files of the unpacked workbook: 0 the first worksheet, 1 the shared strings.
#define XML_PATHSIZE 512
extern char *xmlfiles[15];

BOOL BuildXLSEnv(BOOL write, BPTR file, char *filename, uint32 size);
void RemoveXLSEnv(void);
BPTR OpenXLS(uint8 fid, uint8 oid);
BOOL CloseXLS(BPTR fp);
BOOL CreateTabulonCell(Page *page, uint32 col, uint32 row, CFNode fdata, const char *celldata);
// Finds the first worksheet and the shared strings through the package's relationships and
// fills xmlfiles; FALSE when the workbook lists no worksheet.
BOOL FindWorkbookParts(void);
