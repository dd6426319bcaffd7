// The import driver: one workbook unpacked into T:XLS, its first worksheet walked, one
// host cell per cell with content, and the workspace removed again.
#pragma once

#include "host/module.h"
#include "sdk/proto.h"
#include "xml/xml.h"

LONG load(BPTR file, Mappe *mp);

// Cell format handed to CreateTabulonCell.
struct CFNode {
    Node   node;
    uint32 format;     // bits 0-3: font style; bits 8-15: alignment (traced only)
    uint32 fcolor;
    uint32 bcolor;
    BOOL   fc;         // apply fcolor
    BOOL   bc;         // apply bcolor
};

// Member files of the unpacked workbook, by their slot in xmlfiles.
#define XML_PATHSIZE 512
enum { XML_SHEET, XML_STRINGS };
extern char *xmlfiles[15];

// Open modes of OpenXLS; reading is the one there is.
enum { XLS_READ = 1 };

BOOL BuildXLSEnv(BOOL write, BPTR file, char *filename, uint32 size);
void RemoveXLSEnv(void);
// The member in slot fid, open behind its sheetData start tag; NULL when it cannot be had.
XMLFile *OpenXLS(uint8 fid, uint8 oid);
BOOL     CloseXLS(XMLFile *fp);
BOOL CreateTabulonCell(Page *page, uint32 col, uint32 row, CFNode fdata, const char *celldata);
// Finds the first worksheet and the shared strings through the package's relationships and
// fills xmlfiles; FALSE when the workbook lists no worksheet or a part cannot be read.
BOOL FindWorkbookParts(void);
