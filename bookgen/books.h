// The workbooks the project makes itself.
#pragma once

#include "bookgen/bookwriter.h"

namespace bookgen {

std::vector<Member> ExampleBook();
// rows x 10 cells: five numbers, three texts (half of them unique), two formulas.
std::vector<Member> MixedBook(long rows);
// Five sheets in this order: "Übersicht" (a worksheet), "Chart 1" (a chart sheet),
// "Q1 2024" (hidden), "2" (very hidden) and "Data & more", each worksheet with cells that
// name it; the relationships list them in another order. Shared strings, and a shared
// formula of si 0 on two sheets with different texts.
std::vector<Member> SheetsBook();
// texts unique shared strings, five to a row.
std::vector<Member> StringsBook(long texts);

// definitions shared formulas of si firstSi on, then uses of the first, one a row.
std::vector<Member> SharedFormulaBook(long definitions, long uses, unsigned long firstSi);
// sheets sheets whose relationship ids the workbook's relationships do not hold, beside as
// many chart-sheet relationships, and last a worksheet.
std::vector<Member> UnknownSheetsBook(long sheets);
// A worksheet in UTF-16 with one cell and then spaces ideographic spaces.
std::vector<Member> WideBook(long spaces);

}  // namespace bookgen
