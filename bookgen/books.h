// The workbooks the project makes itself.
#pragma once

#include "bookgen/bookwriter.h"

namespace bookgen {

std::vector<Member> ExampleBook();
// rows x 10 cells: five numbers, three texts (half of them unique), two formulas.
std::vector<Member> MixedBook(long rows);
// texts unique shared strings, five to a row.
std::vector<Member> StringsBook(long texts);

}  // namespace bookgen
