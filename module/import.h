// The import driver: one workbook unpacked into T:XLS, its first worksheet walked, one
// host cell per cell with content, and the workspace removed again.
#pragma once

#include "formula/formula.h"
#include "host/module.h"
#include "sdk/proto.h"
#include "xml/xml.h"

LONG load(BPTR file, Mappe *mp);

// Cell format handed to CreateTabulonCell; a cell keeps the pens the host gives it.
struct CFNode {
    Node   node;
    uint32 format;     // bits 0-3: font style; bits 8-15: alignment (traced only)
};

// Member files of the unpacked workbook, by their slot in xmlfiles.
enum { XML_SHEET, XML_STRINGS, XML_FILES };

// Open modes of OpenXLS; reading is the one there is.
enum { XLS_READ = 1 };

BOOL BuildXLSEnv(BOOL write, BPTR file, char *filename, uint32 size);
void RemoveXLSEnv(void);
BOOL CreateTabulonCell(Page *page, uint32 col, uint32 row, CFNode fdata, const char *celldata);

// Which sheets an import takes, from the preferences: the first worksheet (none given), one
// by name or number, every worksheet, or a list of all sheets.
enum { SHEETS_FIRST, SHEETS_NAMED, SHEETS_ALL, SHEETS_LIST };
#define SHEETNAME_MAX 31      // characters a sheet name may have
#define PREFS_SIZE    40      // "SHEET=" and a quoted name of SHEETNAME_MAX characters
struct SheetChoice {
    uint8 which;
    char  name[PREFS_SIZE];   // of SHEETS_NAMED, in the system's charset
};
// Takes a preferences text ("SHEET=name", "SHEET=n", "ALL", "LIST" or nothing) into choice;
// FALSE for anything else, choice then undefined.
BOOL ParsePrefs(const char *text, SheetChoice *choice);
// The preferences in force from InitModule to the module's end: the text the host gave and
// the choice it makes, which setPrefs sets together.
struct Settings {
    SheetChoice sheetchoice;
    char        prefs[PREFS_SIZE];
};
extern Settings settings;

// One sheet of the workbook, as its sheet element and its relationship give it.
enum { SHEET_WORKSHEET, SHEET_CHART, SHEET_DIALOG, SHEET_MACRO, SHEET_OTHER };
enum { STATE_VISIBLE, STATE_HIDDEN, STATE_VERYHIDDEN };
struct SheetInfo {
    char   name[XML_BUFSIZE];        // in the system's charset
    uint8  kind, state;
    uint32 position;                 // among the worksheets that can be read, from 1; else 0
    char   member[XML_PATHSIZE];     // a worksheet's member, below the workspace
};
// The relationships of one file by id, read once: each sheet finds its own by a search
// that does not grow with their number. Equal ids keep their order in the file.
struct RelationTable {
    char         file[XML_PATHSIZE];
    BOOL         readable;
    uint32       count;
    PointerIndex sorted;             // Relation pointers
};
// The sheets of the workbook, read one by one from its workbook part.
struct SheetList {
    char     xmlfiles[XML_FILES][XML_PATHSIZE];   // the members to read, in the workspace
    XMLFile *workbook;               // NULL: no part to go by, one worksheet of the usual name
    char     part[XML_PATHSIZE];     // the workbook part's member
    char     rels[XML_PATHSIZE];     // its relationships file
    uint32   worksheets;             // counted so far
    BOOL     done;                   // the list is at its end
    BOOL     failed;                 // a small file could not be read: the import fails
    RelationTable relations;         // of the file read last
};
// Finds the workbook part and the shared strings (into list->xmlfiles) through the
// package's relationships; FALSE when a part that is there cannot be read.
BOOL OpenSheetList(SheetList *list);
// Sets slot fid of list->xmlfiles to a member below the workspace; FALSE when it is too long.
BOOL SetMember(SheetList *list, uint8 fid, const char *member);
// The next sheet in the workbook's order; FALSE at the end (list->failed: at an error).
BOOL NextSheet(SheetList *list, SheetInfo *info);
void CloseSheetList(SheetList *list);
// TRUE when two sheet names in the system's charset are the same but for letter case.
BOOL SameSheetName(const char *a, const char *b);

// The sheets of one import: what the preferences chose, and the workbook's list.
struct SheetImport {
    SheetChoice choice;
    SheetList   list;
    SheetInfo   sheet;          // the one at hand
    SheetInfo   numbered;       // SHEET=n: the n-th worksheet, should no name match
};

// Everything one import holds, from the start of load to its teardown: made once per load,
// on the heap, and handed to the routines that use it.
struct ImportState {
    APTR           pool;         // the nodes and texts of both tables
    SharedStrings  strings;
    SharedFormulas formulas;     // of the sheet at hand
    SheetImport    sheets;
    BOOL           sheetdata;    // OpenXLS found the sheet's data
    BOOL           sheetempty;   // and it is the empty <sheetData/>
    TextBuffers    buffers;
    char           formula[FORMULA_BUFSIZE];   // an f element's text as written, decoded
};

// The formula of the cell at (row, col) whose f start tag (ftag, complete when it ends in
// "/") was just consumed, in the host's language and 8-bit charset; "" when the cell has no
// formula of its own (its value then counts). Reads up to the f element's end and no
// further. data holds size bytes (CELL_BUFSIZE keeps every formula whole). FALSE when memory
// ran out.
BOOL GetXMLFormula(ImportState *imp, XMLFile *fpr, const char *ftag, BOOL complete,
                   char *data, uint32 size, uint32 row, uint32 col);

// The member in slot fid, open behind its sheetData start tag (imp->sheetdata, sheetempty
// tell what it found); NULL when it cannot be had.
XMLFile *OpenXLS(ImportState *imp, uint8 fid, uint8 oid);
BOOL     CloseXLS(XMLFile *fp);
