// Formula cells through whole imports: shared blocks expanded cell by cell, and uses that
// find no definition keeping their cached value. Conversions are ConvertFormula's suite.
#include <gtest/gtest.h>

#include "tests/support/testing.h"

using testing_support::ImportSheet;
using testing_support::NothingLeft;

namespace {

class GetXMLFormulaTest : public ::testing::Test {
protected:
    void SetUp() override { testing_support::UseStandIn(); }
    void TearDown() override { EXPECT_TRUE(NothingLeft()); }

    // Cells "A1:f" etc. written as <c r="A1"><f ...>text</f><v>cached</v></c>, one row each.
    std::string Import(const std::string &cells)
    {
        auto book = ImportSheet(cells);
        EXPECT_EQ(0, book.rc) << cells;
        return book.cells;
    }
};

std::string Shared(const char *ref, const char *si, const char *text, const char *range)
{
    return std::string("<c r=\"") + ref + "\"><f t=\"shared\" ref=\"" + range + "\" si=\"" + si +
           "\">" + text + "</f><v>0</v></c>";
}

std::string Use(const char *ref, const char *si, const char *cached = "0")
{
    return std::string("<c r=\"") + ref + "\"><f t=\"shared\" si=\"" + si + "\"/><v>" + cached +
           "</v></c>";
}

std::string Row(int r, const std::string &cells)
{
    return "<row r=\"" + std::to_string(r) + "\">" + cells + "</row>";
}

TEST_F(GetXMLFormulaTest, SharedBlocks)
{
    std::string sum = "A9", moved = "A10";
    while (sum.size() < 3000) {
        sum += "+A9";
        moved += "+A10";
    }
    struct { const char *name; std::string sheet, cells; } cases[] = {
        { "down a column",
          Row(1, Shared("B1", "0", "SUM(A1,C$1)*$A1", "B1:B3")) + Row(2, Use("B2", "0")) + Row(3, Use("B3", "0")),
          "B1==SUM(A1;C$1)*$A1|B2==SUM(A2;C$1)*$A2|B3==SUM(A3;C$1)*$A3" },
        { "a block of rows and columns",
          Row(1, Shared("A1", "3", "E1*F$1+$A1", "A1:B2") + Use("B1", "3")) + Row(2, Use("A2", "3") + Use("B2", "3")),
          "A1==E1*F$1+$A1|B1==F1*G$1+$A1|A2==E2*F$1+$A2|B2==F2*G$1+$A2" },
        { "a gap in the block, a range of one cell",
          Row(1, Shared("A1", "0", "B1", "A1:A5") + Shared("C1", "1", "D1", "C1")) + Row(4, Use("A4", "0") + Use("C4", "1")),
          "A1==B1|C1==D1|A4==B4|C4==D4" },
        { "interleaved definitions, si numbers that start elsewhere",
          Row(1, Shared("A1", "7", "X1", "A1:A2") + Shared("B1", "2", "Y1*2", "B1:B2")) +
              Row(2, Use("B2", "2") + Use("A2", "7")),
          "A1==X1|B1==Y1*2|A2==X2|B2==Y2*2" },
        { "a use before its definition, even inside its range, or without one keeps its value",
          Row(1, Use("A1", "4", "12.5") + Use("B1", "x", "3")) + Row(2, Shared("A2", "4", "Z2", "A1:A3")) +
              Row(3, Use("A3", "4")),
          "A1=12.5|B1=3|A2==Z2|A3==Z3" },
        { "blanks of every kind between attributes in any order",
          Row(1, "<c r=\"A1\"><f\tsi=\"0\"\r\nref=\"A1:A3\"\nt=\"shared\">B1</f></c>") +
              Row(2, "<c r=\"A2\"><f\r\nsi=\"0\" t=\"shared\" /><v>1</v></c>") +
              Row(3, "<c r=\"A3\"><f\nt=\"shared\" si=\"0\"/></c>"),
          "A1==B1|A2==B2|A3==B3" },
        { "a writer that repeats the text in every cell",
          Row(1, Shared("A1", "0", "B1", "A1:A2")) + Row(2, "<c r=\"A2\"><f t=\"shared\" si=\"0\">C2</f></c>"),
          "A1==B1|A2==C2" },
        { "si numbers past the index; a later definition of an si counts from its cell on",
          Row(1, Shared("A1", "5", "B1", "A1:A2") + Shared("B1", "1048576", "B1", "B1:B2") +
                     Shared("C1", "2147483647", "D1", "C1:C2")) +
              Row(2, Use("A2", "5") + Use("B2", "1048576") + Use("C2", "2147483647") + Use("D2", "2000000", "7")) +
              Row(3, Shared("A3", "5", "C3", "A3:A4") + Shared("B3", "1048576", "C3", "B3:B4")) +
              Row(4, Use("A4", "5") + Use("B4", "1048576")),
          "A1==B1|B1==B1|C1==D1|A2==B2|B2==B2|C2==D2|D2=7|A3==C3|B3==C3|A4==C4|B4==C4" },
        { "a definition without a usable si is only a formula",
          Row(1, "<c r=\"A1\"><f t=\"shared\" ref=\"A1:A2\">B1</f></c>" + Shared("B1", "-1", "C1", "B1:B2") +
                     Shared("C1", "x", "D1", "C1:C2")) +
              Row(2, Use("B2", "-1", "5") + Use("C2", "x", "6")),
          "A1==B1|B1==C1|C1==D1|B2=5|C2=6" },
        { "long and growing as it moves, yet whole; the walk stays in step",
          Row(1, Shared("B1", "0", sum.c_str(), "B1:B2") + "<c r=\"C1\"><v>2</v></c>") + Row(2, Use("B2", "0")),
          "B1==" + sum + "|C1=2|B2==" + moved },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.cells, Import(c.sheet)) << c.name;
}

}  // namespace
