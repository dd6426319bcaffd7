// The host's records, as a file-type module sees them: its module record, pages and cells.
// Both the module and the host compile this header.
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
