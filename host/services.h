// The host's service table, as both the host and a file-type module compile it: 17 entries
// whose order is the interface.
#pragma once

#include "host/records.h"

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

// The type of entry n, so that both sides cast through it: a host function or a module
// global of another signature does not compile.
template <int N> struct Service;
#define SHEAF_SERVICE(name) \
    template <> struct Service<SVC_##name> { typedef name##_t type; }
SHEAF_SERVICE(ReportErrorA);
SHEAF_SERVICE(NewPage);
SHEAF_SERVICE(CalculatePageDPI);
SHEAF_SERVICE(NewCell);
SHEAF_SERVICE(UpdateCellText);
SHEAF_SERVICE(SetTableSize);
SHEAF_SERVICE(FindColorPen);
SHEAF_SERVICE(AddPen);
SHEAF_SERVICE(Coord2String);
SHEAF_SERVICE(pixel);
SHEAF_SERVICE(mm);
SHEAF_SERVICE(AllocStringLength);
SHEAF_SERVICE(AllocString);
SHEAF_SERVICE(FreeString);
SHEAF_SERVICE(ita);
SHEAF_SERVICE(ChangeFontInfoA);
SHEAF_SERVICE(AddName);
#undef SHEAF_SERVICE

// The host fills its table slot by slot with SetService<SVC_x>(table, function), the module
// reads it with ServiceOf<SVC_x>(table): each slot is checked against its own type.
template <int N> inline void SetService(APTR *table, typename Service<N>::type function)
{
    table[N] = (APTR)function;
}
template <int N> inline typename Service<N>::type ServiceOf(APTR *table)
{
    return (typename Service<N>::type)table[N];
}

struct ExecIFace;
struct DOSIFace;
struct UtilityIFace;
struct LocaleIFace;

// The module's entry, called once after loading.
typedef BOOL (*InitModule_t)(IOType *io, APTR *functable, APTR mainpool, ExecIFace *execIF,
                             DOSIFace *dosIF, UtilityIFace *utilIF, LocaleIFace *localeIF,
                             IntuitionIFace *intuiIF, GadToolsIFace *gadtIF, APTR mathBase,
                             APTR mathtransBase, long magic);
