// The host's records and its service table, as a file-type module sees them.
// Both the module and the host compile this header; the order of the table is the interface.
#pragma once

#include "sdk/exec.h"
#include "sdk/intuition.h"

struct Mappe;        // the document; the module only hands it back to NewPage
struct FontInfo;     // opaque to the module
struct Name;
struct colorPen;

struct Page {
    Node   pg_Node;
    Mappe *pg_Mappe;
    ULONG  pg_DPI;       // the page's resolution
    ULONG  pg_Cols;
    ULONG  pg_Rows;
};

struct Cell {
    MinNode   c_Node;
    ULONG     c_Col;
    ULONG     c_Row;
    STRPTR    c_Text;
    FontInfo *c_FontInfo;
    ULONG     c_APen;
    ULONG     c_BPen;
    ULONG     c_ReservedPen;
    UBYTE     c_Alignment;
};

struct IOType {
    Node        io_Node;
    MinList     io_Descr;
    STRPTR      io_Filename;
    STRPTR      io_Pattern;
    ULONG       io_BytesUsed;
    char        io_Bytes[32];
    STRPTR      io_OriginalBytes;
    UBYTE       io_Flags;
    BPTR        io_Segment;
    LONG      (*io_Load)(BPTR file, Mappe *mp);
    LONG      (*io_Save)(BPTR file, Mappe *mp);
    LONG      (*io_SetPrefs)(STRPTR prefs);
    STRPTR    (*io_GetPrefs)(void);
    void      (*io_OpenPrefsGUI)(Screen *scr);
    void      (*io_ClosePrefsGUI)(void);
    STRPTR      io_Short;
    STRPTR      io_Prefs;
    STRPTR      io_Suffix;
    UBYTE       io_ReadOver;
};

// Tag for ChangeFontInfoA: the font style bits.
#define FA_Style 0x80000066u

// The service table: 17 entries, in this order.
enum {
    SVC_ReportErrorA,
    SVC_NewPage,
    SVC_CalculatePageDPI,
    SVC_NewCell,
    SVC_UpdateCellText,
    SVC_SetTableSize,
    SVC_FindColorPen,
    SVC_AddPen,
    SVC_Coord2String,
    SVC_pixel,
    SVC_mm,
    SVC_AllocStringLength,
    SVC_AllocString,
    SVC_FreeString,
    SVC_ita,
    SVC_ChangeFontInfoA,
    SVC_AddName,
    SVC_COUNT
};

typedef void      (*ReportErrorA_t)(CONST_STRPTR text, APTR args);
typedef Page     *(*NewPage_t)(Mappe *mp);
typedef void      (*CalculatePageDPI_t)(Page *page);
typedef Cell     *(*NewCell_t)(Page *page, ULONG col, ULONG row);
typedef void      (*UpdateCellText_t)(Page *page, Cell *cell);
typedef void      (*SetTableSize_t)(Page *page, ULONG cols, ULONG rows);
typedef ULONG     (*FindColorPen_t)(UBYTE red, UBYTE green, UBYTE blue);
typedef colorPen *(*AddPen_t)(ULONG rgb, CONST_STRPTR name);
typedef STRPTR    (*Coord2String_t)(ULONG col, ULONG row);
typedef LONG      (*pixel_t)(Page *page, LONG mm, BOOL horizontal);
typedef LONG      (*mm_t)(Page *page, LONG pixel, BOOL horizontal);
typedef STRPTR    (*AllocStringLength_t)(CONST_STRPTR text, ULONG length);
typedef STRPTR    (*AllocString_t)(CONST_STRPTR text);
typedef void      (*FreeString_t)(STRPTR text);
typedef STRPTR    (*ita_t)(double value, LONG comma, UBYTE flags);
typedef FontInfo *(*ChangeFontInfoA_t)(FontInfo *font, ULONG dpi, const TagItem *tags, UBYTE flags);
typedef Name     *(*AddName_t)(Mappe *mp, CONST_STRPTR name, CONST_STRPTR content, UBYTE type,
                               Page *page);

struct ExecIFace;
struct DOSIFace;
struct UtilityIFace;
struct LocaleIFace;

// The module's entry, called once after loading.
typedef BOOL (*InitModule_t)(IOType *io, APTR *functable, APTR mainpool, ExecIFace *execIF,
                             DOSIFace *dosIF, UtilityIFace *utilIF, LocaleIFace *localeIF,
                             IntuitionIFace *intuiIF, GadToolsIFace *gadtIF, APTR mathBase,
                             APTR mathtransBase, long magic);
