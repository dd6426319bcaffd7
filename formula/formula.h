// Formula conversion: from the workbook's formula text to the host's formula language, with
// shared formulas expanded. Texts live in XML_BUFSIZE buffers.
#pragma once

#include "sdk/dos.h"
#include "sdk/exec.h"
#include "xml/xml.h"

// --- extract.cpp

// A stored definition, in the import's pool; ln_Name holds its text, references decoded,
// right behind it.
struct SFNode {
    Node   node;
    uint32 scol, srow;      // the defining cell
    uint32 ecol, erow;      // the last cell of its range
    uint32 si;
    // Past the index: the first definition of an si is a node of a radix tree on the bits
    // of si, and points at the latest one.
    SFNode *child[2];
    int32   bit;            // the bit it tests, 0 the highest
    SFNode *latest;
};

// What the formulas of one import keep: the shared-formula definitions in file order, found
// by their si through an index or a tree, and the text of the formula at hand.
struct SharedFormulas {
    List         formulalist;
    APTR         pool;               // the import's: the definitions go back with it
    PointerIndex index;              // the definition of si at slot si
    SFNode       root;               // the tree's head: si 0, never one past the index
    char         cell[CELLNAME_MAX]; // the cell being read, for trace lines
};
// Starts the empty tables of an import whose definitions go into pool.
void BeginSharedFormulas(SharedFormulas *sf, APTR pool);
// Gives back what the tables hold outside the pool, and empties them.
void EndSharedFormulas(SharedFormulas *sf);

// What the f start tag of a formula says: whether it is shared, and its ref and si values
// with their quotes ("" when missing; a value too long for its room counts as none).
struct FormulaTag {
    BOOL shared;
    char ref[64];     // a range of the sheet
    char si[16];      // an si number
};

// The formula of the cell at (row, col), whose f element holds text (references decoded,
// UTF-8) and whose start tag says ft, in the host's language and 8-bit charset; "" when
// the cell has no formula of its own (its value then counts). A shared definition is kept
// for the cells after it. data holds size bytes (CELL_BUFSIZE keeps every formula whole).
// FALSE when memory ran out.
BOOL CellFormula(SharedFormulas *sf, const char *text, const FormulaTag *ft, char *data,
                 uint32 size, uint32 row, uint32 col);

// --- formula.cpp

// The text of an f element (entities decoded, UTF-8) in the host's language, with every
// relative reference moved by drow rows and dcol columns: "=" first, "!=", function codes,
// decimal percentages, ";" between arguments (array constants keep theirs). Output stays
// UTF-8. data holds size bytes; FALSE when the result had to be cut to fit.
// cell names the formula's cell in trace lines.
BOOL ConvertFormula(const char *text, char *data, uint32 size, int32 drow, int32 dcol,
                    const char *cell = "");

// --- cellref.cpp

// Reads a cell name ("B3", with or without quotes; quotes are removed in place) into *row
// and *col; each is 0 where the name has none that fits a sheet.
void GetRowColumnNumber(char *cellname, uint32 *row, uint32 *col);
// As GetRowColumnNumber over the len bytes at name, which stay as they are: double quotes
// are passed over wherever they stand.
void ReadCellName(const char *name, uint32 len, uint32 *row, uint32 *col);
// Writes the cell name of (row, col) into cellname (at least 16 bytes): letters up to XFD
// and beyond, the row in full decimal.
void SetRowColumnNumber(char *cellname, uint32 row, uint32 col);
// Writes num in decimal, no leading zeros, 0 as "0", into str (size bytes, NUL included,
// at least one). Returns the number of digits written; a uint32 needs 10 and the NUL.
uint32 ULongToStr(uint32 num, char *str, uint32 size);

// --- functions.cpp

// Rewrites, in place, every function name of the table that stands before "(" into its
// three-letter code.
void TranslateFormula(char *formula);

// Writes the workbook's own MOD, ASC and CSC calls in data (size bytes), which
// TranslateFormula left prefixed or in lower case, as expressions in the host's functions:
// MOD(n;d) as ((n)-(d)*INT((n)/(d))), CSC(x) as (1/SIN(x)), ASC(t) as (t). A call with
// another number of arguments, or whose expansion does not fit, keeps its name behind
// "_xlfn." and a trace line names the cell. FALSE when the text had to be cut to fit.
BOOL ExpandFunctions(char *data, uint32 size, const char *cell);

// --- percent.cpp

// Every percent of data (size bytes) at once, in one pass, into a decimal number or a
// division by 100; percents inside string literals stay. FALSE when the text had to be cut
// to fit, or size is 0.
BOOL ConvertProzent(char *data, uint32 size);
