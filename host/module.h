// What a file-type module keeps of its host: every entry of the service table as a global
// of the same name, which the module's InitModule sets. Module code only.
#pragma once

#include "host/services.h"

extern APTR *ioBase;    // the service table itself
extern APTR  pool;      // the host's memory pool

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
